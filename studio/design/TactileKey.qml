import QtQuick
import Pelorin.Design
import Qt5Compat.GraphicalEffects

// The body of a tactile button: a lit key over its shadow. Pressed, the sheen dims and the shadow
// tightens, and the key sinks with the press motion.
PressMotion {
    id: key

    property color tint: Theme.accent
    property bool prominent: false
    // The button has the keyboard's focus.
    property bool focused: false

    implicitWidth: 44
    implicitHeight: 44

    DropShadow {
        anchors.fill: face
        source: face
        transparentBorder: true
        color: Theme.withAlpha(key.prominent ? key.tint : Theme.canvas, key.pressed ? 0.15 : 0.35)
        radius: key.pressed ? 2 : 8
        samples: 17
        verticalOffset: key.pressed ? 1 : 4
    }

    Rectangle {
        id: face
        anchors.fill: parent
        radius: Theme.small
        color: key.prominent ? key.tint : Qt.rgba(0.19, 0.19, 0.19, 1)
    }

    Rectangle {
        objectName: "sheen"
        anchors.fill: parent
        radius: Theme.small
        gradient: Gradient {
            GradientStop {
                position: 0
                color: Qt.rgba(1, 1, 1, key.pressed ? 0.06 : 0.22)
            }
            GradientStop {
                position: 0.5
                color: Qt.rgba(1, 1, 1, 0)
            }
        }
    }

    Rectangle {
        anchors.fill: parent
        anchors.margins: 0.5
        radius: Theme.small - 0.5
        color: "transparent"
        border.width: 1
        border.color: Qt.rgba(1, 1, 1, 0.14)
    }

    FocusRing {
        objectName: "focusRing"
        shown: key.focused
    }
}
