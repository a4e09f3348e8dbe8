import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import ".."

// A whole-number field with − and + buttons. Typed text outside the range shows red and is
// never taken: the value stays, and leaving the field puts the value's text back.
SpinBox {
    id: root

    // False while the typed text is not a number of the range.
    readonly property bool typedValid: input.acceptableInput

    width: Theme.spinWidth
    editable: true
    font.pointSize: Theme.fieldPointSize
    inputMethodHints: Qt.ImhDigitsOnly | Qt.ImhNoPredictiveText
    // The box takes the typed text on Enter and when the field is left; a number out of range
    // would be clamped to the nearest end. It reads as the current value instead, so nothing
    // the technician did not choose is ever taken.
    valueFromText: function (text, locale) {
        var number
        try {
            number = Number.fromLocaleString(locale, text)
        } catch (error) {
            return root.value
        }
        return number >= Math.min(root.from, root.to) && number <= Math.max(root.from, root.to)
               ? Math.round(number) : root.value
    }
    validator: IntValidator {
        bottom: Math.min(root.from, root.to)
        top: Math.max(root.from, root.to)
    }

    contentItem: TextInput {
        id: input
        objectName: root.objectName ? root.objectName + "Input" : ""
        text: root.displayText
        font: root.font
        color: !acceptableInput ? Theme.statusRed
                                : root.enabled ? root.Material.foreground : root.Material.hintTextColor
        selectionColor: root.Material.textSelectionColor
        selectedTextColor: root.Material.foreground
        horizontalAlignment: Qt.AlignHCenter
        verticalAlignment: Qt.AlignVCenter
        readOnly: !root.editable
        validator: root.validator
        inputMethodHints: root.inputMethodHints
        selectByMouse: false
        clip: true

        // Enter on a number out of range stops here, so the red text stays for correction.
        Keys.onPressed: refuseEnter(event)
        Keys.onReleased: refuseEnter(event)

        function refuseEnter(event) {
            if (!acceptableInput && (event.key === Qt.Key_Return || event.key === Qt.Key_Enter))
                event.accepted = true
        }

        onActiveFocusChanged: {
            if (!activeFocus && !acceptableInput)
                text = Qt.binding(function () { return root.displayText })
        }
    }
}
