import QtQuick 2.15
import com.orvo.screens 1.0
import ".."
import "../controls"

// The ticket page, with a button over to the card page.
Item {
    id: root
    objectName: "scanBarcodePage"

    // Asks the window for the other scan page, a visual detail the controller does not follow.
    signal screenRequested(int screen)

    ScanPage {
        anchors.fill: parent
        namePrefix: "scanBarcode"
        framePath: "qrc:/qml/images/Barcode/"
        frameCount: Theme.ticketFrames
        text: manager.dynTr + qsTr("SCAN YOUR\nTICKET")
        buttonText: manager.dynTr + qsTr("SCAN\nCARD")
        buttonIcon: "qrc:/qml/images/Icons/nfc.svg"
        onSwitchPressed: root.screenRequested(Screens.ScanCard)
    }
}
