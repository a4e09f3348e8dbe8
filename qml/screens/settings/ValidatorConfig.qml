import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import "../.."
import "../../controls"
import "../../controls/status.js" as Status

// The validator's settings: three kept by the validation service, two by the application.
// Edits stay on this page until "Save"; a broker address that is not one is refused there,
// with nothing sent and the typing kept.
SettingsPane {
    id: root
    objectName: "validatorConfigPage"
    title: "Validator Configuration"

    readonly property var config: validatorManager.config
    readonly property string currentUrl: config ? "" + config.obuUrl : ""
    readonly property bool urlChanged: urlField.text !== currentUrl
    readonly property bool changed: urlChanged
                                    || (config && passbackSpin.value !== config.passbackSecs)
                                    || shutdownSpin.value !== manager.shutdownDelaySec
                                    || (config && qrSwitch.checked !== config.passbackQrEnabled)
                                    || errorSwitch.checked !== manager.showErrorDesc

    function save() {
        Qt.inputMethod.hide()
        if (urlChanged && !Status.isBrokerUrl(urlField.text)) {
            refusal.text = "OBC URL is not a valid URL"
            refusal.open()
            return
        }
        // The service gets all three of its settings in one request, then the application
        // takes its two.
        config.obuUrl = urlField.text
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

        // The address is long: its field takes the whole width under the label.
        Label {
            topPadding: Theme.rowSpacing
            text: "OBC URL"
            font.pointSize: Theme.rowPointSize
        }
        Item {
            width: parent.width
            height: urlField.height
            TextField {
                id: urlField
                objectName: "obuUrlField"
                width: parent.width
                text: root.currentUrl
                font.pointSize: Theme.fieldPointSize
                inputMethodHints: Qt.ImhUrlCharactersOnly | Qt.ImhNoPredictiveText | Qt.ImhNoAutoUppercase
                color: !root.urlChanged || Status.isBrokerUrl(text) ? Material.foreground : Theme.statusRed
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
                from: 5
                to: 900
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
