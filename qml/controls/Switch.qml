import QtQuick 2.15
import QtQuick.Controls 2.15 as Controls

// Material's switch without the shadow of its handle (see Button.qml). The handle belongs to the
// style's indicator, which is only known as an item here, so it is reached once it exists.
Controls.Switch {
    Component.onCompleted: indicator.handle.layer.enabled = false
}
