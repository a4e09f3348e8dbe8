import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import QtQuick.FreeVirtualKeyboard 1.0
import ".."
import "../controls"

// Serial-number entry, shown while the device has none. Technicians only: not translated.
Item {
    id: root
    objectName: "initPage"

    // One letter C or K, then exactly eight digits.
    readonly property var serialPattern: /^[CK][0-9]{8}$/
    readonly property bool serialValid: serialPattern.test(serialField.text)
    // Why the last save failed; the page stays until a number is kept.
    property string saveError: ""

    function save() {
        if (!serialValid)
            return
        Qt.inputMethod.hide()
        confirmPopup.text = "Please confirm the serial number\n\n" + serialField.text
        confirmPopup.open()
    }

    Column {
        anchors.top: parent.top
        anchors.topMargin: Theme.headerHeight + 40
        anchors.horizontalCenter: parent.horizontalCenter
        spacing: 20

        Label {
            objectName: "initTitle"
            anchors.horizontalCenter: parent.horizontalCenter
            text: "Enter Serial Number"
            font.pointSize: 18
            font.bold: true
        }

        TextField {
            id: serialField
            objectName: "serialField"
            anchors.horizontalCenter: parent.horizontalCenter
            width: Theme.fieldWidth
            height: Theme.fieldHeight
            text: manager.deviceId
            placeholderText: "K00000000"
            font.pointSize: 18
            horizontalAlignment: TextInput.AlignHCenter
            inputMethodHints: Qt.ImhNoPredictiveText | Qt.ImhPreferUppercase
            // The panel's Enter reaches the field as Return, like a real keyboard's.
            onAccepted: root.save()
            onTextChanged: root.saveError = ""
            onActiveFocusChanged: {
                if (!activeFocus)
                    Qt.inputMethod.hide()
            }
        }

        Label {
            objectName: "serialHint"
            anchors.horizontalCenter: parent.horizontalCenter
            width: Theme.fieldWidth
            visible: !root.serialValid
            text: "Must start with 'C' or 'K' followed by 8 digits"
            color: Theme.hintText
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
        }

        Label {
            objectName: "serialError"
            anchors.horizontalCenter: parent.horizontalCenter
            width: Theme.fieldWidth
            visible: root.saveError !== ""
            text: "The serial number was not saved: " + root.saveError
            color: Theme.hintText
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
        }

        Button {
            objectName: "saveButton"
            anchors.horizontalCenter: parent.horizontalCenter
            width: Theme.saveButtonWidth
            height: Theme.saveButtonHeight
            text: "SAVE"
            highlighted: true
            enabled: root.serialValid
            onClicked: root.save()
        }
    }

    // Rises from the bottom edge while the input method is up.
    InputPanel {
        id: inputPanel
        objectName: "inputPanel"
        z: 99
        x: 0
        y: root.height
        width: root.width
        height: Theme.keyboardHeight

        // A transition, not a behaviour: the page's own sizing must not slide the panel.
        states: State {
            name: "shown"
            when: Qt.inputMethod.visible
            PropertyChanges {
                target: inputPanel
                y: root.height - inputPanel.height
            }
        }
        transitions: Transition {
            NumberAnimation {
                properties: "y"
                duration: Theme.keyboardSlideMs
                easing.type: Easing.InOutQuad
            }
        }
    }

    Connections {
        target: manager

        function onErrorOccured(error) {
            if (root.visible)
                root.saveError = error
        }
    }

    CustomPopup {
        id: confirmPopup
        objectName: "serialConfirmPopup"
        isDialog: true
        dynTr: manager.dynTr
        onButtonYesPressed: manager.saveDeviceIdRequest(serialField.text)
    }
}
