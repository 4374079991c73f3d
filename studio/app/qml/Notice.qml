import QtQuick
import QtQuick.Layouts
import Pelorin.Design

// A symbol and a wrapped line of text, as the detail's messages and notes show them.
RowLayout {
    property string systemImage
    property color tint: Theme.accent
    property string text

    Layout.fillWidth: true
    spacing: 8

    SymbolIcon {
        Layout.alignment: Qt.AlignTop
        Layout.topMargin: 1
        symbol: parent.systemImage
        color: parent.tint
        Layout.preferredWidth: 17
        Layout.preferredHeight: 17
    }
    Text {
        Layout.fillWidth: true
        text: parent.text
        color: Theme.textPrimary
        font.pixelSize: Theme.bodySize
        wrapMode: Text.WordWrap
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }
}
