import QtQuick 2.15

// One key of the panel. It never takes focus, so tapping it leaves the text field focused.
Rectangle {
    id: root

    property string label
    property real units: 1
    property real unitWidth: 44
    property real gap: 4
    property bool accent: false
    property bool latched: false
    // Labels of more than one character (the layer key) need a smaller face to fit one unit.
    property int pixelSize: 24
    // Held down, the key repeats, as backspace does on a hardware keyboard.
    property bool autoRepeat: false
    readonly property bool pressed: mouse.pressed

    signal clicked()

    width: unitWidth * units + gap * (units - 1)
    radius: 6
    color: mouse.pressed ? "#707070" : latched ? "#5a5a5a" : accent ? "#1e7d4f" : "#353535"
    border.color: latched ? "#e0e0e0" : "#4a4a4a"
    border.width: 1

    Text {
        anchors.centerIn: parent
        text: root.label
        color: "#ffffff"
        font.pixelSize: root.pixelSize
        font.bold: true
    }

    MouseArea {
        id: mouse
        anchors.fill: parent
        onClicked: root.clicked()
        onPressAndHold: if (root.autoRepeat) repeatTimer.start()
        onReleased: repeatTimer.stop()
        onCanceled: repeatTimer.stop()
    }

    Timer {
        id: repeatTimer
        // The first repeat waits for the hold itself (about 800 ms), then keys follow quickly.
        interval: 80
        repeat: true
        onTriggered: root.clicked()
    }
}
