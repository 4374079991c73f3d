import QtQuick
import QtQuick.Controls.Basic
import Pelorin.Design

// The studio's push button: a lit, slightly raised key that sinks when pressed, with an optional
// symbol before its text.
Button {
    id: control

    property color tint: Theme.accent
    property bool prominent: false
    property string systemImage: ""

    font.weight: Font.DemiBold
    font.pixelSize: Theme.bodySize
    leftPadding: 18
    rightPadding: 18
    topPadding: 11
    bottomPadding: 11
    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: Math.max(44, implicitContentHeight + topPadding + bottomPadding)
    opacity: enabled ? 1 : 0.4
    Accessible.name: text

    contentItem: TactileKeyLabel {
        pressed: control.down
        text: control.text
        font: control.font
        systemImage: control.systemImage
        // Dark text on the bright tints keeps its contrast; light text on the grey key.
        color: control.prominent ? Qt.rgba(0, 0, 0, 0.86) : Theme.textPrimary
    }

    background: TactileKey {
        pressed: control.down
        tint: control.tint
        prominent: control.prominent
        focused: control.visualFocus
    }
}
