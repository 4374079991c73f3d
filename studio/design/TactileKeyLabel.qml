import QtQuick
import Pelorin.Design

// A tactile button's label, moving with its key.
PressMotion {
    id: holder

    property alias text: label.text
    property alias font: label.font
    property alias color: label.color
    property string systemImage: ""

    readonly property real iconSide: label.font.pixelSize + 2
    readonly property real iconSpace: systemImage !== "" ? iconSide + 7 : 0

    implicitWidth: label.implicitWidth + iconSpace
    implicitHeight: label.implicitHeight

    Row {
        anchors.centerIn: parent
        spacing: 7

        SymbolIcon {
            visible: holder.systemImage !== ""
            symbol: holder.systemImage
            color: label.color
            width: holder.iconSide
            height: holder.iconSide
            anchors.verticalCenter: parent.verticalCenter
        }

        Text {
            id: label
            objectName: "label"
            width: Math.min(implicitWidth, holder.width - holder.iconSpace)
            horizontalAlignment: Text.AlignHCenter
            elide: Text.ElideRight
        }
    }
}
