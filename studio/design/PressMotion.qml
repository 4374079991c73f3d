import QtQuick
import Pelorin.Design

// Content that sinks a little while pressed: scaled about its centre and moved 1.5 px down, with a
// critically damped spring of `duration` seconds. With reduced motion it stays put.
Item {
    id: motion

    property bool pressed: false
    property real scale: 1.0
    property real duration: 0.18

    readonly property bool still: Motion.reduced
    property real currentScale: pressed && !still ? scale : 1
    property real currentShift: pressed && !still ? 1.5 : 0

    // A spring with damping 1 does not overshoot; a cubic ease-out follows its curve closely.
    Behavior on currentScale {
        enabled: !motion.still
        NumberAnimation {
            duration: motion.duration * 1000
            easing.type: Easing.OutCubic
        }
    }
    Behavior on currentShift {
        enabled: !motion.still
        NumberAnimation {
            duration: motion.duration * 1000
            easing.type: Easing.OutCubic
        }
    }

    transform: [
        Scale {
            origin.x: motion.width / 2
            origin.y: motion.height / 2
            xScale: motion.currentScale
            yScale: motion.currentScale
        },
        Translate {
            y: motion.currentShift
        }
    ]
}
