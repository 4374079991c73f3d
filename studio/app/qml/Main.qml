import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Pelorin.Design
import Pelorin.Studio

ApplicationWindow {
    id: window

    title: "Pelorin Studio"
    width: 1180
    height: 760
    minimumWidth: 720
    minimumHeight: 500
    visible: true
    color: Theme.background

    LegalDocumentSheet {
        id: privacy
        document: LegalDocuments.desktopPrivacyPolicy
    }

    RowLayout {
        anchors.fill: parent
        anchors.margins: Theme.large
        spacing: Theme.large

        ColumnLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: Theme.medium

            RowLayout {
                Layout.fillWidth: true
                spacing: Theme.small

                Text {
                    text: "Pelorin Studio"
                    color: Theme.textPrimary
                    font.pixelSize: Theme.titleSize
                    font.weight: Font.DemiBold
                }
                Item {
                    Layout.fillWidth: true
                }
                StatusPill {
                    visible: Studio.pairingCode !== ""
                    text: "Pairing code " + Studio.pairingCode
                    systemImage: "wifi"
                    tint: Theme.accent
                }
            }

            Panel {
                Layout.fillWidth: true
                Layout.fillHeight: true
                padding: 8

                // Shown from start-up even without a model, so that its materials are ready
                // before the first model arrives.
                ModelPreviewView {
                    id: preview
                    anchors.fill: parent
                    source: Studio.latestModel
                }

                Column {
                    anchors.centerIn: parent
                    visible: Studio.latestModel === ""
                    spacing: 8
                    SymbolIcon {
                        anchors.horizontalCenter: parent.horizontalCenter
                        symbol: "cube.transparent"
                        color: Theme.textTertiary
                        width: 40
                        height: 40
                    }
                    Text {
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: "No finished model yet"
                        color: Theme.textSecondary
                        font.pixelSize: Theme.bodySize
                    }
                }
            }

            Text {
                visible: Studio.latestModel !== ""
                text: Studio.latestModelName + " · Drag to orbit. Scroll or pinch to zoom."
                color: Theme.textTertiary
                font.pixelSize: Theme.captionSize
                elide: Text.ElideRight
                Layout.fillWidth: true
            }
        }

        ScrollView {
            Layout.preferredWidth: 380
            Layout.minimumWidth: 300
            Layout.fillHeight: true
            contentWidth: availableWidth

            ColumnLayout {
                width: parent.width
                spacing: Theme.medium

                Gallery {
                    Layout.fillWidth: true
                }

                ItemDelegate {
                    text: "Privacy Policy"
                    leftPadding: 4
                    background: null
                    contentItem: Text {
                        text: "Privacy Policy"
                        color: Theme.accent
                        font.pixelSize: Theme.captionSize
                    }
                    onClicked: privacy.open()
                }

                Text {
                    leftPadding: 4
                    text: Qt.application.name + " " + Qt.application.version + " · "
                          + LegalDocuments.publisher
                    color: Theme.textTertiary
                    font.pixelSize: Theme.captionSize
                }
            }
        }
    }
}
