import QtQuick 2.15
import ".."
import "../controls"

// The reader lost the card before it was done: present it again.
Item {
    id: root
    objectName: "retryPage"

    OutcomePage {
        anchors.fill: parent
        namePrefix: "retry"
        iconSource: "qrc:/qml/images/Icons/retry.svg"
        tint: Theme.warningTint
        label: manager.dynTr + qsTr("PLEASE TRY AGAIN")
        labelPointSize: Theme.outcomeLongLabelPointSize
        labelHeight: Theme.retryLabelHeight
        labelMargins: Theme.retryLabelMargin
        hasSecondText: false
    }
}
