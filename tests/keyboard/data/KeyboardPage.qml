import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.FreeVirtualKeyboard 1.0

// A page laid out as the application's entry pages are: a field, the panel along the bottom
// edge sliding up while the input method is visible.
Item {
    id: root

    property int acceptedCount: 0
    property int enterCount: 0

    width: 480
    height: 800

    Rectangle {
        anchors.fill: parent
        color: "#202020"
    }

    TextField {
        id: field
        objectName: "field"
        x: 65
        y: 100
        width: 350
        height: 60
        placeholderText: "K00000000"
        onAccepted: root.acceptedCount++
    }

    TextField {
        objectName: "secondField"
        x: 65
        y: 200
        width: 350
        height: 60
    }

    // Takes focus but no text, like a button or the page itself.
    Item {
        objectName: "focusSink"
        x: 65
        y: 300
        width: 100
        height: 40
    }

    InputPanel {
        id: inputPanel
        objectName: "inputPanel"
        z: 99
        x: 0
        y: root.height
        width: root.width
        height: 250
        onEnterClicked: root.enterCount++

        states: State {
            name: "shown"
            when: Qt.inputMethod.visible
            PropertyChanges {
                target: inputPanel
                y: root.height - inputPanel.height
            }
        }
        transitions: Transition {
            NumberAnimation {
                properties: "y"
                duration: 150
                easing.type: Easing.InOutQuad
            }
        }
    }
}
