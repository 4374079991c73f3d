import QtQuick
import QtQuick.Layouts
import Pelorin.Design
import Pelorin.Studio

// How to connect a phone: the server's state, the QR code, the code, the fingerprint and the
// phones connected now.
ColumnLayout {
    id: root

    spacing: Theme.small

    RowLayout {
        Layout.fillWidth: true

        StatusPill {
            objectName: "serverState"
            text: Studio.serverStateText
            systemImage: "wifi"
            tint: Studio.serverState === "listening" ? Theme.success
                : Studio.serverState === "failed" ? Theme.danger : Theme.textSecondary
        }

        Item {
            Layout.fillWidth: true
        }

        LinkButton {
            objectName: "newCode"
            text: "New Code"
            help: "Disconnects every phone. They must enter the new code."
            onClicked: Studio.newPairingCode()
        }
    }

    Text {
        objectName: "serverNote"
        Layout.fillWidth: true
        visible: text !== ""
        text: Studio.serverNote
        wrapMode: Text.WordWrap
        color: Theme.textSecondary
        font.pixelSize: Theme.captionSize
    }

    Rectangle {
        Layout.fillWidth: true
        implicitHeight: 1
        color: Theme.hairline
    }

    SectionLabel {
        text: "Pair an iPhone"
    }

    Text {
        Layout.fillWidth: true
        text: "Scan with the iPhone camera, or tap Scan QR Code in Pelorin."
        wrapMode: Text.WordWrap
        color: Theme.textSecondary
        font.pixelSize: 13
    }

    PairingQRView {
        Layout.alignment: Qt.AlignHCenter
        Layout.topMargin: 4
        Layout.bottomMargin: 8
        side: 200
        link: Studio.pairingLink
    }

    Text {
        Layout.fillWidth: true
        text: "Or choose this computer on the iPhone and type the code:"
        wrapMode: Text.WordWrap
        color: Theme.textPrimary
        font.pixelSize: Theme.bodySize
    }

    PairingCodeView {
        Layout.alignment: Qt.AlignHCenter
        code: Studio.pairingCode
    }

    FingerprintLine {
        Layout.fillWidth: true
        fingerprint: Studio.fingerprint
    }

    SectionLabel {
        Layout.topMargin: 6
        text: "Connected"
    }

    Repeater {
        model: Studio.devices
        delegate: Row {
            required property string modelData
            spacing: 8
            SymbolIcon {
                symbol: "iphone"
                color: Theme.textPrimary
                width: 16
                height: 16
                anchors.verticalCenter: parent.verticalCenter
            }
            Text {
                text: parent.modelData
                color: Theme.textPrimary
                font.pixelSize: Theme.bodySize
                font.weight: Font.Medium
            }
        }
    }

    Text {
        visible: Studio.devices.length === 0
        text: "No iPhone connected"
        color: Theme.textSecondary
        font.pixelSize: Theme.bodySize
    }
}
