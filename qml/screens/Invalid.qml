import QtQuick 2.15
import QtQuick.Controls 2.15
import ".."
import "../controls"

// A refused validation with the service's reason.
Item {
    id: root
    objectName: "invalidPage"

    OutcomePage {
        anchors.fill: parent
        namePrefix: "invalid"
        iconSource: "qrc:/qml/images/Icons/invalid.svg"
        tint: Theme.errorTint
        label: manager.dynTr + qsTr("INVALID")

        Label {
            objectName: "invalidReason"
            x: Theme.denyReasonLeftMargin
            width: parent.width - Theme.denyReasonLeftMargin - Theme.denyReasonRightMargin
            height: Theme.outcomeTextHeight
            text: transaction && typeof transaction.denyReason === "string" ? transaction.denyReason : ""
            font.pointSize: Theme.outcomeTextPointSize
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            wrapMode: Text.Wrap
            elide: Text.ElideRight
        }
    }
}
