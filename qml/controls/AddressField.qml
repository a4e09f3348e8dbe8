import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import ".."

// A field for one dotted IPv4 address; red while the page finds its text not acceptable.
TextField {
    id: root

    property bool acceptable: true

    width: Theme.valueFieldWidth
    font.pointSize: Theme.fieldPointSize
    inputMethodHints: Qt.ImhPreferNumbers | Qt.ImhNoPredictiveText
    color: acceptable ? Material.foreground : Theme.statusRed
    Material.accent: acceptable ? parent.Material.accent : Theme.statusRed
}
