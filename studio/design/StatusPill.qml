import QtQuick
import Pelorin.Design

// A short state in a tinted capsule, with an optional symbol before the text.
Rectangle {
    id: pill

    property string text
    property string systemImage: ""
    property color tint: Theme.accent

    implicitWidth: row.implicitWidth + 18
    implicitHeight: row.implicitHeight + 8
    radius: height / 2
    color: Theme.withAlpha(tint, 0.11)
    border.width: 1
    border.color: Theme.withAlpha(tint, 0.20)
    Accessible.role: Accessible.StaticText
    Accessible.name: text

    Row {
        id: row
        anchors.centerIn: parent
        spacing: 5

        SymbolIcon {
            visible: pill.systemImage !== ""
            symbol: pill.systemImage
            color: pill.tint
            width: label.font.pixelSize + 1
            height: width
            anchors.verticalCenter: parent.verticalCenter
        }

        Text {
            id: label
            text: pill.text
            color: pill.tint
            font.weight: Font.DemiBold
            font.pixelSize: Theme.captionSize
            anchors.verticalCenter: parent.verticalCenter
        }
    }
}
