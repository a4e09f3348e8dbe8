import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import "../.."
import "../../controls"
import "../../controls/status.js" as Status

// The device's software update: versions, progress, and the two requests.
SettingsPane {
    id: root
    objectName: "updatePage"
    title: "Update"

    readonly property var update: manager.update
    readonly property bool readyToInstall: update && update.status === "Ready to install"

    function version(text) {
        return text ? text : "None"
    }

    SettingsGroup {
        title: "Software"

        InfoRow {
            objectName: "updateStatus"
            title: "Status"
            value: root.update ? root.update.status : ""
            valueColor: Theme.statusColor(Status.update(value), Material.foreground)
        }
        InfoRow {
            objectName: "updateCurrent"
            title: "Current Version"
            value: root.version(root.update ? root.update.current : "")
        }
        InfoRow {
            objectName: "updatePending"
            title: "Pending Version"
            value: root.version(root.update ? root.update.pending : "")
        }
        FieldRow {
            title: "Progress"
            Column {
                width: Theme.valueFieldWidth
                spacing: 4
                ProgressBar {
                    objectName: "updateProgress"
                    width: parent.width
                    from: 0
                    to: 100
                    value: root.update ? root.update.progressPercent : 0
                }
                Label {
                    objectName: "updateProgressMessage"
                    width: parent.width
                    text: root.update ? root.update.progressMessage : ""
                    font.pointSize: Theme.menuHintPointSize
                    horizontalAlignment: Text.AlignRight
                    elide: Text.ElideLeft
                }
            }
        }
    }

    Row {
        width: parent.width
        spacing: Theme.paneMargin

        Button {
            objectName: "updateCheck"
            width: (parent.width - parent.spacing) / 2
            height: Theme.settingsButtonHeight
            text: "Check"
            font.pointSize: Theme.settingsButtonPointSize
            onClicked: root.update.check()
        }
        Button {
            objectName: "updateInstall"
            width: (parent.width - parent.spacing) / 2
            height: Theme.settingsButtonHeight
            text: "Install"
            highlighted: true
            enabled: root.readyToInstall
            font.pointSize: Theme.settingsButtonPointSize
            onClicked: root.update.install()
        }
    }
}
