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
    // The symbols layer puts every printable ASCII sign the letter layer lacks on the letter
    // keys (and the shift key), so a host name, URL or password of any kind can be typed.
    property bool symbols: false
    readonly property var letterRows: ["qwertyuiop", "asdfghjkl", "zxcvbnm"]
    readonly property var symbolRows: ["@#$%&*+=?!", "()[]{}<>|", "'\",;~^`"]
    readonly property string shiftSymbol: "\\"

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
            symbols = false
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

    // The key at `index` of letter row `row`: its letter, or its sign on the symbols layer.
    function keyText(row, index, letter) {
        return symbols ? symbolRows[row].charAt(index) : upperCase ? letter.toUpperCase() : letter
    }

    function typeKey(row, index, letter) {
        if (symbols)
            typeText(symbolRows[row].charAt(index))
        else
            typeLetter(letter)
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
            model: 2
            Row {
                readonly property int row: index
                anchors.horizontalCenter: parent.horizontalCenter
                spacing: root.gap
                Repeater {
                    model: root.letterRows[parent.row].split("")
                    KeyButton {
                        label: root.keyText(parent.row, index, modelData)
                        objectName: "key_" + (root.symbols ? label : modelData)
                        unitWidth: root.unitWidth
                        gap: root.gap
                        height: root.rowHeight
                        onClicked: root.typeKey(parent.row, index, modelData)
                    }
                }
            }
        }

        Row {
            id: thirdLetterRow
            readonly property int row: 2
            anchors.horizontalCenter: parent.horizontalCenter
            spacing: root.gap
            // On the symbols layer there is nothing to shift: the key types a sign instead.
            KeyButton {
                objectName: root.symbols ? "key_" + root.shiftSymbol : "key_shift"
                label: root.symbols ? root.shiftSymbol : "\u21e7"
                units: 1.5
                latched: !root.symbols && root.shiftState > 0
                unitWidth: root.unitWidth
                gap: root.gap
                height: root.rowHeight
                onClicked: {
                    if (root.symbols)
                        root.typeText(root.shiftSymbol)
                    else
                        root.shiftState = (root.shiftState + 1) % 3
                }
                Rectangle {
                    // Caps lock: a bar under the arrow.
                    visible: !root.symbols && root.shiftState === 2
                    width: parent.width / 3
                    height: 3
                    color: "#ffffff"
                    anchors.horizontalCenter: parent.horizontalCenter
                    anchors.bottom: parent.bottom
                    anchors.bottomMargin: 6
                }
            }
            Repeater {
                model: root.letterRows[thirdLetterRow.row].split("")
                KeyButton {
                    label: root.keyText(thirdLetterRow.row, index, modelData)
                    objectName: "key_" + (root.symbols ? label : modelData)
                    unitWidth: root.unitWidth
                    gap: root.gap
                    height: root.rowHeight
                    onClicked: root.typeKey(thirdLetterRow.row, index, modelData)
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
            // Takes the first unit of what was a wider space bar; the keys around stay put.
            KeyButton {
                objectName: "key_symbols"
                label: root.symbols ? "abc" : "#+="
                pixelSize: 16
                latched: root.symbols
                unitWidth: root.unitWidth
                gap: root.gap
                height: root.rowHeight
                onClicked: root.symbols = !root.symbols
            }
            KeyButton {
                objectName: "key_space"
                units: 2
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
