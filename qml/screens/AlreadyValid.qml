import QtQuick 2.15
import ".."
import "../controls"

// A card or ticket presented again after it was validated: the product and its figures.
Item {
    id: root
    objectName: "alreadyValidPage"

    readonly property var pageLocale: manager.language ? Qt.locale(manager.language) : Qt.locale()

    OutcomePage {
        anchors.fill: parent
        namePrefix: "alreadyValid"
        iconSource: "qrc:/qml/images/Icons/warning.svg"
        tint: Theme.warningTint
        label: manager.dynTr + qsTr("ALREADY VALIDATED")
        labelPointSize: Theme.outcomeLongLabelPointSize
        secondText: transaction && typeof transaction.fareProduct === "string" ? transaction.fareProduct : ""

        DetailBlock {
            namePrefix: "alreadyValidDetail"
            type: transaction && transaction.type
            details: transaction && transaction.details
            locale: root.pageLocale
            showFirstValidationTypes: false
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
