import QtQuick 2.15
import QtQuick.Controls 2.15 as Controls

// Material's combo box without the shadows of its face and its list (see Button.qml).
Controls.ComboBox {
    background.layer.enabled: false
    popup.background.layer.enabled: false
}
