import QtQuick 2.15
import QtQuick.Controls 2.15 as Controls

// Material's menu without its shadow (see Button.qml).
Controls.Menu {
    background.layer.enabled: false
}
