import QtQuick 2.15
import com.orvo.screens 1.0
import ".."
import "../controls"

// The card page, with a button over to the ticket page.
Item {
    id: root
    objectName: "scanCardPage"

    // Asks the window for the other scan page, a visual detail the controller does not follow.
    signal screenRequested(int screen)

    ScanPage {
        anchors.fill: parent
        namePrefix: "scanCard"
        framePath: "qrc:/qml/images/NFC/"
        frameCount: Theme.cardFrames
        text: manager.dynTr + qsTr("SCAN\nYOUR CARD")
        buttonText: manager.dynTr + qsTr("SCAN\nTICKET")
        buttonIcon: "qrc:/qml/images/Icons/qr-code.svg"
        onSwitchPressed: root.screenRequested(Screens.ScanBarcode)
    }
}
