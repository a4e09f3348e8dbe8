import QtQuick 2.15
import QtGraphicalEffects 1.15

// A square icon redrawn in one colour.
Item {
    id: root

    property url source: ""
    property int size: 0
    property color tint: "white"

    width: size
    height: size

    Image {
        id: image
        anchors.fill: parent
        source: root.source
        sourceSize: Qt.size(root.size, root.size)
        fillMode: Image.PreserveAspectFit
        smooth: true
        visible: false
    }

    ColorOverlay {
        anchors.fill: image
        source: image
        color: root.tint
    }
}
