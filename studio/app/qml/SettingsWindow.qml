import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Pelorin.Design
import Pelorin.Studio

// The settings window: the phone link's facts and the developer's.
ApplicationWindow {
    id: window

    title: "Settings"
    width: 540
    height: 520
    minimumWidth: 460
    minimumHeight: 420
    color: Theme.background
    palette.window: Theme.panel
    palette.windowText: Theme.textPrimary
    palette.base: Theme.background
    palette.text: Theme.textPrimary
    palette.button: Qt.rgba(0.16, 0.16, 0.16, 1)
    palette.buttonText: Theme.textPrimary
    palette.highlight: Theme.accent
    palette.highlightedText: Theme.canvas
    palette.light: Qt.rgba(0.22, 0.22, 0.22, 1)
    palette.mid: Qt.rgba(0.14, 0.14, 0.14, 1)
    palette.dark: Qt.rgba(0.05, 0.05, 0.05, 1)
    palette.toolTipBase: Qt.rgba(0.2, 0.2, 0.2, 1)
    palette.toolTipText: Theme.textPrimary

    readonly property string supportUrl: {
        const links = LegalDocuments.desktopPrivacyPolicy.links || []
        for (const link of links)
            if (link.label === "Support")
                return link.url
        return ""
    }

    LegalDocumentSheet {
        id: privacy
        objectName: "settingsPrivacySheet"
        document: LegalDocuments.desktopPrivacyPolicy
    }

    Flickable {
        anchors.fill: parent
        contentHeight: form.implicitHeight + 2 * Theme.large
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar {}

        ColumnLayout {
            id: form
            x: Theme.large
            y: Theme.large
            width: window.width - 2 * Theme.large
            spacing: Theme.small

            SectionLabel {
                text: "iPhone link"
            }
            Panel {
                Layout.fillWidth: true
                GridLayout {
                    anchors.fill: parent
                    columns: 2
                    columnSpacing: Theme.large
                    rowSpacing: 10

                    Text {
                        text: "Pairing code"
                        color: Theme.textSecondary
                        font.pixelSize: Theme.bodySize
                    }
                    TextEdit {
                        objectName: "settingsCode"
                        Layout.fillWidth: true
                        text: Studio.pairingCode
                        readOnly: true
                        selectByMouse: true
                        color: Theme.textPrimary
                        font.family: "monospace"
                        font.pixelSize: Theme.bodySize
                        font.bold: true
                        Accessible.role: Accessible.StaticText
                        Accessible.name: "Pairing code " + Studio.pairingCode.split("").join(" ")
                    }
                    Item {
                        implicitHeight: 1
                    }
                    TactileButton {
                        text: "Make a New Code"
                        onClicked: Studio.newPairingCode()
                    }
                    Text {
                        text: "Studio fingerprint"
                        color: Theme.textSecondary
                        font.pixelSize: Theme.bodySize
                    }
                    TextEdit {
                        objectName: "settingsFingerprint"
                        Layout.fillWidth: true
                        text: Studio.fingerprint
                        readOnly: true
                        selectByMouse: true
                        wrapMode: TextEdit.Wrap
                        color: Theme.textPrimary
                        font.family: "monospace"
                        font.pixelSize: 13
                        Accessible.role: Accessible.StaticText
                        Accessible.name: "Studio fingerprint " + text
                    }
                }
            }
            Text {
                Layout.fillWidth: true
                text: "The link is encrypted. The QR code carries this fingerprint, so a phone only talks to this computer."
                color: Theme.textTertiary
                font.pixelSize: Theme.captionSize
                wrapMode: Text.WordWrap
            }

            SectionLabel {
                Layout.topMargin: Theme.medium
                text: "About the developer"
            }
            Panel {
                Layout.fillWidth: true
                GridLayout {
                    anchors.fill: parent
                    columns: 2
                    columnSpacing: Theme.large
                    rowSpacing: 10

                    Text {
                        text: "Version"
                        color: Theme.textSecondary
                        font.pixelSize: Theme.bodySize
                    }
                    Text {
                        objectName: "settingsVersion"
                        Layout.fillWidth: true
                        text: Studio.version
                        color: Theme.textPrimary
                        font.pixelSize: Theme.bodySize
                    }
                    Text {
                        text: "Processing"
                        color: Theme.textSecondary
                        font.pixelSize: Theme.bodySize
                    }
                    Text {
                        Layout.fillWidth: true
                        text: "COLMAP and Pelorin's own reconstruction, on this computer"
                        color: Theme.textPrimary
                        font.pixelSize: Theme.bodySize
                        wrapMode: Text.WordWrap
                    }
                    ItemDelegate {
                        id: privacyRow
                        objectName: "privacyRow"
                        Layout.columnSpan: 2
                        Layout.fillWidth: true
                        text: "Privacy Policy"
                        padding: 4
                        // Its label lines up with the other labels; the hover shade reaches past.
                        leftPadding: 0
                        leftInset: -4
                        Accessible.name: text
                        background: Rectangle {
                            radius: 6
                            color: privacyRow.hovered || privacyRow.visualFocus
                                   ? Theme.withAlpha(Theme.textPrimary, 0.06) : "transparent"
                        }
                        contentItem: RowLayout {
                            Text {
                                Layout.fillWidth: true
                                text: "Privacy Policy"
                                color: Theme.textPrimary
                                font.pixelSize: Theme.bodySize
                            }
                            SymbolIcon {
                                symbol: "chevron.right"
                                color: Theme.textTertiary
                                Layout.preferredWidth: 12
                                Layout.preferredHeight: 12
                            }
                        }
                        onClicked: privacy.open()
                    }
                    Text {
                        text: "Support"
                        color: Theme.textSecondary
                        font.pixelSize: Theme.bodySize
                    }
                    LinkButton {
                        // The button's own margin would push the link past the other values.
                        Layout.leftMargin: -4
                        text: window.supportUrl
                        Accessible.name: "Support"
                        onClicked: Qt.openUrlExternally(window.supportUrl)
                    }
                }
            }
        }
    }
}
