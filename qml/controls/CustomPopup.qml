import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import ".."

// The one pop-up of the scene. As information it closes on any click; as a dialog it waits
// for "Yes" or "No".
Popup {
    id: root

    property string text: ""
    property bool isDialog: false
    property url imageSource: ""
    property size imageSize: Theme.popupImageSize
    // Bound to the controller's dynTr by the user, so the buttons re-translate with the
    // language. A var, because a string property would not pass on an equal value.
    property var dynTr: ""

    signal buttonYesPressed()
    signal buttonNoPressed()

    readonly property bool hasImage: imageSource.toString() !== ""

    anchors.centerIn: Overlay.overlay
    width: Theme.popupWidth
    height: Theme.popupHeight + (hasImage ? Theme.popupImageExtra : 0)
    modal: true
    focus: true
    closePolicy: isDialog ? Popup.NoAutoClose : Popup.CloseOnReleaseOutside

    // The dark theme's own shade is a light wash; a dark one keeps the page behind readable.
    Overlay.modal: Shade {}

    background: Rectangle {
        color: root.Material.background
        border.color: root.Material.accent
        border.width: Theme.popupBorder
    }

    contentItem: Item {
        MouseArea {
            anchors.fill: parent
            enabled: !root.isDialog
            onClicked: root.close()
        }

        Column {
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: parent.top
            anchors.bottom: buttons.visible ? buttons.top : parent.bottom
            spacing: 10

            Image {
                objectName: "popupImage"
                anchors.horizontalCenter: parent.horizontalCenter
                visible: root.hasImage
                source: root.imageSource
                width: root.imageSize.width
                height: root.imageSize.height
                sourceSize: root.imageSize
                fillMode: Image.PreserveAspectFit
            }

            Label {
                objectName: "popupText"
                width: parent.width
                height: parent.height - (root.hasImage ? root.imageSize.height + parent.spacing : 0)
                text: root.text
                font.pointSize: Theme.popupPointSize
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
                wrapMode: Text.Wrap
                elide: Text.ElideRight
            }
        }

        Row {
            id: buttons
            visible: root.isDialog
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.bottom: parent.bottom
            anchors.bottomMargin: Theme.popupButtonBottom - root.bottomPadding
            spacing: Theme.popupButtonSpacing

            Repeater {
                model: [root.dynTr + qsTr("Yes"), root.dynTr + qsTr("No")]

                delegate: Button {
                    objectName: index === 0 ? "popupYesButton" : "popupNoButton"
                    width: Theme.popupButtonWidth
                    height: Theme.popupButtonHeight
                    text: modelData
                    font.pointSize: Theme.popupButtonPointSize
                    font.bold: true
                    font.capitalization: Font.MixedCase
                    topInset: 0
                    bottomInset: 0
                    padding: 0
                    background: Rectangle {
                        radius: 2
                        color: parent.down ? Qt.darker(root.Material.accent, 1.2) : root.Material.accent
                    }
                    contentItem: Label {
                        text: parent.text
                        font: parent.font
                        color: "white"
                        horizontalAlignment: Text.AlignHCenter
                        verticalAlignment: Text.AlignVCenter
                    }
                    // Which button it is, not what it reads: a label is the translator's.
                    readonly property bool isYes: index === 0
                    onClicked: {
                        if (isYes)
                            root.buttonYesPressed()
                        else
                            root.buttonNoPressed()
                        root.close()
                    }
                }
            }
        }
    }
}
