import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import "../.."
import "../../controls"
import "../../controls/status.js" as Status

// What the network service reports: the primary connection, and the wired interface with
// the way to its configuration.
Item {
    id: root
    objectName: "networkPage"

    readonly property string title: "Network"
    readonly property bool fullPage: false
    readonly property var primary: network.primaryConnection
    readonly property var primaryIpv4: primary ? primary.ipv4 : null
    readonly property var ethernet: network.ethernet
    readonly property var ethernetIpv4: ethernet ? ethernet.ipv4 : null

    function field(record, name) {
        return record ? record[name] || "" : ""
    }

    TabBar {
        id: tabs
        objectName: "networkTabs"
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        currentIndex: pages.currentIndex

        TabButton {
            objectName: "networkTabGeneral"
            text: "General"
        }
        TabButton {
            objectName: "networkTabEthernet"
            text: "Ethernet"
        }
    }

    SwipeView {
        id: pages
        objectName: "networkPages"
        anchors.top: tabs.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        currentIndex: tabs.currentIndex
        clip: true

        SettingsPane {
            objectName: "networkGeneral"

            SettingsGroup {
                title: "Primary Connection"
                InfoRow {
                    objectName: "netConnectionState"
                    title: "Connection State"
                    value: network.connectionState
                    valueColor: Theme.statusColor(Status.connectionState(value), Material.foreground)
                }
                InfoRow {
                    objectName: "netConnectivity"
                    title: "Connectivity"
                    value: network.connectivity
                    valueColor: Theme.statusColor(Status.connectivity(value), Material.foreground)
                }
                InfoRow { objectName: "netHostname"; title: "Hostname"; value: network.hostname }
                InfoRow { objectName: "netType"; title: "Connection Type"; value: root.field(root.primary, "type") }
                InfoRow { objectName: "netInterface"; title: "Interface"; value: root.field(root.primary, "interface") }
                InfoRow { objectName: "netAddress"; title: "IPv4 Address"; value: root.field(root.primaryIpv4, "address") }
                InfoRow { objectName: "netNetmask"; title: "IPv4 Netmask"; value: root.field(root.primaryIpv4, "mask") }
                InfoRow { objectName: "netGateway"; title: "IPv4 Gateway"; value: root.field(root.primaryIpv4, "gateway") }
                InfoRow { objectName: "netDns"; title: "IPv4 DNS"; value: root.field(root.primaryIpv4, "dns0") }
            }
        }

        SettingsPane {
            objectName: "networkEthernet"

            SettingsGroup {
                title: "Connection State"
                InfoRow {
                    objectName: "ethState"
                    title: "State"
                    value: root.field(root.ethernet, "state")
                    valueColor: Theme.statusColor(Status.connectionState(value), Material.foreground)
                }
                InfoRow { objectName: "ethAddress"; title: "IPv4 Address"; value: root.field(root.ethernetIpv4, "address") }
                InfoRow { objectName: "ethNetmask"; title: "IPv4 Netmask"; value: root.field(root.ethernetIpv4, "mask") }
                InfoRow { objectName: "ethGateway"; title: "IPv4 Gateway"; value: root.field(root.ethernetIpv4, "gateway") }
                InfoRow { objectName: "ethDns0"; title: "IPv4 DNS#0"; value: root.field(root.ethernetIpv4, "dns0") }
                InfoRow { objectName: "ethDns1"; title: "IPv4 DNS#1"; value: root.field(root.ethernetIpv4, "dns1") }
                InfoRow { objectName: "ethMac"; title: "MAC"; value: root.field(root.ethernet, "mac") }
                InfoRow { objectName: "ethInterface"; title: "Interface"; value: root.field(root.ethernet, "interface") }
                InfoRow { objectName: "ethReason"; title: "State Change Reason"; value: root.field(root.ethernet, "reason") }
            }

            Button {
                objectName: "ethernetConfigureButton"
                width: parent.width
                height: Theme.settingsButtonHeight
                text: "Configure"
                highlighted: true
                font.pointSize: Theme.settingsButtonPointSize
                onClicked: root.StackView.view.push("qrc:/qml/screens/settings/EthernetConfig.qml")
            }
        }
    }
}
