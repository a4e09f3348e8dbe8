import QtQuick 2.15
import QtQuick.FreeVirtualKeyboard 1.0

// The on-screen keyboard. It types into whichever text field has focus, and is shown while the
// input method reports the panel visible: a field asks for it when it takes focus and it goes
// when focus leaves the field or the page hides it. Pages place the panel along the bottom edge
// (full width, 250 px) and slide it themselves; after the panel goes it stays drawn for
// `slideDuration` so that a page's slide-out is seen.
Rectangle {
    id: root

    readonly property bool active: Qt.inputMethod.visible
    property int slideDuration: 150
    // 0: lower case, 1: the next letter upper case, 2: upper case until shift is tapped again.
    property int shiftState: 0
    readonly property bool upperCase: shiftState > 0

    readonly property real margin: 4
    readonly property real gap: 4
    readonly property real unitWidth: (width - 2 * margin - 9 * gap) / 10
    readonly property real rowHeight: (height - 2 * margin - 4 * gap) / 5

    // After the Enter key was delivered to the field (which saw it as Return).
    signal enterClicked()

    objectName: "inputPanel"
    implicitWidth: 480
    implicitHeight: 250
    color: "#161616"
    visible: active || hideDelay.running

    onActiveChanged: {
        if (active) {
            hideDelay.stop()
        } else {
            hideDelay.restart()
            shiftState = 0
        }
    }

    function typeText(text) {
        InputContext.commitText(text)
    }

    function typeLetter(letter) {
        typeText(upperCase ? letter.toUpperCase() : letter)
        if (shiftState === 1)
            shiftState = 0
    }

    Timer {
        id: hideDelay
        interval: root.slideDuration
    }

    // Taps between the keys stop here instead of reaching the page underneath.
    MouseArea {
        anchors.fill: parent
    }

    Column {
        anchors.fill: parent
        anchors.margins: root.margin
        spacing: root.gap

        Row {
            anchors.horizontalCenter: parent.horizontalCenter
            spacing: root.gap
            Repeater {
                model: ["1", "2", "3", "4", "5", "6", "7", "8", "9", "0"]
                KeyButton {
                    objectName: "key_" + modelData
                    label: modelData
                    unitWidth: root.unitWidth
                    gap: root.gap
                    height: root.rowHeight
                    onClicked: root.typeText(modelData)
                }
            }
        }

        Repeater {
            model: ["qwertyuiop", "asdfghjkl"]
            Row {
                anchors.horizontalCenter: parent.horizontalCenter
                spacing: root.gap
                Repeater {
                    model: modelData.split("")
                    KeyButton {
                        objectName: "key_" + modelData
                        label: root.upperCase ? modelData.toUpperCase() : modelData
                        unitWidth: root.unitWidth
                        gap: root.gap
                        height: root.rowHeight
                        onClicked: root.typeLetter(modelData)
                    }
                }
            }
        }

        Row {
            anchors.horizontalCenter: parent.horizontalCenter
            spacing: root.gap
            KeyButton {
                objectName: "key_shift"
                label: "\u21e7"
                units: 1.5
                latched: root.shiftState > 0
                unitWidth: root.unitWidth
                gap: root.gap
                height: root.rowHeight
                onClicked: root.shiftState = (root.shiftState + 1) % 3
                Rectangle {
                    // Caps lock: a bar under the arrow.
                    visible: root.shiftState === 2
                    width: parent.width / 3
                    height: 3
                    color: "#ffffff"
                    anchors.horizontalCenter: parent.horizontalCenter
                    anchors.bottom: parent.bottom
                    anchors.bottomMargin: 6
                }
            }
            Repeater {
                model: "zxcvbnm".split("")
                KeyButton {
                    objectName: "key_" + modelData
                    label: root.upperCase ? modelData.toUpperCase() : modelData
                    unitWidth: root.unitWidth
                    gap: root.gap
                    height: root.rowHeight
                    onClicked: root.typeLetter(modelData)
                }
            }
            KeyButton {
                objectName: "key_backspace"
                label: "\u232b"
                units: 1.5
                autoRepeat: true
                unitWidth: root.unitWidth
                gap: root.gap
                height: root.rowHeight
                onClicked: InputContext.sendKey(Qt.Key_Backspace)
            }
        }

        Row {
            anchors.horizontalCenter: parent.horizontalCenter
            spacing: root.gap
            Repeater {
                model: [{ "name": "minus", "text": "-" }, { "name": "slash", "text": "/" },
                        { "name": "colon", "text": ":" }]
                KeyButton {
                    objectName: "key_" + modelData.name
                    label: modelData.text
                    unitWidth: root.unitWidth
                    gap: root.gap
                    height: root.rowHeight
                    onClicked: root.typeText(modelData.text)
                }
            }
            KeyButton {
                objectName: "key_space"
                units: 3
                unitWidth: root.unitWidth
                gap: root.gap
                height: root.rowHeight
                onClicked: root.typeText(" ")
            }
            Repeater {
                model: [{ "name": "period", "text": "." }, { "name": "underscore", "text": "_" }]
                KeyButton {
                    objectName: "key_" + modelData.name
                    label: modelData.text
                    unitWidth: root.unitWidth
                    gap: root.gap
                    height: root.rowHeight
                    onClicked: root.typeText(modelData.text)
                }
            }
            KeyButton {
                objectName: "key_enter"
                label: "\u23ce"
                units: 2
                accent: true
                unitWidth: root.unitWidth
                gap: root.gap
                height: root.rowHeight
                onClicked: {
                    InputContext.sendKey(Qt.Key_Return, "\r")
                    root.enterClicked()
                }
            }
        }
    }
}
