import QtQuick 2.15
import ".."
import "../controls"

// The validator cannot work; the controller's message holds the reason code.
Item {
    id: root
    objectName: "outOfOrderPage"

    OutcomePage {
        anchors.fill: parent
        namePrefix: "outOfOrder"
        iconSource: "qrc:/qml/images/Icons/warning.svg"
        iconSize: Theme.faultIconSize
        tint: Theme.errorTint
        label: manager.dynTr + qsTr("OUT OF ORDER")
        labelPointSize: Theme.faultLabelPointSize
        secondText: manager.message
    }
}
