import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import ".."
import "status.js" as Status

// A field for one dotted IPv4 address; red while it holds anything else but nothing.
TextField {
    id: root

    readonly property bool acceptable: Status.isEmptyOrIPv4(text)

    width: Theme.valueFieldWidth
    font.pointSize: Theme.fieldPointSize
    inputMethodHints: Qt.ImhPreferNumbers | Qt.ImhNoPredictiveText
    color: acceptable ? Material.foreground : Theme.statusRed
    Material.accent: acceptable ? parent.Material.accent : Theme.statusRed
}
