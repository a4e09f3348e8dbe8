import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import ".."

// One read-only line of a settings page: the label on the left, the value right-aligned,
// shrunk to fit rather than cut.
Item {
    id: root

    property string title: ""
    property string value: ""
    property color valueColor: root.Material.foreground
    property int rowHeight: Theme.rowHeight

    width: parent ? parent.width : implicitWidth
    implicitHeight: rowHeight

    Label {
        id: titleLabel
        anchors.left: parent.left
        anchors.verticalCenter: parent.verticalCenter
        width: Math.min(implicitWidth, parent.width * 0.5)
        text: root.title
        font.pointSize: Theme.rowPointSize
        elide: Text.ElideRight
    }

    Label {
        objectName: root.objectName ? root.objectName + "Value" : ""
        anchors.left: titleLabel.right
        anchors.leftMargin: Theme.rowSpacing
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        height: parent.height
        text: root.value
        color: root.valueColor
        font.pointSize: Theme.rowPointSize
        fontSizeMode: Text.HorizontalFit
        minimumPointSize: 7
        horizontalAlignment: Text.AlignRight
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideLeft
    }
}
