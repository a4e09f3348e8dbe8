import QtQuick 2.15

// The numbered pictures path + "0.png" … path + (count - 1) + ".png", shown one at a time and
// centred on this item. Every picture is built once and kept, so moving to the next one only
// changes which is visible: nothing is decoded or uploaded again while an animation loops.
// The first picture loads at once, the others in the background.
Item {
    id: root

    property string path: ""
    property int count: 0
    property int index: 0
    // The picture on screen, and its file.
    readonly property int shown: Math.max(0, Math.min(index, count - 1))
    readonly property url source: count > 0 ? path + shown + ".png" : ""

    Repeater {
        model: root.count

        delegate: Image {
            anchors.centerIn: parent
            source: root.path + index + ".png"
            asynchronous: index > 0
            // Drawn at its own size on whole pixels: no filtering needed.
            smooth: false
            visible: index === root.shown
        }
    }
}
