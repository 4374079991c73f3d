import QtQuick
import QtQuick.Controls.Basic
import Pelorin.Design

// One on/off option of the form.
Switch {
    id: control

    padding: 2
    Accessible.name: text

    indicator: Rectangle {
        x: control.leftPadding
        y: (control.height - height) / 2
        implicitWidth: 36
        implicitHeight: 20
        radius: 10
        color: control.checked ? Theme.accent : Theme.withAlpha(Theme.textPrimary, 0.16)
        border.width: control.visualFocus ? 2 : 0
        border.color: Theme.textPrimary

        Rectangle {
            x: control.checked ? parent.width - width - 2 : 2
            y: 2
            width: 16
            height: 16
            radius: 8
            color: "white"
            Behavior on x {
                NumberAnimation {
                    duration: Motion.reduced ? 0 : 120
                }
            }
        }
    }

    contentItem: Text {
        leftPadding: control.indicator.width + 10
        text: control.text
        color: Theme.textPrimary
        font.pixelSize: 13
        verticalAlignment: Text.AlignVCenter
        wrapMode: Text.WordWrap
    }
}
