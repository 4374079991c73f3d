import QtQuick
import Pelorin.Design
import QtQuick.Shapes

// Progress as a ring: a faint full track and the done part from the top, clockwise. At 0 it still
// shows a dot, so a started job never looks idle.
Item {
    id: ring

    property real fraction: 0
    property real lineWidth: 6
    property color tint: Theme.accent

    property real shownFraction: Math.min(1, Math.max(0.001, fraction || 0))
    Behavior on shownFraction {
        NumberAnimation {
            duration: 300
            easing.type: Easing.OutQuad
        }
    }

    implicitWidth: 44
    implicitHeight: 44
    Accessible.role: Accessible.ProgressBar
    Accessible.name: "Progress"
    Accessible.description: Math.floor(Math.min(1, Math.max(0, fraction || 0)) * 100) + " percent"

    Shape {
        id: shape
        anchors.fill: parent
        // Shapes are only smoothed by multisampling.
        layer.enabled: true
        layer.samples: 4

        readonly property real radius: Math.max(0, (Math.min(width, height) - ring.lineWidth) / 2)

        ShapePath {
            strokeColor: Theme.withAlpha(ring.tint, 0.18)
            strokeWidth: ring.lineWidth
            fillColor: "transparent"
            capStyle: ShapePath.FlatCap
            PathAngleArc {
                centerX: shape.width / 2
                centerY: shape.height / 2
                radiusX: shape.radius
                radiusY: shape.radius
                startAngle: -90
                sweepAngle: 360
            }
        }

        ShapePath {
            strokeColor: ring.tint
            strokeWidth: ring.lineWidth
            fillColor: "transparent"
            capStyle: ShapePath.RoundCap
            PathAngleArc {
                centerX: shape.width / 2
                centerY: shape.height / 2
                radiusX: shape.radius
                radiusY: shape.radius
                startAngle: -90
                sweepAngle: 360 * ring.shownFraction
            }
        }
    }
}
