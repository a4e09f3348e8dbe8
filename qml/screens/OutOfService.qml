import QtQuick 2.15
import ".."
import "../controls"

// The validation service has been taken out of service.
Item {
    id: root
    objectName: "outOfServicePage"

    OutcomePage {
        anchors.fill: parent
        namePrefix: "outOfService"
        iconSource: "qrc:/qml/images/Icons/warning.svg"
        iconSize: Theme.faultIconSize
        tint: Theme.warningTint
        label: manager.dynTr + qsTr("OUT OF SERVICE")
        labelPointSize: Theme.faultLabelPointSize
        labelMargins: Theme.outOfServiceLabelMargin
    }
}
