import QtQuick 2.15
import QtQuick.Controls.Material 2.15
import ".."

// The busy spinner: three quarters of a ring in the accent colour, turning, with the ring's
// size and stroke of the style's busy indicator. A tinted picture turned as a whole draws alike
// on both back ends and costs no repainting of its own. `running` only turns it.
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

        RotationAnimator on rotation {
            from: 0
            to: 360
            duration: Theme.spinnerTurnMs
            loops: Animation.Infinite
            running: root.running
        }
    }
}
