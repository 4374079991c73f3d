import QtQuick
import QtQuick.Controls.Basic
import Pelorin.Design

// A privacy document to read: the summary first, then the sections, then where to go next.
ScrollView {
    id: view

    property var document: ({})

    contentWidth: availableWidth
    clip: true

    Column {
        id: page
        width: view.availableWidth
        padding: Theme.large
        spacing: Theme.medium

        readonly property real textWidth: width - 2 * padding

        // Documents are read, not scanned: every text gets a little more line spacing.
        Text {
            width: page.textWidth
            text: view.document.summary ?? ""
            wrapMode: Text.Wrap
            color: Theme.textPrimary
            font.pixelSize: Theme.bodySize + 3
            font.weight: Font.Medium
            lineHeight: 1.3
        }

        Text {
            text: "Last updated " + (view.document.lastUpdated ?? "")
            color: Theme.textTertiary
            font.pixelSize: Theme.captionSize
        }

        Repeater {
            model: view.document.sections ?? []

            delegate: Column {
                id: section
                required property var modelData
                width: parent ? parent.width - 2 * Theme.large : 0
                spacing: 8
                topPadding: 6

                Text {
                    width: section.width
                    text: section.modelData.heading
                    wrapMode: Text.Wrap
                    color: Theme.textPrimary
                    font.pixelSize: Theme.bodySize + 2
                    font.weight: Font.DemiBold
                    Accessible.role: Accessible.Heading
                }

                Repeater {
                    model: section.modelData.blocks

                    delegate: Column {
                        id: block
                        required property var modelData
                        readonly property bool listed: modelData.kind === "bullets"
                                                       || modelData.kind === "negatives"
                        width: parent ? parent.width : 0
                        spacing: 6

                        Text {
                            visible: !block.listed
                            width: block.width
                            text: block.modelData.text
                            wrapMode: Text.Wrap
                            color: block.modelData.kind === "subheading" ? Theme.textPrimary
                                                                         : Theme.textSecondary
                            font.pixelSize: Theme.bodySize
                            font.weight: block.modelData.kind === "subheading" ? Font.DemiBold
                                                                               : Font.Normal
                            lineHeight: 1.3
                        }

                        Repeater {
                            model: block.listed ? block.modelData.items.map(text => ({
                                                                                   text: text,
                                                                                   negative: block.modelData.kind === "negatives"
                                                                               })) : []

                            delegate: Row {
                                id: item
                                required property var modelData
                                width: parent ? parent.width : 0
                                spacing: 8

                                SymbolIcon {
                                    symbol: item.modelData.negative ? "xmark" : "checkmark"
                                    color: item.modelData.negative ? Theme.danger : Theme.success
                                    width: 14
                                    height: 14
                                    y: 2
                                }

                                Text {
                                    width: item.width - 22
                                    text: item.modelData.text
                                    wrapMode: Text.Wrap
                                    color: Theme.textSecondary
                                    font.pixelSize: Theme.bodySize
                                    lineHeight: 1.3
                                }
                            }
                        }
                    }
                }
            }
        }

        Rectangle {
            width: page.textWidth
            height: 1
            color: Theme.hairline
        }

        Repeater {
            model: view.document.links ?? []

            delegate: ItemDelegate {
                id: link
                required property var modelData
                width: parent ? parent.width - 2 * Theme.large : 0
                leftPadding: 0
                topPadding: 4
                bottomPadding: 4
                background: null
                contentItem: Row {
                    spacing: 10
                    SymbolIcon {
                        symbol: link.modelData.systemImage
                        color: Theme.accent
                        width: 18
                        height: 18
                        anchors.verticalCenter: parent.verticalCenter
                    }
                    Text {
                        text: link.modelData.label
                        color: link.hovered ? Qt.lighter(Theme.accent, 1.2) : Theme.accent
                        font.pixelSize: Theme.bodySize
                        font.underline: link.hovered
                        anchors.verticalCenter: parent.verticalCenter
                    }
                }
                Accessible.role: Accessible.Link
                Accessible.name: modelData.label
                onClicked: Qt.openUrlExternally(modelData.url)
            }
        }
    }
}
