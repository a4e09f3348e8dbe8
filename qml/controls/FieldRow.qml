import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import ".."

// One editable line of a settings page: the label on the left, the control on the right. A
// row with a tool tip marks its label; a tap on the label shows the tip for a while (a touch
// screen has no hover).
Item {
    id: root

    property string title: ""
    property string toolTip: ""
    default property alias content: slot.data

    width: parent ? parent.width : implicitWidth
    implicitHeight: Math.max(Theme.rowHeight + 8, slot.childrenRect.height)

    Row {
        id: titleRow
        anchors.left: parent.left
        anchors.right: slot.left
        anchors.rightMargin: Theme.rowSpacing
        anchors.verticalCenter: parent.verticalCenter
        spacing: 6

        Label {
            id: titleLabel
            width: Math.min(implicitWidth, titleRow.width - (tipMark.visible ? tipMark.width + titleRow.spacing : 0))
            anchors.verticalCenter: parent.verticalCenter
            text: root.title
            font.pointSize: Theme.rowPointSize
            wrapMode: Text.Wrap
            maximumLineCount: 2
            elide: Text.ElideRight
        }

        // Marks a label that has a tip.
        Rectangle {
            id: tipMark
            anchors.verticalCenter: parent.verticalCenter
            visible: root.toolTip !== ""
            width: Theme.tipMarkSize
            height: Theme.tipMarkSize
            radius: width / 2
            color: "transparent"
            border.color: root.Material.hintTextColor
            border.width: 1

            Label {
                anchors.centerIn: parent
                text: "i"
                font.pointSize: Theme.menuHintPointSize
                font.bold: true
                color: root.Material.hintTextColor
            }
        }
    }

    MouseArea {
        anchors.fill: titleRow
        enabled: root.toolTip !== ""
        onClicked: tip.visible = !tip.visible
    }

    ToolTip {
        id: tip
        objectName: root.objectName ? root.objectName + "ToolTip" : ""
        parent: titleLabel
        text: root.toolTip
        timeout: 6000
        font.pointSize: Theme.menuHintPointSize
    }

    Item {
        id: slot
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        width: childrenRect.width
        height: childrenRect.height
    }
}
