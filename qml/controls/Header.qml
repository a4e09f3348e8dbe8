import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import ".."

// The strip above every passenger page: the language flag and the clock. The clock also hides
// the technicians' way in: press and hold it, or tap it more than twice within a second.
Item {
    id: root

    property string language: ""

    signal flagClicked()
    signal magicButtonPressed()

    readonly property var clockLocale: language ? Qt.locale(language) : Qt.locale()

    height: Theme.headerHeight

    function refreshClock() {
        var now = new Date()
        clockDate.text = now.toLocaleDateString(clockLocale, "dd-MMM-yyyy")
        clockTime.text = now.toLocaleTimeString(clockLocale, "hh:mm")
    }

    onClockLocaleChanged: refreshClock()

    Button {
        id: flag
        objectName: "flagButton"
        anchors.left: parent.left
        anchors.leftMargin: Theme.flagLeftMargin
        anchors.verticalCenter: parent.verticalCenter
        width: Theme.flagIconSize
        height: Theme.flagIconSize
        padding: 0
        topInset: 0
        bottomInset: 0
        flat: true
        icon.source: root.language === "el_GR" ? "qrc:/qml/images/Flags/uk.png" : "qrc:/qml/images/Flags/gr.png"
        icon.width: Theme.flagIconSize
        icon.height: Theme.flagIconSize
        icon.color: "transparent"
        display: AbstractButton.IconOnly
        background: Rectangle {
            radius: Theme.flagRadius
            color: flag.down ? Qt.rgba(1, 1, 1, 0.2) : "transparent"
        }
        onClicked: root.flagClicked()
    }

    Item {
        id: clock
        objectName: "clock"
        anchors.right: parent.right
        anchors.rightMargin: Theme.clockRightMargin
        anchors.verticalCenter: parent.verticalCenter
        width: Theme.clockWidth
        height: Theme.clockHeight

        readonly property color textColor: root.Material.theme === Material.Dark ? "white" : "black"

        Column {
            anchors.centerIn: parent

            Label {
                id: clockDate
                objectName: "clockDate"
                anchors.horizontalCenter: parent.horizontalCenter
                color: clock.textColor
                font.pixelSize: Theme.clockDatePixelSize
                font.weight: Font.Medium
            }
            Label {
                id: clockTime
                objectName: "clockTime"
                anchors.horizontalCenter: parent.horizontalCenter
                color: clock.textColor
                font.pixelSize: Theme.clockTimePixelSize
                font.bold: true
            }
        }

        Timer {
            objectName: "clockTimer"
            interval: Theme.clockRefreshMs
            repeat: true
            running: true
            triggeredOnStart: true
            onTriggered: root.refreshClock()
        }

        // Counts the presses that begin inside one window opened by the first of them.
        property int tapCount: 0

        Timer {
            id: tapWindow
            objectName: "clockTapWindow"
            interval: Theme.magicTapWindowMs
            onTriggered: {
                if (clock.tapCount > Theme.magicTapCount) {
                    console.info("[QML][Clock] More than 2 taps detected within 1 sec.")
                    root.magicButtonPressed()
                }
                clock.tapCount = 0
            }
        }

        MouseArea {
            objectName: "clockArea"
            anchors.fill: parent
            onPressed: {
                if (!tapWindow.running)
                    tapWindow.start()
                clock.tapCount++
            }
            onPressAndHold: {
                tapWindow.stop()
                clock.tapCount = 0
                console.info("[QML][Clock] Press and hold detected")
                root.magicButtonPressed()
            }
            onClicked: console.info("[QML] Clock tapped.")
        }
    }
}
