import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import "../.."
import "../../controls"

// The technician's PIN entry, below the passenger header. The PIN shows as one dot per digit,
// since passengers see the screen and screenshots are taken of it; a refused
// one shakes the pad and is cleared, an accepted one opens the settings. After too many wrong
// PINs the pad is off and the PIN line counts down the seconds until it takes PINs again.
Item {
    id: root
    objectName: "loginPage"

    property string pin: ""
    readonly property bool locked: manager.session.locked
    readonly property int lockSeconds: manager.session.lockSecondsLeft

    readonly property bool darkTheme: Material.theme === Material.Dark
    readonly property var keys: ["1", "2", "3", "4", "5", "6", "7", "8", "9", "\u2190", "0", "CLR"]

    function press(key) {
        if (key === "CLR")
            pin = ""
        else if (key === "\u2190")
            pin = pin.slice(0, -1)
        else
            pin += key
    }

    // Every arrival and departure starts from an empty entry. Clearing as the page goes is
    // enough for both, and a page built only when first asked for may report itself shown a
    // moment after the first key was already pressed.
    onVisibleChanged: if (!visible) pin = ""
    onLockedChanged: pin = ""

    Column {
        anchors.top: parent.top
        anchors.topMargin: Theme.headerHeight + Theme.loginTop
        anchors.horizontalCenter: parent.horizontalCenter
        spacing: Theme.loginSpacing

        Item {
            id: pinLine
            objectName: "pinLine"
            width: pad.width
            height: Theme.pinLineHeight

            TintedIcon {
                id: lock
                anchors.left: parent.left
                anchors.leftMargin: Theme.paneMargin
                anchors.verticalCenter: parent.verticalCenter
                source: "qrc:/qml/images/Icons/lock.svg"
                size: Theme.lockIconSize
                tint: root.locked ? Theme.errorTint : root.darkTheme ? root.Material.accent : root.Material.foreground
            }

            Label {
                objectName: "pinText"
                anchors.left: lock.right
                anchors.leftMargin: 2 * Theme.paneMargin
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                text: root.locked ? manager.dynTr + qsTr("Try again in %1 s").arg(root.lockSeconds)
                                  : root.pin === "" ? manager.dynTr + qsTr("Pin") : "\u2022".repeat(root.pin.length)
                color: root.locked ? Theme.errorTint : root.pin === "" ? Theme.pinPlaceholder : root.Material.foreground
                font.pointSize: Theme.pinPointSize
                // A long PIN loses its first dots; the wait, in any language, shrinks to fit.
                elide: root.locked ? Text.ElideNone : Text.ElideLeft
                fontSizeMode: root.locked ? Text.HorizontalFit : Text.FixedSize
                minimumPointSize: Theme.pinMinPointSize
            }

            Rectangle {
                anchors.bottom: parent.bottom
                width: parent.width
                height: 2
                color: root.Material.accent
            }
        }

        Grid {
            id: pad
            objectName: "numberPad"
            columns: 3
            columnSpacing: Theme.padColumnSpacing
            rowSpacing: Theme.padRowSpacing
            transform: Translate {
                id: shakeOffset
                objectName: "padShake"
            }

            Repeater {
                model: root.keys

                delegate: Button {
                    id: key
                    readonly property bool isNumber: index !== 9 && index !== 11
                    objectName: "pinKey_" + (modelData === "\u2190" ? "back" : modelData === "CLR" ? "clear" : modelData)
                    width: Theme.padButtonWidth
                    height: Theme.padButtonHeight
                    topInset: 0
                    bottomInset: 0
                    text: modelData
                    enabled: !root.locked
                    font.pointSize: Theme.padPointSize
                    font.weight: Font.Medium
                    background: Rectangle {
                        radius: Theme.padRadius
                        color: key.isNumber ? (root.darkTheme ? Theme.padNumberDark : Theme.padNumberLight)
                                            : (root.darkTheme ? Theme.padOtherDark : Theme.padOtherLight)
                        opacity: key.down ? 0.6 : key.enabled ? 1.0 : 0.4
                    }
                    onClicked: root.press(modelData)
                }
            }
        }

        Button {
            objectName: "loginButton"
            width: pad.width
            height: Theme.loginButtonHeight
            topInset: 0
            bottomInset: 0
            text: manager.dynTr + qsTr("LOGIN")
            font.pointSize: Theme.loginPointSize
            font.bold: true
            highlighted: true
            enabled: root.pin !== "" && !root.locked
            onClicked: manager.settingsLoginRequest(root.pin)
        }
    }

    // Out to the right, across to the left, back to the middle; twice.
    SequentialAnimation {
        id: shake
        objectName: "padShakeAnimation"
        loops: Theme.shakeLoops
        NumberAnimation { target: shakeOffset; property: "x"; to: Theme.shakeOffset; duration: Theme.shakeStepMs }
        NumberAnimation { target: shakeOffset; property: "x"; to: -Theme.shakeOffset; duration: 2 * Theme.shakeStepMs }
        NumberAnimation { target: shakeOffset; property: "x"; to: 0; duration: Theme.shakeStepMs }
    }

    Connections {
        target: manager

        function onSettingsAccessGranted() {
            console.info("[QML] Settings access granted")
        }

        function onSettingsAccessDenied() {
            console.warn("[QML] Settings access denied")
            root.pin = ""
            shake.restart()
        }
    }
}
