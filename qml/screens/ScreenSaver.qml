import QtQuick 2.15
import ".."

// Ignition off: the configured colour and image, nothing else.
Rectangle {
    id: root
    objectName: "screenSaverPage"
    color: manager.screenSaverBg

    Image {
        objectName: "screenSaverImage"
        anchors.centerIn: parent
        width: Theme.screenSaverImageSize
        height: Theme.screenSaverImageSize
        fillMode: Image.PreserveAspectFit
        source: manager.screenSaverImg
    }
}
