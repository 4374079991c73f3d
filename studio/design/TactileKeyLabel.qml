import QtQuick
import Pelorin.Design

// A tactile button's label, moving with its key.
PressMotion {
    id: holder

    property alias text: label.text
    property alias font: label.font
    property alias color: label.color

    implicitWidth: label.implicitWidth
    implicitHeight: label.implicitHeight

    Text {
        id: label
        objectName: "label"
        anchors.centerIn: parent
        width: Math.min(implicitWidth, holder.width)
        horizontalAlignment: Text.AlignHCenter
        elide: Text.ElideRight
    }
}
