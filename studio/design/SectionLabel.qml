import QtQuick
import Pelorin.Design

// The small capitals heading over a group of rows. Screen readers get it as a heading (AT-SPI's
// heading role); Qt 6.4 gives accessible headings no level, so every section label is a heading
// without one.
Text {
    font.capitalization: Font.AllUppercase
    font.bold: true
    font.letterSpacing: 1.3
    font.pixelSize: 11
    color: Theme.textSecondary
    Accessible.role: Accessible.Heading
    Accessible.name: text
}
