import QtQuick
import Pelorin.Design
import QtQuick.Controls.Basic

// A raised group: the panel grey with a hairline just inside its edge.
Pane {
    padding: Theme.medium

    background: Rectangle {
        color: Theme.panel
        radius: Theme.medium

        Rectangle {
            anchors.fill: parent
            anchors.margins: 0.5
            radius: parent.radius - 0.5
            color: "transparent"
            border.width: 1
            border.color: Theme.hairline
        }
    }
}
