import QtQuick
import QtQuick.Controls.Basic
import Pelorin.Design

// A toolbar button: a symbol and a label, its help on hover and for screen readers.
ToolButton {
    id: control

    property string symbol
    property string help

    hoverEnabled: true
    focusPolicy: Qt.StrongFocus
    ToolTip.visible: hovered
    ToolTip.delay: 600
    ToolTip.text: help
    Accessible.role: Accessible.Button
    Accessible.name: text
    Accessible.description: help

    background: Rectangle {
        implicitHeight: 34
        radius: 8
        color: control.down ? Theme.withAlpha(Theme.textPrimary, 0.14)
             : control.hovered ? Theme.withAlpha(Theme.textPrimary, 0.07) : "transparent"
        FocusRing {
            shown: control.visualFocus
            shapeRadius: 8
        }
    }

    contentItem: Row {
        spacing: 6
        SymbolIcon {
            symbol: control.symbol
            color: Theme.textPrimary
            width: 18
            height: 18
            anchors.verticalCenter: parent.verticalCenter
        }
        Text {
            text: control.text
            color: Theme.textPrimary
            font.pixelSize: Theme.bodySize
            anchors.verticalCenter: parent.verticalCenter
        }
    }
}
