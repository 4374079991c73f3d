import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Dialogs
import QtQuick.Layouts
import Pelorin.Design
import Pelorin.Studio

// The shown job: its name and status, then what it is doing, the options and Start before a
// run, progress during one, and the model with its facts and exports afterwards.
Flickable {
    id: root

    required property JobDetail detail
    // Where the window's one model preview goes while a finished job is shown.
    readonly property alias previewSlot: previewSlot
    readonly property bool showsResult: detail.panel === "result" && visible
    property alias saveDialog: saveDialog
    property alias objDialog: objDialog

    signal trySampleRequested

    contentWidth: width
    contentHeight: column.implicitHeight + 2 * Theme.large
    clip: true
    boundsBehavior: Flickable.StopAtBounds
    ScrollBar.vertical: ScrollBar {}

    // The accept handlers of the export dialogs.
    function saveChosen(kind, url) {
        detail.exportTo(kind, url)
    }
    function objFolderChosen(url) {
        detail.exportTo("obj", url)
    }
    function chooseExport(kind) {
        if (kind === "obj") {
            objDialog.open()
            return
        }
        saveDialog.kind = kind
        saveDialog.selectedFile = detail.proposedFile(kind, Studio.downloadsFolder)
        saveDialog.open()
    }

    ColumnLayout {
        id: column
        x: Theme.large
        y: Theme.large
        width: root.width - 2 * Theme.large
        spacing: Theme.medium

        // Header: the name, the status and the facts line.
        TextField {
            id: nameField
            objectName: "nameField"
            Layout.fillWidth: true
            text: root.detail.editingName
            placeholderText: "Capture name"
            placeholderTextColor: Theme.textTertiary
            color: Theme.textPrimary
            font.pixelSize: 24
            font.weight: Font.DemiBold
            leftPadding: 6
            Accessible.name: "Capture name"
            background: Rectangle {
                radius: 6
                color: nameField.activeFocus ? Theme.withAlpha(Theme.textPrimary, 0.06) : "transparent"
                border.width: nameField.activeFocus ? 1 : 0
                border.color: Theme.accent
            }
            onTextEdited: root.detail.editingName = text
            onAccepted: root.detail.rename()
        }

        Flow {
            Layout.fillWidth: true
            spacing: Theme.medium

            StatusPill {
                objectName: "status"
                text: root.detail.statusTitle
                systemImage: root.detail.statusIcon
                tint: Theme.statusTint(root.detail.isFinished, root.detail.isFailed, root.detail.isActive)
            }
            FactRow {
                height: 24
                systemImage: root.detail.sourceIcon
                text: root.detail.sourceText
            }
            FactRow {
                height: 24
                systemImage: "photo.on.rectangle"
                text: root.detail.photosText
            }
            FactRow {
                height: 24
                visible: root.detail.captureModeText !== ""
                systemImage: root.detail.captureModeIcon
                text: root.detail.captureModeText
            }
        }

        // The active panel: receiving, queued or processing.
        Panel {
            objectName: "activePanel"
            Layout.fillWidth: true
            visible: root.detail.panel === "active"
            padding: Theme.large

            ColumnLayout {
                anchors.fill: parent
                spacing: Theme.small

                RowLayout {
                    spacing: Theme.medium
                    ProgressRing {
                        objectName: "progressRing"
                        Layout.preferredWidth: 56
                        Layout.preferredHeight: 56
                        fraction: root.detail.fraction
                    }
                    ColumnLayout {
                        spacing: 2
                        Text {
                            objectName: "percent"
                            text: root.detail.percentText
                            color: Theme.textPrimary
                            font.family: "monospace"
                            font.pixelSize: 40
                            font.weight: Font.DemiBold
                        }
                        Text {
                            objectName: "activity"
                            text: root.detail.activityText
                            color: Theme.textSecondary
                            font.pixelSize: Theme.bodySize
                        }
                    }
                    Item {
                        Layout.fillWidth: true
                    }
                    TactileButton {
                        objectName: "cancel"
                        visible: root.detail.canCancel
                        text: "Cancel"
                        systemImage: "stop.fill"
                        tint: Theme.danger
                        onClicked: root.detail.stop()
                    }
                }
                Text {
                    objectName: "remaining"
                    visible: text !== ""
                    text: root.detail.remainingText
                    color: Theme.textSecondary
                    font.pixelSize: Theme.bodySize
                }
                Text {
                    Layout.fillWidth: true
                    Layout.topMargin: 6
                    text: "Tip: long jobs can slow down as a laptop warms up. Keep it on a hard surface."
                    color: Theme.textTertiary
                    font.pixelSize: Theme.captionSize
                    wrapMode: Text.WordWrap
                }
            }
        }

        // The start panel: ready, failed or cancelled.
        ColumnLayout {
            objectName: "startPanel"
            Layout.fillWidth: true
            visible: root.detail.panel === "start"
            spacing: Theme.medium

            Notice {
                objectName: "message"
                visible: root.detail.message !== ""
                systemImage: root.detail.messageIcon
                tint: root.detail.isFailed ? Theme.danger : Theme.accent
                text: root.detail.message
            }
            Notice {
                objectName: "hint"
                visible: root.detail.showsHint
                systemImage: "info.circle.fill"
                tint: Theme.accent
                text: "Best results come from photos of one object, taken all the way around it with plenty of overlap. Separate photos of different things cannot be joined into a model."
            }
            RowLayout {
                objectName: "sampleSuggestion"
                visible: root.detail.suggestsSample
                Layout.fillWidth: true
                spacing: Theme.small
                Text {
                    Layout.fillWidth: true
                    text: "Want to see it work? Studio includes 72 photos of a statue."
                    color: Theme.textPrimary
                    font.pixelSize: Theme.bodySize
                    wrapMode: Text.WordWrap
                }
                TactileButton {
                    text: "Try Sample Photos"
                    systemImage: "photo.stack.fill"
                    enabled: Studio.photogrammetrySupported
                    onClicked: root.trySampleRequested()
                }
            }

            Panel {
                Layout.fillWidth: true
                padding: Theme.large
                OptionsForm {
                    anchors.fill: parent
                    detail: root.detail
                }
            }

            TactileButton {
                objectName: "start"
                text: root.detail.startLabel
                systemImage: "play.fill"
                prominent: true
                enabled: root.detail.canStart
                onClicked: root.detail.start()
            }
            Text {
                objectName: "startNote"
                visible: text !== ""
                Layout.fillWidth: true
                text: root.detail.startNote
                color: Theme.warning
                font.pixelSize: 13
                wrapMode: Text.WordWrap
            }
        }

        // The result panel: the model, its facts, exports and notes.
        ColumnLayout {
            objectName: "resultPanel"
            Layout.fillWidth: true
            visible: root.detail.panel === "result"
            spacing: Theme.medium

            Panel {
                Layout.fillWidth: true
                Layout.preferredHeight: Math.max(260, Math.min(440, root.height * 0.55))
                padding: 6
                Item {
                    id: previewSlot
                    objectName: "previewSlot"
                    anchors.fill: parent
                }
            }
            Text {
                Layout.fillWidth: true
                horizontalAlignment: Text.AlignHCenter
                text: "Drag to orbit. Scroll or pinch to zoom."
                color: Theme.textTertiary
                font.pixelSize: Theme.captionSize
            }

            Panel {
                Layout.fillWidth: true
                padding: Theme.large
                GridLayout {
                    objectName: "facts"
                    anchors.fill: parent
                    columns: 2
                    columnSpacing: Theme.large
                    rowSpacing: 6
                    Repeater {
                        model: root.detail.facts
                        delegate: Text {
                            required property var modelData
                            required property int index
                            Layout.row: index
                            Layout.column: 0
                            text: modelData.label
                            color: Theme.textSecondary
                            font.pixelSize: Theme.bodySize
                        }
                    }
                    Repeater {
                        model: root.detail.facts
                        delegate: Text {
                            required property var modelData
                            required property int index
                            Layout.row: index
                            Layout.column: 1
                            Layout.fillWidth: true
                            text: modelData.value
                            color: Theme.textPrimary
                            font.pixelSize: Theme.bodySize
                            font.weight: Font.Medium
                        }
                    }
                }
            }

            Flow {
                Layout.fillWidth: true
                spacing: Theme.small

                TactileButton {
                    id: exportButton
                    objectName: "export"
                    text: "Export"
                    systemImage: "folder"
                    prominent: true
                    onClicked: exportMenu.popup(exportButton, 0, exportButton.height + 4)
                    Menu {
                        id: exportMenu
                        objectName: "exportMenu"
                        // As wide as its longest entry.
                        width: {
                            let widest = 200
                            for (let i = 0; i < count; ++i) {
                                const entry = itemAt(i)
                                widest = Math.max(widest, entry.implicitWidth)
                            }
                            return widest + leftPadding + rightPadding
                        }
                        // Only the formats this job has: an entry that does not apply is not in
                        // the menu at all, so the keyboard cannot reach it either.
                        Instantiator {
                            model: root.detail.exports
                            delegate: ExportMenuItem {}
                            onObjectAdded: (index, object) => {
                                object.triggered.connect(() => root.chooseExport(object.modelData.kind))
                                exportMenu.insertItem(index, object)
                            }
                            onObjectRemoved: (index, object) => exportMenu.removeItem(object)
                        }
                    }
                }
                TactileButton {
                    objectName: "open"
                    text: "Open"
                    systemImage: "cube.transparent"
                    onClicked: root.detail.open()
                }
            }

            ColumnLayout {
                objectName: "notes"
                visible: root.detail.notes.length > 0
                Layout.fillWidth: true
                spacing: 6
                SectionLabel {
                    text: "Notes"
                }
                Repeater {
                    model: root.detail.notes
                    delegate: Notice {
                        required property string modelData
                        systemImage: "info.circle"
                        tint: Theme.textSecondary
                        text: modelData
                    }
                }
            }
            Flow {
                Layout.fillWidth: true
                spacing: Theme.small

                TactileButton {
                    objectName: "showInFolder"
                    text: "Show in Folder"
                    systemImage: "folder"
                    onClicked: root.detail.showInFolder()
                }
                TactileButton {
                    objectName: "reprocess"
                    text: "Reprocess"
                    systemImage: "play.fill"
                    enabled: root.detail.canStart
                    onClicked: root.detail.start()
                }
            }
        }
    }

    FocusFollower {
        page: root
        content: column
    }

    FileDialog {
        id: saveDialog
        property string kind: "usdz"
        title: "Export"
        fileMode: FileDialog.SaveFile
        currentFolder: Studio.downloadsFolder
        nameFilters: kind === "usdz" ? ["USDZ model (*.usdz)"] : ["All files (*)"]
        onAccepted: root.saveChosen(kind, selectedFile)
    }

    FolderDialog {
        id: objDialog
        title: "Choose where to put the \"" + root.detail.objFolderName + "\" folder."
        acceptLabel: "Export Here"
        currentFolder: Studio.downloadsFolder
        onAccepted: root.objFolderChosen(selectedFolder)
    }
}
