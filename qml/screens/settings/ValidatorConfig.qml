import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import "../.."
import "../../controls"

// The validator's settings: three kept by the validation service, two by the application.
// The on-board computer's broker is edited in its parts, so a user or password holding any
// sign ("#", "?", "/", "@") stays itself: the record builds the URL and escapes them. Edits
// stay on this page until "Save"; parts that make no broker URL are refused there, with
// nothing sent and the typing kept. The password shows as dots unless the eye is tapped.
SettingsPane {
    id: root
    objectName: "validatorConfigPage"
    title: "Validator Configuration"

    readonly property var config: validatorManager.config
    readonly property bool urlChanged: config !== null && (hostField.text !== config.obuHost
                                                           || portField.text !== config.obuPort
                                                           || userField.text !== config.obuUserName
                                                           || passwordField.text !== config.obuPassword)
    readonly property bool changed: urlChanged
                                    || (config && passbackSpin.value !== config.passbackSecs)
                                    || shutdownSpin.value !== manager.shutdownDelaySec
                                    || (config && qrSwitch.checked !== config.passbackQrEnabled)
                                    || errorSwitch.checked !== manager.showErrorDesc
    readonly property bool hostAcceptable: !urlChanged || (config && config.isBrokerHost(hostField.text))
    readonly property bool portAcceptable: !urlChanged || (config && config.isBrokerPort(portField.text))

    function save() {
        Qt.inputMethod.hide()
        // The service gets all three of its settings in one request, then the application
        // takes its two.
        if (urlChanged && !config.setObuParts(hostField.text, portField.text, userField.text, passwordField.text)) {
            refusal.text = "OBC URL is not a valid URL"
            refusal.open()
            return
        }
        config.passbackSecs = passbackSpin.value
        config.passbackQrEnabled = qrSwitch.checked
        validatorManager.saveConfig()
        manager.shutdownDelaySec = shutdownSpin.value
        manager.showErrorDesc = errorSwitch.checked
        root.StackView.view.pop()
    }

    function back() {
        Qt.inputMethod.hide()
        validatorManager.refreshConfig()
        root.StackView.view.pop()
    }

    StackView.onRemoved: refusal.close()

    SettingsGroup {
        title: "Validator"

        FieldRow {
            title: "OBC Host"
            TextField {
                id: hostField
                objectName: "obuHostField"
                width: Theme.valueFieldWidth
                text: root.config ? root.config.obuHost : ""
                font.pointSize: Theme.fieldPointSize
                inputMethodHints: Qt.ImhUrlCharactersOnly | Qt.ImhNoPredictiveText | Qt.ImhNoAutoUppercase
                color: root.hostAcceptable ? Material.foreground : Theme.statusRed
            }
        }
        FieldRow {
            title: "OBC Port"
            TextField {
                id: portField
                objectName: "obuPortField"
                width: Theme.valueFieldWidth
                text: root.config ? root.config.obuPort : ""
                font.pointSize: Theme.fieldPointSize
                inputMethodHints: Qt.ImhDigitsOnly | Qt.ImhNoPredictiveText
                color: root.portAcceptable ? Material.foreground : Theme.statusRed
            }
        }
        FieldRow {
            title: "OBC User"
            TextField {
                id: userField
                objectName: "obuUserField"
                width: Theme.valueFieldWidth
                text: root.config ? root.config.obuUserName : ""
                font.pointSize: Theme.fieldPointSize
                inputMethodHints: Qt.ImhNoPredictiveText | Qt.ImhNoAutoUppercase
            }
        }
        FieldRow {
            title: "OBC Password"
            TextField {
                id: passwordField
                objectName: "obuPasswordField"
                property bool revealed: false
                width: Theme.valueFieldWidth
                rightPadding: revealButton.width
                text: root.config ? root.config.obuPassword : ""
                font.pointSize: Theme.fieldPointSize
                echoMode: revealed ? TextInput.Normal : TextInput.Password
                inputMethodHints: Qt.ImhNoPredictiveText | Qt.ImhNoAutoUppercase | Qt.ImhSensitiveData
                                  | (revealed ? 0 : Qt.ImhHiddenText)

                // Shows the password while a technician checks what was typed; the field keeps
                // its focus, so the keyboard stays up.
                ToolButton {
                    id: revealButton
                    objectName: "obuPasswordReveal"
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    width: Theme.revealButtonSize
                    height: Theme.revealButtonSize
                    focusPolicy: Qt.NoFocus
                    onClicked: passwordField.revealed = !passwordField.revealed
                    TintedIcon {
                        anchors.centerIn: parent
                        source: passwordField.revealed ? "qrc:/qml/images/Icons/eye-off.svg" : "qrc:/qml/images/Icons/eye.svg"
                        size: Theme.revealIconSize
                        tint: root.Material.foreground
                    }
                }
            }
        }
        FieldRow {
            title: "Passback Time (sec)"
            SettingsSpinBox {
                id: passbackSpin
                objectName: "passbackSpin"
                from: 0
                to: 86400
                stepSize: 1
                value: root.config ? root.config.passbackSecs : 0
            }
        }
        FieldRow {
            objectName: "shutdownDelayRow"
            title: "Shutdown Delay (sec)"
            toolTip: "The delay, in seconds, after which the system\nwill start the shutdown sequence, providing that\nthe ignition has been turned off (max=900 sec)."
            SettingsSpinBox {
                id: shutdownSpin
                objectName: "shutdownDelaySpin"
                from: manager.settingMinimum("gui/shutdownDelaySec")
                to: manager.settingMaximum("gui/shutdownDelaySec")
                stepSize: 5
                value: manager.shutdownDelaySec
            }
        }
        FieldRow {
            title: "QR Passback Enabled"
            Switch {
                id: qrSwitch
                objectName: "qrPassbackSwitch"
                checked: root.config ? root.config.passbackQrEnabled : false
            }
        }
        FieldRow {
            objectName: "showErrorDescRow"
            title: "Show Error Description"
            toolTip: "If enabled, a full error description will\nbe displayed in the 'Out-of-Order' screen\ninstead of just an error code."
            Switch {
                id: errorSwitch
                objectName: "showErrorDescSwitch"
                checked: manager.showErrorDesc
            }
        }
    }

    Row {
        width: parent.width
        spacing: Theme.paneMargin

        Button {
            objectName: "validatorConfigBack"
            width: (parent.width - parent.spacing) / 2
            height: Theme.settingsButtonHeight
            text: "Back"
            font.pointSize: Theme.settingsButtonPointSize
            onClicked: root.back()
        }
        Button {
            objectName: "validatorConfigSave"
            width: (parent.width - parent.spacing) / 2
            height: Theme.settingsButtonHeight
            text: "Save"
            highlighted: true
            enabled: root.changed
            font.pointSize: Theme.settingsButtonPointSize
            onClicked: root.save()
        }
    }

    CustomPopup {
        id: refusal
        objectName: "validatorConfigRefusal"
        dynTr: manager.dynTr
    }
}
