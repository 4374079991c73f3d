import QtQuick
import Pelorin.Design

// The keyboard's mark on a control: an accent outline just outside its shape. Shown from the
// control's visualFocus, so that only the keyboard (never a click) leaves it.
Rectangle {
    property bool shown
    // The corner radius of the shape it goes around.
    property real shapeRadius: Theme.small

    anchors.fill: parent
    anchors.margins: -3
    radius: shapeRadius + 3
    color: "transparent"
    border.width: 2
    border.color: Theme.accent
    visible: shown
}
