import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import Pelorin.Design

// A document over the window, with its title above and Done to put it away.
Popup {
    id: sheet

    property var document: ({})

    modal: true
    parent: T.Overlay.overlay
    anchors.centerIn: parent
    // Ideally 560 x 680 and at least 480 x 520, but never larger than the window that shows it
    // (the settings window is smaller than that).
    readonly property real room: 24
    width: fitted(480, 560, parent ? parent.width : 560)
    height: fitted(520, 680, parent ? parent.height : 680)
    function fitted(least: real, ideal: real, available: real): real {
        return Math.min(Math.max(least, Math.min(ideal, available - 40)), available - room)
    }
    padding: 0
    closePolicy: Popup.CloseOnEscape

    background: Rectangle {
        color: Theme.panel
        radius: Theme.medium
        border.width: 1
        border.color: Theme.hairline
    }

    T.Overlay.modal: Rectangle {
        color: Qt.rgba(0, 0, 0, 0.55)
    }

    contentItem: ColumnLayout {
        spacing: 0

        Item {
            Layout.fillWidth: true
            Layout.preferredHeight: 60

            Text {
                anchors.centerIn: parent
                text: sheet.document.title ?? ""
                color: Theme.textPrimary
                font.pixelSize: Theme.bodySize + 1
                font.weight: Font.DemiBold
                Accessible.role: Accessible.TitleBar
            }

            TactileButton {
                objectName: "done"
                anchors.right: parent.right
                anchors.rightMargin: Theme.small
                anchors.verticalCenter: parent.verticalCenter
                text: "Done"
                prominent: true
                onClicked: sheet.close()
            }
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.preferredHeight: 1
            color: Theme.hairline
        }

        LegalDocumentView {
            Layout.fillWidth: true
            Layout.fillHeight: true
            document: sheet.document
        }
    }
}
