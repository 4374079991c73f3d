import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import Pelorin.Design

// A modal alert: a title, a message and one "OK" that puts it away.
Dialog {
    id: alert

    property string heading
    property string message

    signal dismissed

    modal: true
    // The OK button has the focus inside, so Return and Space press it.
    focus: true
    parent: T.Overlay.overlay
    anchors.centerIn: parent
    width: Math.min(420, (parent ? parent.width : 420) - 40)
    padding: Theme.large
    closePolicy: Popup.CloseOnEscape

    background: Rectangle {
        color: Theme.panel
        radius: Theme.medium
        border.width: 1
        border.color: Theme.hairline
    }

    onClosed: dismissed()

    T.Overlay.modal: Rectangle {
        color: Qt.rgba(0, 0, 0, 0.55)
    }

    contentItem: ColumnLayout {
        spacing: Theme.small
        Accessible.role: Accessible.AlertMessage
        Accessible.name: alert.heading
        Accessible.description: alert.message
        Text {
            objectName: "alertTitle"
            Layout.fillWidth: true
            text: alert.heading
            color: Theme.textPrimary
            font.pixelSize: 17
            font.weight: Font.DemiBold
            wrapMode: Text.WordWrap
        }
        Text {
            objectName: "alertMessage"
            Layout.fillWidth: true
            text: alert.message
            color: Theme.textSecondary
            font.pixelSize: Theme.bodySize
            wrapMode: Text.WordWrap
        }
        TactileButton {
            objectName: "alertOK"
            Layout.alignment: Qt.AlignRight
            Layout.topMargin: 6
            text: "OK"
            prominent: true
            focus: true
            onClicked: alert.close()
        }
    }
}
