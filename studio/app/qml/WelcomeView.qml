import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Pelorin.Design
import Pelorin.Studio

// The welcome page: the two ways in, the phone or a folder, and the sample set.
Flickable {
    id: root

    signal importRequested(Item from)
    signal trySampleRequested

    contentWidth: width
    contentHeight: column.implicitHeight + 2 * Theme.large
    clip: true
    boundsBehavior: Flickable.StopAtBounds
    ScrollBar.vertical: ScrollBar {}

    ColumnLayout {
        id: column
        x: Theme.large
        y: Theme.large
        width: root.width - 2 * Theme.large
        spacing: Theme.medium

        SymbolIcon {
            Layout.alignment: Qt.AlignHCenter
            symbol: "cube.transparent"
            color: Theme.accent
            Layout.preferredWidth: 54
            Layout.preferredHeight: 54
        }

        Text {
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            text: "Turn photos into 3D models"
            color: Theme.textPrimary
            font.pixelSize: 26
            font.weight: Font.DemiBold
            wrapMode: Text.WordWrap
            Accessible.role: Accessible.Heading
            Accessible.name: text
        }

        Text {
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            text: "Everything is processed on this computer. Nothing is uploaded to the internet."
            color: Theme.textSecondary
            font.pixelSize: Theme.bodySize
            wrapMode: Text.WordWrap
        }

        Row {
            objectName: "unsupported"
            Layout.alignment: Qt.AlignHCenter
            visible: !Studio.photogrammetrySupported
            spacing: 6
            SymbolIcon {
                symbol: "exclamationmark.triangle.fill"
                color: Theme.warning
                width: 16
                height: 16
                anchors.verticalCenter: parent.verticalCenter
            }
            Text {
                text: "This computer cannot build models."
                color: Theme.warning
                font.pixelSize: Theme.bodySize
            }
        }

        GridLayout {
            Layout.fillWidth: true
            Layout.topMargin: 6
            columns: root.width > 760 ? 2 : 1
            columnSpacing: Theme.medium
            rowSpacing: Theme.medium

            Panel {
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.preferredWidth: 1
                padding: Theme.large

                ColumnLayout {
                    anchors.fill: parent
                    spacing: Theme.small

                    SectionLabel {
                        text: "From your iPhone"
                    }
                    PairingQRView {
                        Layout.alignment: Qt.AlignHCenter
                        side: 150
                        link: Studio.pairingLink
                    }
                    Text {
                        Layout.fillWidth: true
                        text: "Scan this with your iPhone camera, or with Scan QR Code in Pelorin."
                        color: Theme.textSecondary
                        font.pixelSize: 13
                        wrapMode: Text.WordWrap
                    }
                    Text {
                        Layout.fillWidth: true
                        text: "Or choose this computer on the iPhone and type:"
                        color: Theme.textPrimary
                        font.pixelSize: Theme.bodySize
                        wrapMode: Text.WordWrap
                    }
                    PairingCodeView {
                        Layout.alignment: Qt.AlignHCenter
                        code: Studio.pairingCode
                    }
                }
            }

            Panel {
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.preferredWidth: 1
                padding: Theme.large

                ColumnLayout {
                    anchors.fill: parent
                    spacing: Theme.medium

                    SectionLabel {
                        text: "From a folder"
                    }
                    Text {
                        Layout.fillWidth: true
                        text: "Use 20 to 200 overlapping photos of one object, taken all the way around it. Drop them anywhere on this window, or pick the folder or the photos."
                        color: Theme.textSecondary
                        font.pixelSize: Theme.bodySize
                        lineHeight: 1.15
                        wrapMode: Text.WordWrap
                    }
                    Item {
                        Layout.fillHeight: true
                    }
                    TactileButton {
                        id: importButton
                        objectName: "welcomeImport"
                        text: "Import Photos"
                        systemImage: "folder.badge.plus"
                        onClicked: root.importRequested(importButton)
                    }
                }
            }
        }

        TactileButton {
            objectName: "trySample"
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 6
            text: "Try Sample Photos"
            systemImage: "photo.stack.fill"
            prominent: true
            enabled: Studio.photogrammetrySupported
            hoverEnabled: true
            ToolTip.visible: hovered
            ToolTip.delay: 600
            ToolTip.text: "Builds a model from 72 photos of a statue that come with Studio."
            Accessible.description: ToolTip.text
            onClicked: root.trySampleRequested()
        }
    }

    FocusFollower {
        page: root
        content: column
    }
}
