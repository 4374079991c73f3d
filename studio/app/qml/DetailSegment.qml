import QtQuick
import QtQuick.Controls.Basic
import Pelorin.Design

// One choice of the segmented detail picker.
AbstractButton {
    id: segment

    property bool chosen

    checkable: true
    checked: chosen
    focusPolicy: Qt.StrongFocus
    implicitWidth: Math.max(84, contentItem.implicitWidth + 24)
    implicitHeight: 32
    Accessible.role: Accessible.RadioButton
    Accessible.name: text
    Accessible.checked: chosen

    background: Rectangle {
        radius: 7
        color: segment.chosen ? Theme.withAlpha(Theme.accent, 0.28)
                              : Theme.withAlpha(Theme.textPrimary, 0.06)
        border.width: segment.visualFocus ? 2 : 1
        border.color: segment.visualFocus ? Theme.accent : Theme.hairline
    }
    contentItem: Text {
        text: segment.text
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        color: segment.chosen ? Theme.textPrimary : Theme.textSecondary
        font.pixelSize: 13
        font.weight: segment.chosen ? Font.DemiBold : Font.Normal
    }
}
