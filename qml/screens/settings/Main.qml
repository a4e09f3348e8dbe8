import QtQuick 2.15
import QtQuick.Controls 2.15

// Stands in for the maintenance area until it is built.
Item {
    id: root
    objectName: "settingsPage"

    Label {
        anchors.centerIn: parent
        text: "Settings"
        font.pointSize: 24
    }
}
