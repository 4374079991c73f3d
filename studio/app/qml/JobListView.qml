import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Pelorin.Design
import Pelorin.Studio

// Every job, newest first; choosing one shows it on the right.
Rectangle {
    id: root

    color: Theme.canvas

    Text {
        objectName: "noCaptures"
        visible: list.count === 0
        x: Theme.medium
        y: Theme.medium
        text: "No captures yet"
        color: Theme.textSecondary
        font.pixelSize: Theme.bodySize
    }

    ListView {
        id: list
        objectName: "jobList"
        anchors.fill: parent
        anchors.topMargin: 8
        visible: count > 0
        model: Studio.jobs
        clip: true
        activeFocusOnTab: true
        // The keyboard starts on the list when there is one; an empty studio starts from the top
        // of the window.
        Component.onCompleted: if (count > 0) forceActiveFocus()
        keyNavigationEnabled: false
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar {}
        Accessible.role: Accessible.List
        Accessible.name: "Captures"

        // The arrow keys move the selection itself.
        currentIndex: Studio.jobs.count, Studio.jobs.indexOf(Studio.selection)
        function step(by) {
            const next = Math.max(0, Math.min(count - 1, Studio.jobs.indexOf(Studio.selection) + by))
            Studio.selection = Studio.jobs.idAt(next)
            positionViewAtIndex(next, ListView.Contain)
        }
        Keys.onUpPressed: step(-1)
        Keys.onDownPressed: step(1)
        // The context menu from the keyboard (the Menu key or Shift+F10) for the selected row,
        // and Delete as the menu's Delete.
        signal menuRequested(int row)
        Keys.onMenuPressed: menuRequested(currentIndex)
        Keys.onPressed: event => {
            if (currentIndex < 0)
                return
            if (event.key === Qt.Key_F10 && event.modifiers === Qt.ShiftModifier) {
                menuRequested(currentIndex)
                event.accepted = true
            } else if (event.key === Qt.Key_Delete && event.modifiers === Qt.NoModifier) {
                Studio.deleteJob(Studio.jobs.idAt(currentIndex))
                event.accepted = true
            }
        }

        header: SectionLabel {
            leftPadding: Theme.medium
            bottomPadding: 6
            text: "Captures"
        }

        delegate: ItemDelegate {
            id: row

            required property int index
            required property string jobId
            required property string name
            required property string symbol
            required property string subtitle
            required property bool finished
            required property bool failed
            required property bool active
            readonly property bool selected: jobId === Studio.selection

            width: ListView.view.width
            leftPadding: Theme.medium
            rightPadding: Theme.small
            topPadding: 8
            bottomPadding: 8
            Accessible.role: Accessible.ListItem
            Accessible.name: name + ", " + subtitle

            background: Rectangle {
                anchors.fill: parent
                anchors.leftMargin: 6
                anchors.rightMargin: 6
                radius: 8
                color: row.selected ? Theme.withAlpha(Theme.accent, 0.22)
                     : row.hovered ? Theme.withAlpha(Theme.textPrimary, 0.05) : "transparent"
                border.width: row.visualFocus ? 2 : 0
                border.color: Theme.accent
            }

            contentItem: RowLayout {
                spacing: 10
                SymbolIcon {
                    symbol: row.symbol
                    color: Theme.statusTint(row.finished, row.failed, row.active)
                    Layout.preferredWidth: 20
                    Layout.preferredHeight: 20
                }
                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 2
                    Text {
                        Layout.fillWidth: true
                        text: row.name
                        color: Theme.textPrimary
                        font.pixelSize: Theme.bodySize
                        font.weight: Font.Medium
                        elide: Text.ElideRight
                    }
                    Text {
                        Layout.fillWidth: true
                        text: row.subtitle
                        color: Theme.textSecondary
                        font.pixelSize: Theme.captionSize
                        elide: Text.ElideRight
                    }
                }
            }

            onClicked: {
                row.ListView.view.forceActiveFocus()
                Studio.selection = jobId
            }

            TapHandler {
                acceptedButtons: Qt.RightButton
                onTapped: contextMenu.popup()
            }
            Connections {
                target: row.ListView.view
                function onMenuRequested(at) {
                    if (at === row.index)
                        contextMenu.popup(row, 20, row.height / 2)
                }
            }

            Menu {
                id: contextMenu
                MenuItem {
                    text: "Show in Folder"
                    onTriggered: Studio.showJobFolder(row.jobId)
                }
                MenuItem {
                    id: deleteEntry
                    objectName: "deleteJob"
                    text: "Delete"
                    onTriggered: Studio.deleteJob(row.jobId)
                    // Destructive: drawn in the danger colour, and filled with it when chosen.
                    contentItem: Text {
                        text: deleteEntry.text
                        font: deleteEntry.font
                        color: deleteEntry.highlighted ? Theme.canvas : Theme.danger
                        verticalAlignment: Text.AlignVCenter
                    }
                    background: Rectangle {
                        implicitWidth: 200
                        implicitHeight: 40
                        x: 1
                        y: 1
                        width: deleteEntry.width - 2
                        height: deleteEntry.height - 2
                        color: deleteEntry.highlighted ? Theme.danger : "transparent"
                    }
                }
            }
        }

    }
}
