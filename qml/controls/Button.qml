import QtQuick 2.15
import QtQuick.Controls 2.15 as Controls

// Material's button without its shadow. Material draws a raised control's face through a shader
// effect (the shadow's layer), which the software renderer leaves out, face and all. Pages that
// import this folder get these controls in place of Qt's, and look the same on both back ends.
Controls.Button {
    background.layer.enabled: false
}
