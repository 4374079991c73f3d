import QtQuick
import Pelorin.Design

// The desktop's key fingerprint, for the phone's comparison.
Column {
    property string fingerprint

    spacing: 3

    Text {
        text: "Fingerprint (the phone asks you to compare it)"
        color: Theme.textTertiary
        font.pixelSize: Theme.captionSize
    }

    TextEdit {
        objectName: "fingerprint"
        text: parent.fingerprint
        readOnly: true
        selectByMouse: true
        font.family: "monospace"
        font.weight: Font.Medium
        font.pixelSize: 13
        color: Theme.textSecondary
        selectionColor: Theme.withAlpha(Theme.accent, 0.35)
        Accessible.role: Accessible.StaticText
        Accessible.name: "Fingerprint " + text
    }
}
