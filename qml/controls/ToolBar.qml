import QtQuick 2.15
import QtQuick.Controls 2.15 as Controls

// Material's tool bar without its shadow (see Button.qml).
Controls.ToolBar {
    background.layer.enabled: false
}
