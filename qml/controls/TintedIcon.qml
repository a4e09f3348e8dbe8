import QtQuick 2.15

// A square icon redrawn in one colour. The application draws the coloured picture itself
// (image://tinted), so it shows alike whichever back end draws the scene.
Item {
    id: root

    property url source: ""
    property int size: 0
    property color tint: "white"

    width: size
    height: size

    Image {
        objectName: root.objectName ? root.objectName + "Image" : ""
        anchors.fill: parent
        // "#rrggbb" or "#aarrggbb", without its "#".
        source: root.source.toString() !== "" ? "image://tinted/" + String(root.tint).substring(1) + "/" + root.source
                                              : ""
        sourceSize: Qt.size(root.size, root.size)
        fillMode: Image.PreserveAspectFit
        smooth: true
    }
}
