import QtQuick 2.15
import QtQuick.Controls 2.15
import com.orvo.ticketing.transaction 1.0
import ".."
import "format.js" as Format

// The figures under a successful validation, chosen by the product type: one centred column
// or two (left- and right-aligned), each a small heading above its value. Types it does not
// know show nothing. The page gives the translated headings and unit words.
Item {
    id: root

    property string namePrefix: ""
    property var type
    property var details
    property var locale
    // StoredJourneysC and StoredValueB are shown only on a first validation.
    property bool showFirstValidationTypes: false

    property string remainingText
    property string tripsText
    property string balanceText
    property string expiresText
    property string deductedText
    property var unitWords: ({})

    // [left heading, left value, left bold, right heading, right value, right bold]; right
    // heading null for a single centred column; null when the type has no details.
    readonly property var cells: layout()

    function value(key) {
        return root.details !== null && typeof root.details === "object" ? root.details[key] : undefined
    }

    function layout() {
        var type = typeof root.type === "number" ? root.type : -1
        var remaining = [remainingText, Format.period(value("transferRemainingMin"), unitWords), true]
        switch (type) {
        case Transaction.BarcodeTicket:
            return remaining.concat([null, "", false])
        case Transaction.StoredJourneysC:
        case Transaction.StoredValueB:
            if (!showFirstValidationTypes)
                return null
            return type === Transaction.StoredJourneysC ? remaining.concat([tripsText, Format.count(value("remaining")), true])
                               : [deductedText, Format.currency(value("deducted"), locale), false,
                                  balanceText, Format.currency(value("remaining"), locale), false]
        case Transaction.StoredJourneys:
        case Transaction.StoredJourneysB:
            return remaining.concat([tripsText, Format.count(value("remaining")), true])
        case Transaction.ElectronicPurse:
            return remaining.concat([balanceText, Format.currency(value("remaining"), locale), false])
        case Transaction.PeriodPass:
            return [remainingText, Format.period(value("remaining"), unitWords), true,
                    expiresText, Format.date(value("expires"), locale, Theme.expiryDateFormat), true]
        case Transaction.StoredValue:
            return [deductedText, Format.currency(value("deducted"), locale), false,
                    balanceText, Format.currency(value("remaining"), locale), false]
        }
        return null
    }

    readonly property bool single: cells !== null && cells[3] === null

    visible: cells !== null
    width: parent ? parent.width : 0
    height: visible ? Theme.detailHeadingHeight + Theme.detailValueHeight : 0

    Column {
        objectName: root.namePrefix + "Left"
        x: root.single ? 0 : Theme.detailSideMargin
        width: root.single ? root.width : (root.width - 2 * Theme.detailSideMargin) / 2

        Label {
            objectName: root.namePrefix + "LeftHeading"
            width: parent.width
            height: Theme.detailHeadingHeight
            text: root.cells ? root.cells[0] : ""
            font.pointSize: Theme.detailHeadingPointSize
            horizontalAlignment: root.single ? Text.AlignHCenter : Text.AlignLeft
            verticalAlignment: Text.AlignVCenter
        }
        Label {
            objectName: root.namePrefix + "LeftValue"
            width: parent.width
            height: Theme.detailValueHeight
            text: root.cells ? root.cells[1] : ""
            font.pointSize: Theme.detailValuePointSize
            font.bold: root.cells ? root.cells[2] : false
            horizontalAlignment: root.single ? Text.AlignHCenter : Text.AlignLeft
            verticalAlignment: Text.AlignTop
            elide: Text.ElideRight
        }
    }

    Column {
        objectName: root.namePrefix + "Right"
        visible: !root.single
        anchors.right: parent.right
        anchors.rightMargin: Theme.detailSideMargin
        width: (root.width - 2 * Theme.detailSideMargin) / 2

        Label {
            objectName: root.namePrefix + "RightHeading"
            width: parent.width
            height: Theme.detailHeadingHeight
            text: root.cells && root.cells[3] !== null ? root.cells[3] : ""
            font.pointSize: Theme.detailHeadingPointSize
            horizontalAlignment: Text.AlignRight
            verticalAlignment: Text.AlignVCenter
        }
        Label {
            objectName: root.namePrefix + "RightValue"
            width: parent.width
            height: Theme.detailValueHeight
            text: root.cells && root.cells[3] !== null ? root.cells[4] : ""
            font.pointSize: Theme.detailValuePointSize
            font.bold: root.cells ? root.cells[5] : false
            horizontalAlignment: Text.AlignRight
            verticalAlignment: Text.AlignTop
            elide: Text.ElideRight
        }
    }
}
