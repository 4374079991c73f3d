import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Dialogs
import QtQuick.Layouts
import QtQuick.Templates as T
import QtQuick.Window
import Pelorin.Design
import Pelorin.Studio

// The main window: the job list on the left; on the right the shown job or the welcome page.
// Photos and folders can be dropped anywhere on it.
ApplicationWindow {
    id: window

    title: "Pelorin Studio"
    width: 1180
    height: 760
    // The content, below the menu bar and the toolbar, is at least 720 x 500.
    minimumWidth: 720
    minimumHeight: 500 + (menuBar ? menuBar.implicitHeight : 0) + (header ? header.implicitHeight : 0)
    visible: true
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
    property bool dropTargeted: false
    readonly property string importMessage: "Choose the folder that holds your photos, or select the photos themselves."
    property alias detail: detail
    property alias connectionPopup: connectionPopup
    property alias importMenu: importMenu
    property alias settingsWindow: settingsWindow
    property alias preview: preview

    // The accept handler of both import dialogs, and of a drop.
    function importChosen(urls) {
        Studio.importUrls(urls)
    }
    function chooseImport(from) {
        const anchor = from || importButton
        importMenu.popup(anchor, 0, anchor.height + 4)
    }

    // The content is shown: the phone link starts now, once the event loop runs.
    Timer {
        running: true
        interval: 0
        onTriggered: Studio.contentShown()
    }

    menuBar: MenuBar {
        Menu {
            title: "&File"
            Action {
                text: "&Import Photos…"
                shortcut: "Ctrl+O"
                onTriggered: window.chooseImport()
            }
            Action {
                text: "Try &Sample Photos"
                enabled: Studio.photogrammetrySupported
                onTriggered: Studio.trySample()
            }
            MenuSeparator {}
            Action {
                text: "Se&ttings…"
                shortcut: "Ctrl+,"
                onTriggered: settingsWindow.show()
            }
            MenuSeparator {}
            Action {
                text: "&Quit"
                shortcut: "Ctrl+Q"
                onTriggered: Qt.quit()
            }
        }
        Menu {
            title: "&Help"
            Action {
                text: "&Privacy Policy"
                onTriggered: privacy.open()
            }
            Action {
                text: "&About Pelorin Studio"
                onTriggered: about.open()
            }
        }
    }

    header: ToolBar {
        padding: 8
        background: Rectangle {
            color: Theme.panel
            Rectangle {
                anchors.bottom: parent.bottom
                width: parent.width
                height: 1
                color: Theme.hairline
            }
        }

        RowLayout {
            anchors.fill: parent
            spacing: Theme.small

            Item {
                Layout.fillWidth: true
            }

            ToolbarButton {
                id: connectionButton
                objectName: "connectionButton"
                text: Studio.connectionLabel
                symbol: Studio.connectionIcon
                help: "Pair an iPhone"
                onClicked: connectionPopup.visible ? connectionPopup.close() : connectionPopup.open()

                Popup {
                    id: connectionPopup
                    objectName: "connectionPopup"
                    y: connectionButton.height + 6
                    // Right-aligned under the button, so that it stays inside the window.
                    x: connectionButton.width - width
                    width: 340
                    // No taller than the window below the button: the panel scrolls instead.
                    height: Math.min(implicitHeight,
                                     window.height - connectionButton.mapToItem(null, 0, y).y - Theme.small)
                    padding: Theme.medium
                    // The right edge holds the scroll bar's gutter instead.
                    rightPadding: 4
                    // Open, it takes the keyboard: Tab reaches New Code, Escape closes it.
                    focus: true
                    // A press on the button is not outside: its click closes the panel.
                    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutsideParent
                    background: Rectangle {
                        color: Theme.panel
                        radius: Theme.small
                        border.width: 1
                        border.color: Theme.hairline
                    }
                    Flickable {
                        id: connectionScroll
                        objectName: "connectionScroll"
                        anchors.fill: parent
                        implicitWidth: connectionPanel.implicitWidth
                        implicitHeight: connectionPanel.implicitHeight
                        contentWidth: width
                        contentHeight: connectionPanel.implicitHeight
                        clip: true
                        boundsBehavior: Flickable.StopAtBounds
                        ScrollBar.vertical: ScrollBar {
                            policy: connectionScroll.contentHeight > connectionScroll.height
                                ? ScrollBar.AlwaysOn : ScrollBar.AsNeeded
                        }

                        // Always clear of the gutter: a width that changed with the scroll bar
                        // would rewrap the text and change whether it scrolls.
                        ConnectionPanel {
                            id: connectionPanel
                            width: connectionScroll.width - 12
                        }

                        FocusFollower {
                            page: connectionScroll
                            content: connectionPanel
                        }
                    }
                }
            }

            ToolbarButton {
                id: importButton
                objectName: "importButton"
                text: "Import Photos"
                symbol: "folder.badge.plus"
                help: "Make a model from a folder of photos"
                onClicked: window.chooseImport(importButton)
            }
        }
    }

    Menu {
        id: importMenu
        objectName: "importMenu"
        MenuItem {
            text: "Photos…"
            onTriggered: photosDialog.open()
        }
        MenuItem {
            text: "Folder…"
            onTriggered: folderDialog.open()
        }
    }

    FileDialog {
        id: photosDialog
        title: window.importMessage
        fileMode: FileDialog.OpenFiles
        acceptLabel: "Import"
        currentFolder: Studio.downloadsFolder
        nameFilters: ["Photos (*.heic *.heif *.jpg *.jpeg *.png *.tif *.tiff *.HEIC *.HEIF *.JPG *.JPEG *.PNG *.TIF *.TIFF)", "All files (*)"]
        onAccepted: window.importChosen(selectedFiles)
    }

    FolderDialog {
        id: folderDialog
        title: window.importMessage
        acceptLabel: "Import"
        currentFolder: Studio.downloadsFolder
        onAccepted: window.importChosen([selectedFolder])
    }

    SplitView {
        id: split
        anchors.fill: parent
        orientation: Qt.Horizontal

        handle: Rectangle {
            implicitWidth: 1
            color: Theme.hairline
        }

        JobListView {
            SplitView.preferredWidth: 290
            SplitView.minimumWidth: 220
            SplitView.maximumWidth: 420
        }

        Item {
            id: right
            SplitView.fillWidth: true
            SplitView.minimumWidth: 420

            // The window's one model preview rests here while no finished job is shown; it is
            // drawn from start-up so that its shaders are ready for the first model.
            Item {
                id: parking
                width: 8
                height: 8
            }

            ModelPreviewView {
                id: preview
                objectName: "modelPreview"
                parent: detailView.showsResult ? detailView.previewSlot : parking
                anchors.fill: parent
                source: detailView.showsResult ? detail.modelPath : ""
            }

            WelcomeView {
                objectName: "welcome"
                anchors.fill: parent
                visible: !Studio.showsJob
                onImportRequested: from => window.chooseImport(from)
                onTrySampleRequested: Studio.trySample()
            }

            JobDetailView {
                id: detailView
                objectName: "detailView"
                anchors.fill: parent
                visible: Studio.showsJob
                detail: JobDetail {
                    id: detail
                    jobId: Studio.showsJob ? Studio.selection : ""
                }
                onTrySampleRequested: Studio.trySample()
            }
        }
    }

    // Drops anywhere on the window, the toolbar included: the overlay covers all of it.
    DropArea {
        id: drop
        objectName: "dropArea"
        parent: T.Overlay.overlay
        anchors.fill: parent
        onEntered: drag => {
            window.dropTargeted = drag.hasUrls
            if (!drag.hasUrls)
                drag.accepted = false
        }
        onExited: window.dropTargeted = false
        onDropped: drop => {
            window.dropTargeted = false
            if (!drop.hasUrls || drop.urls.length === 0) {
                drop.accepted = false
                return
            }
            window.importChosen(drop.urls)
            drop.acceptProposedAction()
        }
    }

    Rectangle {
        objectName: "dropHighlight"
        parent: T.Overlay.overlay
        anchors.fill: parent
        anchors.margins: 10
        radius: 22
        color: Theme.withAlpha(Theme.accent, 0.06)
        border.width: 3
        border.color: Theme.accent
        visible: window.dropTargeted
    }

    Rectangle {
        objectName: "importIndicator"
        visible: Studio.isImporting
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: Theme.medium
        width: importRow.implicitWidth + 28
        height: importRow.implicitHeight + 14
        radius: height / 2
        color: Theme.panel
        border.width: 1
        border.color: Theme.hairline
        Accessible.role: Accessible.StatusBar
        Accessible.name: "Importing photos"

        Row {
            id: importRow
            anchors.centerIn: parent
            spacing: 8
            ProgressRing {
                id: importSpinner
                width: 16
                height: 16
                lineWidth: 2.5
                fraction: 0.3
                anchors.verticalCenter: parent.verticalCenter
                RotationAnimator on rotation {
                    running: Studio.isImporting && !Motion.reduced
                    from: 0
                    to: 360
                    duration: 900
                    loops: Animation.Infinite
                }
            }
            Text {
                text: "Importing photos"
                color: Theme.textPrimary
                font.pixelSize: Theme.captionSize
                anchors.verticalCenter: parent.verticalCenter
            }
        }
    }

    AlertDialog {
        id: noticeAlert
        objectName: "noticeAlert"
        heading: Studio.noticeTitle
        message: Studio.noticeMessage
        onDismissed: Studio.clearNotice()
    }
    Connections {
        target: Studio
        function onNoticeChanged() {
            if (Studio.hasNotice)
                noticeAlert.open()
            else
                noticeAlert.close()
        }
    }

    AlertDialog {
        id: exportAlert
        objectName: "exportAlert"
    }
    Connections {
        target: detail
        function onExportFailed(title, message) {
            exportAlert.heading = title
            exportAlert.message = message
            exportAlert.open()
        }
    }

    LegalDocumentSheet {
        id: privacy
        objectName: "privacySheet"
        document: LegalDocuments.desktopPrivacyPolicy
    }

    AlertDialog {
        id: about
        heading: "Pelorin Studio"
        message: "Version " + Studio.version + "\nTurns photos into 3D models on this computer.\n" + LegalDocuments.publisher
    }

    SettingsWindow {
        id: settingsWindow
        transientParent: window
    }

    Component.onCompleted: {
        if (Studio.hasNotice)
            noticeAlert.open()
    }
}
