import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import "../.."
import "../../controls"

// The board's audio switch and the sound card's volume. A released volume plays the
// validation sound first, so the technician hears what passengers will.
SettingsPane {
    id: root
    objectName: "audioPage"
    title: "Audio"

    SettingsGroup {
        title: "Audio"

        FieldRow {
            title: "Audio Enabled"
            Switch {
                objectName: "audioEnabledSwitch"
                checked: board.audioEnabled
                onToggled: board.setAudioEnabled(checked)
            }
        }
        FieldRow {
            title: "Audio Volume"
            Slider {
                id: volume
                objectName: "audioVolumeSlider"
                width: Theme.valueFieldWidth
                from: 0
                to: 100
                stepSize: 1
                snapMode: Slider.SnapAlways
                value: inspector.audioVolume
                enabled: board.audioEnabled
                onPressedChanged: {
                    if (pressed)
                        return
                    inspector.audioPlay("/opt/orvo/tessivo/Valid.wav")
                    inspector.setAudioVolume(Math.round(value))
                }

                // The percentage rides above the handle while it is dragged.
                Rectangle {
                    objectName: "audioVolumeBubble"
                    visible: volume.pressed
                    x: volume.handle.x + (volume.handle.width - width) / 2
                    y: volume.handle.y - height - 6
                    width: bubbleText.implicitWidth + 16
                    height: bubbleText.implicitHeight + 8
                    radius: 4
                    color: volume.Material.accent

                    Label {
                        id: bubbleText
                        anchors.centerIn: parent
                        text: Math.round(volume.value) + "%"
                        color: "white"
                        font.pointSize: Theme.menuHintPointSize
                    }
                }
            }
        }
    }
}
