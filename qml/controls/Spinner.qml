import QtQuick 2.15
import QtQuick.Controls.Material 2.15
import ".."

// The busy spinner: three quarters of a ring in the accent colour, turning, with the ring's
// size and stroke of the style's busy indicator. A tinted picture turned as a whole draws alike
// on both back ends. `running` only turns it; stopped, it stays where it is.
Item {
    id: root

    property bool running: false

    implicitWidth: 48
    implicitHeight: 48

    TintedIcon {
        id: arc
        objectName: root.objectName ? root.objectName + "Arc" : ""
        anchors.centerIn: parent
        size: Math.min(root.width, root.height)
        source: "qrc:/qml/images/Icons/spinner.svg"
        tint: root.Material.accentColor
    }

    // Turned a step at a time rather than by an animation: the software renderer draws each frame
    // of a running animation as soon as the last is out, some hundreds a second.
    Timer {
        interval: Theme.spinnerStepMs
        repeat: true
        running: root.running
        onTriggered: arc.rotation = (arc.rotation + 360 * interval / Theme.spinnerTurnMs) % 360
    }
}
