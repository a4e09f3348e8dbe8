import QtQuick 2.15
import QtQuick.Controls 2.15
import ".."
import "../controls"

// The idle page: the card animation and the ticket animation take turns, each with its
// invitation. With no switch interval configured the modes change after each full run of
// frames; otherwise the interval timer switches them.
Item {
    id: root
    objectName: "scanScreensPage"

    property int mode: 0
    property int frame: 0
    readonly property int frameCount: mode === 0 ? Theme.cardFrames : Theme.ticketFrames
    readonly property int switchInterval: manager.animSwitchSec > 0 ? manager.animSwitchSec : 0

    function toggleMode() {
        mode = 1 - mode
    }

    Timer {
        objectName: "scanFrameTimer"
        interval: Theme.scanFrameMs
        repeat: true
        running: root.visible
        onTriggered: {
            if (root.frame >= root.frameCount - 1) {
                root.frame = 0
                if (root.switchInterval === 0)
                    root.toggleMode()
            } else {
                root.frame++
            }
        }
    }

    Timer {
        objectName: "scanSwitchTimer"
        interval: Math.max(1, root.switchInterval)
        repeat: true
        running: root.visible && root.switchInterval > 0
        onTriggered: {
            root.toggleMode()
            root.frame = 0
        }
    }

    Item {
        objectName: "scanImage"
        anchors.centerIn: parent
        anchors.verticalCenterOffset: Theme.scanImageOffset
        readonly property url source: root.mode === 0 ? cardFrames.source : ticketFrames.source

        FrameImage {
            id: cardFrames
            path: "qrc:/qml/images/NFC/"
            count: Theme.cardFrames
            index: root.frame
            visible: root.mode === 0
        }

        FrameImage {
            id: ticketFrames
            path: "qrc:/qml/images/Barcode/"
            count: Theme.ticketFrames
            index: root.frame
            visible: root.mode === 1
        }
    }

    Label {
        objectName: "scanText"
        anchors.top: parent.top
        anchors.topMargin: Theme.scanTextTop
        anchors.right: parent.right
        anchors.rightMargin: Theme.scanTextRightMargin
        width: Theme.scanTextWidth
        height: Theme.scanTextHeight
        text: root.mode === 0 ? manager.dynTr + qsTr("SCAN\nYOUR CARD") : manager.dynTr + qsTr("SCAN\nYOUR TICKET")
        font.pointSize: Theme.scanTextPointSize
        font.bold: true
        horizontalAlignment: Text.AlignRight
        verticalAlignment: Text.AlignVCenter
    }
}
