import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import "../.."
import "../../controls"

// The wired interface's configuration. Nothing reaches the interface record before "Save",
// and "Save" sends nothing while a check fails: the first failure is shown and the typing stays.
SettingsPane {
    id: root
    objectName: "ethernetConfigPage"
    title: "Ethernet Configuration"

    readonly property var ethernet: network.ethernet
    readonly property var config: ethernet ? ethernet.config : null
    readonly property var modes: ["auto", "manual"]
    property string mode: ethernet && ethernet.method === "manual" ? "manual" : "auto"
    readonly property bool manual: mode === "manual"

    // The ethernet object's own checks, the ones a maintenance barcode passes too.
    function acceptable(text) {
        return !ethernet || ethernet.isEmptyOrDotted(text)
    }

    function save() {
        Qt.inputMethod.hide()
        var failure = ethernet.configFailure(mode, address.text, netmask.text, gateway.text, dns0.text, dns1.text)
        if (failure !== "") {
            refusal.text = failure
            refusal.open()
            return
        }
        ethernet.method = mode
        config.address = address.text
        config.mask = netmask.text
        config.gateway = gateway.text
        config.dns0 = dns0.text
        config.dns1 = dns1.text
        ethernet.save()
        root.StackView.view.pop()
    }

    StackView.onRemoved: refusal.close()

    SettingsGroup {
        title: "IPv4"

        FieldRow {
            title: "Mode"
            ComboBox {
                objectName: "ethernetModeCombo"
                width: Theme.comboWidth
                model: root.modes
                currentIndex: root.modes.indexOf(root.mode)
                onActivated: root.mode = currentText
            }
        }
        FieldRow {
            title: "IPV4 Address"
            AddressField { id: address; acceptable: root.acceptable(text); enabled: root.manual; objectName: "ethAddressField"; text: root.config ? root.config.address : "" }
        }
        FieldRow {
            title: "IPV4 Netmask"
            AddressField { id: netmask; acceptable: root.acceptable(text); enabled: root.manual; objectName: "ethNetmaskField"; text: root.config ? root.config.mask : "" }
        }
        FieldRow {
            title: "IPV4 Gateway"
            AddressField { id: gateway; acceptable: root.acceptable(text); enabled: root.manual; objectName: "ethGatewayField"; text: root.config ? root.config.gateway : "" }
        }
        FieldRow {
            title: "DNS #0"
            AddressField { id: dns0; acceptable: root.acceptable(text); enabled: root.manual; objectName: "ethDns0Field"; text: root.config ? root.config.dns0 : "" }
        }
        FieldRow {
            title: "DNS #1"
            AddressField { id: dns1; acceptable: root.acceptable(text); enabled: root.manual; objectName: "ethDns1Field"; text: root.config ? root.config.dns1 : "" }
        }
    }

    Row {
        width: parent.width
        spacing: Theme.paneMargin

        Button {
            objectName: "ethernetConfigBack"
            width: (parent.width - parent.spacing) / 2
            height: Theme.settingsButtonHeight
            text: "Back"
            font.pointSize: Theme.settingsButtonPointSize
            onClicked: {
                Qt.inputMethod.hide()
                root.StackView.view.pop()
            }
        }
        Button {
            objectName: "ethernetConfigSave"
            width: (parent.width - parent.spacing) / 2
            height: Theme.settingsButtonHeight
            text: "Save"
            highlighted: true
            font.pointSize: Theme.settingsButtonPointSize
            onClicked: root.save()
        }
    }

    CustomPopup {
        id: refusal
        objectName: "ethernetRefusal"
        dynTr: manager.dynTr
    }
}
