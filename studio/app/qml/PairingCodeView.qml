import QtQuick
import Pelorin.Design

// The six-digit pairing code in two groups of three, selectable and copyable.
TextEdit {
    id: root

    property string code

    text: code.slice(0, 3) + " " + code.slice(3)
    readOnly: true
    selectByMouse: true
    font.family: "monospace"
    font.bold: true
    font.pixelSize: 34
    color: Theme.accent
    selectionColor: Theme.withAlpha(Theme.accent, 0.35)
    Accessible.role: Accessible.StaticText
    // Spoken digit by digit.
    Accessible.name: "Pairing code " + code.split("").join(" ")
}
