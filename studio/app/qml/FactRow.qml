import QtQuick
import Pelorin.Design

// A symbol and a short fact, as in the detail's header.
Row {
    property string systemImage
    property string text

    spacing: 5

    SymbolIcon {
        symbol: parent.systemImage
        color: Theme.textSecondary
        width: 15
        height: 15
        anchors.verticalCenter: parent.verticalCenter
    }
    Text {
        text: parent.text
        color: Theme.textSecondary
        font.pixelSize: 13
        anchors.verticalCenter: parent.verticalCenter
    }
}
