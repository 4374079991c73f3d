import QtQuick
import QtQuick.Controls.Basic
import Pelorin.Design

// One format of the Export menu, with its symbol; made for each entry of the job's exports.
MenuItem {
    id: item

    // {kind, label, icon}
    required property var modelData

    text: modelData.label
    implicitWidth: leftPadding + contentItem.implicitWidth + rightPadding + 8
    Accessible.name: text

    contentItem: Row {
        spacing: 8
        SymbolIcon {
            objectName: "exportIcon"
            symbol: item.modelData.icon
            color: item.highlighted ? item.palette.highlightedText : item.palette.text
            width: 16
            height: 16
            anchors.verticalCenter: parent.verticalCenter
        }
        Text {
            text: item.text
            font: item.font
            color: item.highlighted ? item.palette.highlightedText : item.palette.text
            anchors.verticalCenter: parent.verticalCenter
        }
    }
}
