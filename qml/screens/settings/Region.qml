import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import "../.."
import "../../controls"

// Language and formats of the current locale, the time zone and the network time client.
SettingsPane {
    id: root
    objectName: "regionPage"
    title: "Region"

    readonly property var clock: manager.clock
    readonly property var locale: Qt.locale(manager.language)
    readonly property var locales: ["en_US", "en_IE", "el_GR"]

    function now() {
        return new Date().toLocaleString(root.locale, "d MMM yy, hh:mm:ss t")
    }

    Component.onCompleted: clock.refresh()

    // A refused zone: the list goes back to the zone in force and says so.
    Connections {
        target: root.clock

        function onTimezoneSetFailed(zone) {
            timezoneCombo.currentIndex = timezoneCombo.model.indexOf(root.clock.timezone)
            timezoneError.visible = true
        }
    }

    SettingsGroup {
        title: "Locale"

        FieldRow {
            title: "Locale"
            ComboBox {
                objectName: "localeCombo"
                width: Theme.comboWidth
                model: root.locales
                currentIndex: root.locales.indexOf(manager.language)
                onActivated: manager.language = currentText
            }
        }
        FieldRow {
            title: "Language"
            Row {
                spacing: Theme.rowSpacing
                Image {
                    objectName: "languageFlag"
                    anchors.verticalCenter: parent.verticalCenter
                    visible: manager.language === "el_GR"
                    source: "qrc:/qml/images/Flags/gr.png"
                    width: Theme.flagSize
                    height: Theme.flagSize
                    sourceSize: Qt.size(Theme.flagSize, Theme.flagSize)
                    fillMode: Image.PreserveAspectFit
                }
                Label {
                    objectName: "languageName"
                    anchors.verticalCenter: parent.verticalCenter
                    text: root.locale.nativeLanguageName
                    font.pointSize: Theme.rowPointSize
                }
            }
        }
        InfoRow {
            objectName: "currencyFormat"
            title: "Currency Format"
            value: Number(0.99).toLocaleCurrencyString(root.locale)
        }
        InfoRow {
            id: timeRow
            objectName: "timeFormat"
            title: "Time Format"
            value: root.now()

            Timer {
                interval: Theme.regionClockMs
                repeat: true
                running: root.visible
                onTriggered: timeRow.value = root.now()
            }
        }
    }

    SettingsGroup {
        title: "Time"

        FieldRow {
            title: "Timezone"
            ComboBox {
                id: timezoneCombo
                objectName: "timezoneCombo"
                width: Theme.comboWidth
                model: root.clock.timezones
                currentIndex: model.indexOf(root.clock.timezone)
                onActivated: {
                    timezoneError.visible = false
                    root.clock.timezone = currentText
                }
            }
        }
        Label {
            id: timezoneError
            objectName: "timezoneError"
            visible: false
            text: "The time zone could not be set"
            color: Theme.hintText
            font.pointSize: Theme.rowPointSize
        }
        FieldRow {
            title: "NTP server"
            TextField {
                objectName: "ntpServerField"
                width: Theme.valueFieldWidth
                text: root.clock.ntpServer
                font.pointSize: Theme.fieldPointSize
                inputMethodHints: Qt.ImhUrlCharactersOnly | Qt.ImhNoPredictiveText | Qt.ImhNoAutoUppercase
                onEditingFinished: root.clock.ntpServer = text.trim()
            }
        }
        FieldRow {
            title: "NTP Active"
            Switch {
                objectName: "ntpActiveSwitch"
                checked: root.clock.ntpEnabled
                onToggled: root.clock.ntpEnabled = checked
            }
        }
        FieldRow {
            title: "NTP Synced"
            Rectangle {
                objectName: "ntpSyncedIndicator"
                readonly property bool lit: root.clock.ntpSynced
                width: Theme.indicatorSize
                height: Theme.indicatorSize
                radius: width / 2
                color: lit ? Theme.statusGreen : "transparent"
                border.color: lit ? Theme.statusGreen : Theme.statusGrey
                border.width: 2
            }
        }
    }

    Button {
        objectName: "ntpSyncButton"
        width: parent.width
        height: Theme.settingsButtonHeight
        text: "NTP SYNC"
        highlighted: true
        font.pointSize: Theme.settingsButtonPointSize
        onClicked: root.clock.ntpSync()
    }
}
