import QtQuick 2.15
import ".."
import "../controls"

// A validation that succeeded: the product and its figures.
Item {
    id: root
    objectName: "validPage"

    readonly property var pageLocale: manager.language ? Qt.locale(manager.language) : Qt.locale()

    OutcomePage {
        anchors.fill: parent
        namePrefix: "valid"
        iconSource: "qrc:/qml/images/Icons/valid.svg"
        tint: Theme.validTint
        label: manager.dynTr + qsTr("VALID")
        labelPointSize: Theme.outcomeLabelPointSize
        secondText: transaction && typeof transaction.fareProduct === "string" ? transaction.fareProduct : ""

        DetailBlock {
            namePrefix: "validDetail"
            type: transaction && transaction.type
            details: transaction && transaction.details
            locale: root.pageLocale
            showFirstValidationTypes: true
            remainingText: manager.dynTr + qsTr("Remaining")
            tripsText: manager.dynTr + qsTr("Trips")
            balanceText: manager.dynTr + qsTr("Balance")
            expiresText: manager.dynTr + qsTr("Expires")
            deductedText: manager.dynTr + qsTr("Deducted")
            unitWords: ({
                day: manager.dynTr + qsTr("day"),
                days: manager.dynTr + qsTr("days"),
                hour: manager.dynTr + qsTr("hour"),
                hours: manager.dynTr + qsTr("hours"),
                min: manager.dynTr + qsTr("min"),
                mins: manager.dynTr + qsTr("mins")
            })
        }
    }
}
