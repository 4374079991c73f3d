import QtQuick
import QtQuick.Layouts
import Pelorin.Design

// The design kit's pieces side by side, as the window's first page shows them.
Panel {
    id: gallery

    ColumnLayout {
        anchors.fill: parent
        spacing: 14

        SectionLabel {
            text: "Design kit"
        }

        Flow {
            Layout.fillWidth: true
            spacing: 8

            StatusPill {
                text: "Finished"
                systemImage: "checkmark.seal.fill"
                tint: Theme.statusTint(true, false, false)
            }
            StatusPill {
                text: "Building"
                systemImage: "gearshape.2.fill"
                tint: Theme.statusTint(false, false, true)
            }
            StatusPill {
                text: "Failed"
                systemImage: "exclamationmark.triangle.fill"
                tint: Theme.statusTint(false, true, false)
            }
            StatusPill {
                text: "Ready"
                tint: Theme.statusTint(false, false, false)
            }
        }

        Row {
            spacing: 18

            Repeater {
                model: [0, 0.42, 1]
                delegate: Column {
                    id: cell
                    required property real modelData
                    spacing: 6
                    ProgressRing {
                        anchors.horizontalCenter: cell.horizontalCenter
                        fraction: cell.modelData
                        tint: cell.modelData >= 1 ? Theme.success : Theme.accent
                    }
                    Text {
                        anchors.horizontalCenter: cell.horizontalCenter
                        text: Formatters.percent(cell.modelData)
                        color: Theme.textSecondary
                        font.pixelSize: Theme.captionSize
                    }
                }
            }

            Column {
                spacing: 4
                anchors.verticalCenter: parent.verticalCenter
                Text {
                    text: Formatters.duration(3900) + " left"
                    color: Theme.textPrimary
                    font.pixelSize: Theme.bodySize
                }
                Text {
                    text: Formatters.bytes(1234567890) + " model"
                    color: Theme.textSecondary
                    font.pixelSize: Theme.captionSize
                }
            }
        }

        Flow {
            Layout.fillWidth: true
            spacing: 10

            TactileButton {
                text: "Start"
                prominent: true
            }
            TactileButton {
                text: "Stop"
            }
            TactileButton {
                text: "Delete"
                prominent: true
                tint: Theme.danger
            }
            TactileButton {
                text: "Disabled"
                enabled: false
            }
        }

        Flow {
            Layout.fillWidth: true
            spacing: 10

            Repeater {
                model: ["folder.badge.plus", "photo.stack", "cube.transparent", "iphone",
                    "iphone.radiowaves.left.and.right", "wifi", "qrcode", "camera.aperture",
                    "play.fill", "stop.circle.fill", "arrow.down.circle", "info.circle.fill",
                    "questionmark.circle", "circle.dashed", "circle.grid.3x3.fill", "globe",
                    "envelope"]
                delegate: SymbolIcon {
                    required property string modelData
                    symbol: modelData
                    color: Theme.textSecondary
                    width: 20
                    height: 20
                }
            }
        }
    }
}
