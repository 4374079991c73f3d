import QtQuick
import QtQuick.Controls.Basic
import Pelorin.Design

// A button that reads as a link, with its help shown on hover.
AbstractButton {
    id: control

    property string help

    implicitWidth: contentItem.implicitWidth + 8
    implicitHeight: contentItem.implicitHeight + 6
    Accessible.role: Accessible.Button
    Accessible.name: text
    Accessible.description: help
    hoverEnabled: true
    focusPolicy: Qt.StrongFocus

    ToolTip.visible: help !== "" && hovered
    ToolTip.text: help
    ToolTip.delay: 600

    background: Item {
        FocusRing {
            shown: control.visualFocus
            shapeRadius: 4
        }
    }

    contentItem: Text {
        text: control.text
        color: control.down ? Theme.withAlpha(Theme.accent, 0.7) : Theme.accent
        font.pixelSize: Theme.bodySize
        font.underline: control.hovered || control.visualFocus
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }
}
