import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15

// The toolkit floor: the least a Material window of the validator's size can cost.
ApplicationWindow {
    width: 480
    height: 800
    visible: true
    Material.theme: Material.Dark

    property alias text: label.text
    property bool busy: false

    Column {
        anchors.centerIn: parent
        spacing: 24

        Image {
            anchors.horizontalCenter: parent.horizontalCenter
            source: "qrc:/bench/floor.png"
        }
        BusyIndicator {
            anchors.horizontalCenter: parent.horizontalCenter
            running: busy
        }
        Label {
            anchors.horizontalCenter: parent.horizontalCenter
            id: label
            objectName: "floorLabel"
            text: "Valid"
            font.pixelSize: 40
        }
    }
}
