import QtQuick 2.15
import QtQuick.Controls 2.15
import ".."
import "../controls"

// Waiting: start-up, the service initialising, a reboot or shutdown under way.
Item {
    id: root
    objectName: "busyPage"

    Column {
        anchors.top: parent.top
        anchors.topMargin: Theme.busyTop
        anchors.left: parent.left
        anchors.right: parent.right
        spacing: Theme.busySpacing

        Spinner {
            objectName: "busyIndicator"
            anchors.horizontalCenter: parent.horizontalCenter
            width: Math.min(root.width, root.height) / 5
            height: width
            running: root.visible
        }

        Label {
            objectName: "busyMessage"
            width: parent.width
            text: manager.message
            font.pointSize: Theme.busyPointSize
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
        }
    }
}
