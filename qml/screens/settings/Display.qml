import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import "../.."
import "../../controls"

// Backlight and light sensor (watched while the page is open), pointer, theme, the panel's
// mounting angle, and the display's sleep on the fault pages.
SettingsPane {
    id: root
    objectName: "displayPage"
    title: "Display"

    readonly property var modes: ["auto", "manual"]
    // The panel's angles as the settings table takes them: 0, 90, 180, 270.
    readonly property var angles: {
        const step = manager.settingStep("gui/rotation")
        let all = []
        for (let angle = manager.settingMinimum("gui/rotation"); angle <= manager.settingMaximum("gui/rotation"); angle += step)
            all.push(angle)
        return all
    }
    readonly property bool manual: board.displayBrightnessMode === "manual"

    Component.onCompleted: board.monitor(1000)
    StackView.onRemoved: board.monitor(0)

    SettingsGroup {
        title: "Brightness"

        FieldRow {
            title: "Brightness Mode"
            ComboBox {
                objectName: "brightnessModeCombo"
                width: Theme.comboWidth
                model: root.modes
                currentIndex: root.modes.indexOf(board.displayBrightnessMode)
                onActivated: board.setDisplayBrightnessMode(currentText)
            }
        }
        FieldRow {
            title: "Display Brightness"
            Row {
                spacing: Theme.rowSpacing
                Slider {
                    id: brightness
                    objectName: "brightnessSlider"
                    width: Theme.valueFieldWidth - 60
                    from: 0
                    to: 100
                    stepSize: 1
                    snapMode: Slider.SnapAlways
                    value: board.displayBrightness
                    enabled: root.manual
                    onPressedChanged: {
                        if (!pressed)
                            board.setDisplayBrightness(Math.round(value))
                    }
                }
                Label {
                    objectName: "brightnessValue"
                    width: 50
                    anchors.verticalCenter: parent.verticalCenter
                    text: Math.round(brightness.value) + "%"
                    font.pointSize: Theme.rowPointSize
                    horizontalAlignment: Text.AlignRight
                }
            }
        }
        InfoRow {
            objectName: "ambientLight"
            title: "Ambient Light Sensor"
            value: board.ambientLightSensor + "%"
        }
    }

    SettingsGroup {
        title: "Screen"

        FieldRow {
            title: "Show Cursor"
            Switch {
                objectName: "showCursorSwitch"
                checked: manager.showCursor
                onToggled: manager.showCursor = checked
            }
        }
        FieldRow {
            title: "Dark Theme"
            Switch {
                objectName: "darkThemeSwitch"
                // The window's theme, for this run only.
                checked: root.ApplicationWindow.window && root.ApplicationWindow.window.Material.theme === Material.Dark
                onToggled: {
                    console.info(checked ? "[QML] Switching to dark theme" : "[QML] Switching to light theme")
                    root.ApplicationWindow.window.Material.theme = checked ? Material.Dark : Material.Light
                }
            }
        }
        FieldRow {
            title: "Rotation"
            ComboBox {
                objectName: "rotationCombo"
                width: Theme.comboWidth
                model: root.angles.map(angle => angle + "°")
                currentIndex: root.angles.indexOf(manager.rotation)
                onActivated: manager.rotation = root.angles[index]
            }
        }
        FieldRow {
            objectName: "displayOffRow"
            title: "Display OFF (min)"
            toolTip: "The interval, in minutes, after which \nthe display will turn off , if in Out-\nof-Order or Out-of-Service state."
            SettingsSpinBox {
                objectName: "displayOffSpin"
                from: manager.settingMinimum("gui/displayOffMin")
                to: manager.settingMaximum("gui/displayOffMin")
                stepSize: 1
                value: manager.displayOffMin
                onValueModified: manager.displayOffMin = value
            }
        }
    }
}
