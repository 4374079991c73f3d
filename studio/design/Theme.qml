pragma Singleton
import QtQuick

// The dark palette and the size steps every view of the studio draws with.
QtObject {
    readonly property color canvas: Qt.rgba(0, 0, 0, 1)
    readonly property color background: Qt.rgba(0.07, 0.07, 0.07, 1)
    readonly property color panel: Qt.rgba(0.11, 0.11, 0.11, 1)
    readonly property color hairline: Qt.rgba(1, 1, 1, 0.09)
    readonly property color textPrimary: Qt.rgba(1, 1, 1, 1)
    readonly property color textSecondary: Qt.rgba(1, 1, 1, 0.62)
    readonly property color textTertiary: Qt.rgba(1, 1, 1, 0.40)
    readonly property color accent: Qt.rgba(0.17, 0.72, 0.94, 1)
    readonly property color success: Qt.rgba(0.24, 0.80, 0.47, 1)
    readonly property color warning: Qt.rgba(1.00, 0.70, 0.20, 1)
    readonly property color danger: Qt.rgba(1.00, 0.36, 0.33, 1)

    readonly property real large: 22
    readonly property real medium: 16
    readonly property real small: 12

    // Text sizes in pixels, for the body, captions and titles.
    readonly property int bodySize: 14
    readonly property int captionSize: 12
    readonly property int titleSize: 20

    // A job's colour: failed wins over finished, finished over active work.
    function statusTint(finished: bool, failed: bool, active: bool): color {
        if (failed)
            return danger
        if (finished)
            return success
        if (active)
            return accent
        return textSecondary
    }

    function withAlpha(c: color, alpha: real): color {
        return Qt.rgba(c.r, c.g, c.b, alpha)
    }
}
