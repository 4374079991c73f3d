import QtQuick
import QtQuick.Controls.Basic

// One format of the Export menu; a format the job does not have takes no room.
MenuItem {
    property string kind
    property bool offered: true

    visible: offered
    height: offered ? implicitHeight : 0
}
