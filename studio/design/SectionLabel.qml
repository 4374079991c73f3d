import QtQuick
import Pelorin.Design

// The small capitals heading over a group of rows.
Text {
    font.capitalization: Font.AllUppercase
    font.bold: true
    font.letterSpacing: 1.3
    font.pixelSize: 11
    color: Theme.textSecondary
    Accessible.role: Accessible.Heading
    Accessible.name: text
}
