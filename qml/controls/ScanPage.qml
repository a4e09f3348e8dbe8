import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import ".."

// One looping reader animation with its invitation, and a button to the other reader's page.
Item {
    id: root

    property string namePrefix: ""
    property string framePath: ""
    property int frameCount: 1
    property string text: ""
    property string buttonText: ""
    property url buttonIcon: ""

    signal switchPressed()

    // One pass of the animation spends the same time on every frame.
    property real frame: 0
    NumberAnimation on frame {
        objectName: root.namePrefix + "Animation"
        from: 0
        to: root.frameCount
        duration: Theme.scanLoopMs
        loops: Animation.Infinite
        running: root.visible
    }

    FrameImage {
        objectName: root.namePrefix + "Image"
        anchors.centerIn: parent
        anchors.verticalCenterOffset: Theme.scanImageOffset
        path: root.framePath
        count: root.frameCount
        index: Math.floor(root.frame)
    }

    Label {
        objectName: root.namePrefix + "Text"
        anchors.top: parent.top
        anchors.topMargin: Theme.scanTextTop
        anchors.right: parent.right
        anchors.rightMargin: Theme.scanTextRightMargin
        width: Theme.scanTextWidth
        height: Theme.scanSingleTextHeight
        text: root.text
        font.pointSize: Theme.scanTextPointSize
        font.bold: true
        horizontalAlignment: Text.AlignRight
        verticalAlignment: Text.AlignVCenter
    }

    // The left border sits off-screen, so the button reads as a tab from the edge.
    AbstractButton {
        id: button
        objectName: root.namePrefix + "Button"
        x: -Theme.scanButtonBorder
        anchors.bottom: parent.bottom
        anchors.bottomMargin: Theme.scanButtonBottomMargin
        width: Theme.scanButtonWidth
        height: Theme.scanButtonHeight
        leftPadding: Theme.scanButtonBorder + 20
        rightPadding: Theme.scanButtonBorder + 10
        text: root.buttonText
        font.pointSize: Theme.scanButtonPointSize

        background: Rectangle {
            color: Theme.scanButtonFill
            border.width: Theme.scanButtonBorder
            border.color: button.pressed ? Theme.scanButtonPressed : root.Material.accent
        }

        contentItem: Row {
            spacing: 15

            TintedIcon {
                anchors.verticalCenter: parent.verticalCenter
                source: root.buttonIcon
                size: Theme.scanButtonIconSize
                tint: "white"
            }

            Label {
                objectName: root.namePrefix + "ButtonText"
                anchors.verticalCenter: parent.verticalCenter
                text: button.text
                font: button.font
                color: "white"
                horizontalAlignment: Text.AlignLeft
            }
        }

        onClicked: root.switchPressed()
    }
}
