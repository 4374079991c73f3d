import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Pelorin.Design
import Pelorin.Studio

// The reconstruction options of the next run; edits the detail's draft only.
ColumnLayout {
    id: root

    required property JobDetail detail

    spacing: Theme.small

    SectionLabel {
        text: "Quality"
    }

    // A segmented picker; its label "Detail" is for screen readers only.
    Row {
        id: segments
        objectName: "detailPicker"
        Accessible.role: Accessible.PageTabList
        Accessible.name: "Detail"
        spacing: 0

        DetailSegment {
            text: "Preview"
            chosen: root.detail.detail === 0
            onClicked: root.detail.detail = 0
            Keys.onLeftPressed: root.detail.detail = Math.max(0, root.detail.detail - 1)
            Keys.onRightPressed: root.detail.detail = Math.min(3, root.detail.detail + 1)
        }
        DetailSegment {
            text: "Reduced"
            chosen: root.detail.detail === 1
            onClicked: root.detail.detail = 1
            Keys.onLeftPressed: root.detail.detail = Math.max(0, root.detail.detail - 1)
            Keys.onRightPressed: root.detail.detail = Math.min(3, root.detail.detail + 1)
        }
        DetailSegment {
            text: "Medium"
            chosen: root.detail.detail === 2
            onClicked: root.detail.detail = 2
            Keys.onLeftPressed: root.detail.detail = Math.max(0, root.detail.detail - 1)
            Keys.onRightPressed: root.detail.detail = Math.min(3, root.detail.detail + 1)
        }
        DetailSegment {
            text: "Full"
            chosen: root.detail.detail === 3
            onClicked: root.detail.detail = 3
            Keys.onLeftPressed: root.detail.detail = Math.max(0, root.detail.detail - 1)
            Keys.onRightPressed: root.detail.detail = Math.min(3, root.detail.detail + 1)
        }
    }

    Text {
        Layout.fillWidth: true
        text: root.detail.detailSummary
        color: Theme.textSecondary
        font.pixelSize: Theme.captionSize
        wrapMode: Text.WordWrap
    }

    SectionLabel {
        Layout.topMargin: 8
        text: "Options"
    }

    OptionToggle {
        text: "Only the object (remove the floor and background)"
        checked: root.detail.objectMasking
        onToggled: root.detail.objectMasking = checked
    }
    OptionToggle {
        text: "Stricter: object in the middle of each photo"
        checked: root.detail.isolateSubject
        onToggled: root.detail.isolateSubject = checked
    }
    OptionToggle {
        text: "Photos were taken in order around the object"
        checked: root.detail.sequentialOrdering
        onToggled: root.detail.sequentialOrdering = checked
    }
    OptionToggle {
        text: "High feature sensitivity (plain or shiny objects, slower)"
        checked: root.detail.highFeatureSensitivity
        onToggled: root.detail.highFeatureSensitivity = checked
    }
    OptionToggle {
        text: "Use iPhone motion data to keep the model upright"
        checked: root.detail.useMotionData
        onToggled: root.detail.useMotionData = checked
    }

    SectionLabel {
        Layout.topMargin: 8
        text: "Also export"
    }

    OptionToggle {
        text: "OBJ with textures"
        checked: root.detail.exportOBJ
        onToggled: root.detail.exportOBJ = checked
    }
    OptionToggle {
        text: "Point cloud (PLY)"
        checked: root.detail.exportPointCloud
        onToggled: root.detail.exportPointCloud = checked
    }
}
