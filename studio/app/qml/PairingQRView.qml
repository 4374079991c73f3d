import QtQuick
import Qt5Compat.GraphicalEffects
import Pelorin.Design
import Pelorin.Studio

// The pairing link as a QR code on a white card, its modules kept sharp at any size.
Item {
    id: root

    property string link
    property real side: 200

    readonly property real padding: side * 0.07
    implicitWidth: side + 2 * padding
    implicitHeight: implicitWidth

    DropShadow {
        anchors.fill: card
        source: card
        verticalOffset: 4
        radius: 12
        samples: 25
        color: Theme.withAlpha(Theme.canvas, 0.25)
    }

    Rectangle {
        id: card
        objectName: "qrCard"
        anchors.fill: parent
        radius: 12
        color: "white"
        Accessible.role: Accessible.Graphic
        Accessible.name: "Pairing QR code. Scan it with Pelorin on your iPhone."

        PairingQRCode {
            id: code
            objectName: "qrCode"
            anchors.centerIn: parent
            width: root.side
            height: root.side
            text: root.link
        }

        SymbolIcon {
            anchors.centerIn: parent
            visible: !code.valid
            symbol: "qrcode"
            color: "black"
            width: 60
            height: 60
        }
    }
}
