import QtQuick 2.15

// The display's colour test over the whole screen: red, then green, then blue, one tap each;
// the tap on blue ends it.
Rectangle {
    id: root
    objectName: "rgbTestPage"

    readonly property string title: "RGB Test"
    readonly property bool fullPage: true
    readonly property var colours: ["#FF0000", "#00FF00", "#0000FF"]
    property int step: 0

    signal finished()

    color: colours[step]

    MouseArea {
        anchors.fill: parent
        onClicked: {
            if (root.step < root.colours.length - 1)
                root.step++
            else
                root.finished()
        }
    }
}
