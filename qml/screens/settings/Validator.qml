import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import "../.."
import "../../controls"
import "../../controls/status.js" as Status

// What the validation service reports about itself and its two readers and the SAM.
SettingsPane {
    id: root
    objectName: "validatorPage"
    title: "Validator"

    readonly property var rfid: validatorManager.rfid
    readonly property var barcode: validatorManager.barcode
    readonly property var sam: rfid ? rfid.sam : null
    readonly property color statusColor: Theme.statusColor(Status.validator(validatorManager.statusId), Material.foreground)

    function yesNo(value) {
        return value ? "Yes" : "No"
    }

    function model(record) {
        return record ? [record.model, record.manufacturer].join(" ").trim() : ""
    }

    function productionDate(date) {
        return date && !isNaN(date.getTime()) ? Qt.formatDate(date, "yyyy-MM-dd") : ""
    }

    SettingsGroup {
        title: "Validator"
        InfoRow { objectName: "validatorSerial"; title: "Serial Number"; value: manager.deviceId }
        InfoRow { objectName: "validatorPoleId"; title: "Pole ID"; value: board.poleId }
        InfoRow { objectName: "validatorVehicle"; title: "Vehicle"; value: validatorManager.vehicle }
        InfoRow { objectName: "validatorVersion"; title: "Version"; value: validatorManager.version }
        InfoRow {
            objectName: "validatorStatus"
            title: "Status"
            value: validatorManager.status
            valueColor: root.statusColor
        }
        InfoRow {
            objectName: "validatorReason"
            title: "Reason"
            value: validatorManager.reason
            valueColor: root.statusColor
        }
    }

    SettingsGroup {
        title: "RFID"
        InfoRow { objectName: "rfidFirmware"; title: "Firmware"; value: root.rfid ? root.rfid.firmware : "" }
        InfoRow { objectName: "rfidModel"; title: "Model"; value: root.model(root.rfid) }
        InfoRow { objectName: "rfidUid"; title: "UID"; value: root.rfid ? root.rfid.deviceUid : "" }
        InfoRow { objectName: "rfidState"; title: "State"; value: root.rfid ? root.rfid.state : "" }
        InfoRow { objectName: "rfidError"; title: "Error"; value: root.rfid ? root.rfid.error : "" }
    }

    SettingsGroup {
        title: "Barcode"
        InfoRow { objectName: "barcodeFirmware"; title: "Firmware"; value: root.barcode ? root.barcode.firmware : "" }
        InfoRow { objectName: "barcodeModel"; title: "Model"; value: root.model(root.barcode) }
        InfoRow { objectName: "barcodeActive"; title: "Active"; value: root.barcode ? root.yesNo(root.barcode.active) : "" }
        InfoRow { objectName: "barcodeEnabled"; title: "Enabled"; value: root.barcode ? root.yesNo(root.barcode.enabled) : "" }
    }

    SettingsGroup {
        title: "SAM"
        InfoRow { objectName: "samSlot"; title: "Slot"; value: root.sam ? root.sam.slot : "" }
        InfoRow { objectName: "samName"; title: "Name"; value: root.sam ? root.sam.name : "" }
        InfoRow { objectName: "samVersion"; title: "Version"; value: root.sam ? root.sam.version : "" }
        InfoRow { objectName: "samUid"; title: "UID"; value: root.sam ? root.sam.uid : "" }
        InfoRow { objectName: "samMode"; title: "Mode"; value: root.sam ? root.sam.mode : "" }
        InfoRow { objectName: "samUnlocked"; title: "Unlocked"; value: root.sam ? root.yesNo(root.sam.unlocked) : "" }
        InfoRow { objectName: "samProduction"; title: "Production"; value: root.sam ? root.productionDate(root.sam.production) : "" }
    }

    Button {
        objectName: "validatorConfigureButton"
        width: parent.width
        height: Theme.settingsButtonHeight
        text: "Configure"
        highlighted: true
        font.pointSize: Theme.settingsButtonPointSize
        onClicked: root.StackView.view.push("qrc:/qml/screens/settings/ValidatorConfig.qml")
    }
}
