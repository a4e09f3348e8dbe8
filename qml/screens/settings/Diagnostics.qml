import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import "../.."
import "../../controls"
import "../../controls/status.js" as Status

// The device self-test: the automatic results, refreshed while the page is open, and the
// technician's manual tests, each a button that asks how it went. FINISH writes the report.
SettingsPane {
    id: root
    objectName: "diagnosticsPage"
    title: "Diagnostics"

    readonly property var diag: manager.diagnostics
    readonly property var results: [
        ["RTC", "rtc"], ["Ethernet", "ethernet"], ["USB Hub", "usbHub"], ["USB Host", "usbHost"],
        ["FTDI", "ftdi"], ["mPCIe #1", "mPCIe1"], ["Touch", "touch"], ["SD Card", "sdCard"],
        ["Ignition", "ignition"], ["Temperature", "temperature"], ["System Voltage", "voltage"],
        ["RFID (USB)", "rfidUsb"], ["RFID (Service)", "rfidService"], ["Barcode (USB)", "barcodeUsb"],
        ["Barcode (Service)", "barcodeService"], ["SAM", "sam"], ["Board", "boardService"],
        ["Pole ID", "poleId"], ["Serial Port", "serialPortTest"]
    ]
    readonly property var dialogs: ({
        buzzer: "Can you hear the buzzer?",
        leds: "Can you see the LEDs flashing?",
        speaker: "Can you hear the internal speaker?",
        lightSensor: "Is LCD brightness adjusting?",
        rgbTest: "Was the RGB test successful?"
    })
    readonly property var flowControls: ["NONE", "RTS/CTS", "XON/XOFF"]

    function colour(value, plain) {
        return Theme.statusColor(Status.diagnostic(value), plain)
    }

    function ask(test) {
        dialog.test = test
        dialog.open()
    }

    function inform(mode, text) {
        info.mode = mode
        info.text = text
        info.imageSource = ""
        info.reportSaved = false
        info.open()
    }

    // Whatever a dialog started stops with it, also when the page goes with it open.
    function closeAll() {
        dialog.close()
        info.close()
        serialPopup.close()
    }

    // A manual test's button, in the colour of its result.
    component TestButton: Button {
        property string result: ""
        property bool accent: false
        width: buttons.buttonWidth
        height: Theme.diagnosticsButtonHeight
        topInset: 0
        bottomInset: 0
        font.pointSize: Theme.settingsButtonPointSize
        font.bold: accent
        Material.foreground: "white"
        Material.background: accent ? root.Material.accent : root.colour(result, Theme.statusGrey)
    }

    Component.onCompleted: diag.start()
    StackView.onRemoved: {
        closeAll()
        diag.stop()
    }

    SettingsGroup {
        title: "Results"

        Repeater {
            model: root.results
            delegate: InfoRow {
                objectName: "diag_" + modelData[1]
                rowHeight: Theme.diagnosticsRowHeight
                title: modelData[0]
                value: root.diag[modelData[1]] || ""
                valueColor: root.colour(value, Theme.statusGrey)
            }
        }
    }

    Grid {
        id: buttons
        width: parent.width
        columns: 3
        spacing: Theme.paneMargin / 2
        readonly property real buttonWidth: (width - 2 * spacing) / 3

        TestButton {
            objectName: "diagBuzzer"
            text: "Buzzer"
            result: root.diag.buzzer
            onClicked: root.ask("buzzer")
        }
        TestButton {
            objectName: "diagLeds"
            text: "LEDs"
            result: root.diag.leds
            onClicked: root.ask("leds")
        }
        TestButton {
            objectName: "diagRfid"
            text: "RFID"
            result: root.diag.cardScan
            accent: validatorManager.rfid.enabled
            onClicked: root.inform("rfid", "Tap a card")
        }
        TestButton {
            objectName: "diagBarcode"
            text: "Barcode"
            result: root.diag.barcodeScan
            onClicked: root.inform("barcode", "Scan a barcode")
        }
        TestButton {
            objectName: "diagSpeaker"
            text: "Speaker"
            result: root.diag.speaker
            onClicked: root.ask("speaker")
        }
        TestButton {
            objectName: "diagSensor"
            text: "Sensor"
            result: root.diag.lightSensor
            onClicked: root.ask("lightSensor")
        }
        TestButton {
            objectName: "diagRgb"
            text: "RGB"
            result: root.diag.rgbTest
            onClicked: root.StackView.view.push(rgbPage)
        }
        TestButton {
            objectName: "diagSerial"
            text: "Serial"
            result: root.diag.serialPortTest
            onClicked: serialPopup.open()
        }
        TestButton {
            objectName: "diagFinish"
            text: "FINISH"
            accent: true
            onClicked: root.diag.saveReport()
        }
    }

    Component {
        id: rgbPage
        RgbTest {
            onFinished: {
                root.StackView.view.pop()
                root.ask("rgbTest")
            }
        }
    }

    // The manual tests' question; the answer is the test's result.
    CustomPopup {
        id: dialog
        objectName: "diagnosticsDialog"
        property string test: ""
        isDialog: true
        dynTr: manager.dynTr
        text: test === "lightSensor"
              ? root.dialogs.lightSensor + "\nBrightness : " + board.displayBrightness + "%"
                + "\nLight Sensor : " + board.ambientLightSensor + "%"
              : (root.dialogs[test] || "")

        onAboutToShow: {
            if (test === "buzzer")
                board.playBuzzer(100, 200, 3)
            else if (test === "leds")
                board.setLedTestPattern()
            else if (test === "speaker")
                inspector.audioPlay("/opt/orvo/tessivo/Valid.wav")
            else if (test === "lightSensor")
                board.monitor(2000)
        }
        onAboutToHide: {
            if (test === "leds")
                board.setLedOff()
            else if (test === "lightSensor")
                board.monitor(0)
        }
        onButtonYesPressed: root.diag[test] = "OK"
        onButtonNoPressed: root.diag[test] = "ERROR"
    }

    // Reader tests and the report: information only, a tap closes it.
    CustomPopup {
        id: info
        objectName: "diagnosticsInfo"
        property string mode: ""
        property bool reportSaved: false
        dynTr: manager.dynTr

        onAboutToShow: {
            if (mode === "rfid")
                validatorManager.enableRfid()
            else if (mode === "barcode")
                validatorManager.enableBarcode()
        }
        onAboutToHide: {
            if (mode === "rfid")
                validatorManager.disableRfid()
            else if (mode === "barcode")
                validatorManager.disableBarcode()
        }
        onClosed: {
            var leave = mode === "report" && reportSaved
            mode = ""
            if (leave && root.StackView.status === StackView.Active)
                root.StackView.view.pop()
        }
    }

    Connections {
        target: validatorManager

        function onCardDetected(uid, type) {
            if (info.mode !== "rfid" || !info.opened)
                return
            info.text = "CARD DETECTED\n" + uid + "\n" + type
            root.diag.cardScan = "OK"
        }

        function onCardRemoved() {
            if (info.mode === "rfid")
                info.text = "Tap a card"
        }

        function onTicketValidated() {
            if (info.mode !== "barcode" || !info.opened)
                return
            root.diag.barcodeScan = "OK"
            info.close()
        }
    }

    Connections {
        target: root.diag

        function onSaveReportFinished(result, message) {
            root.inform("report", message)
            info.reportSaved = result
            if (result)
                info.imageSource = root.diag.generateQr()
        }
    }

    Popup {
        id: serialPopup
        objectName: "serialPopup"
        anchors.centerIn: Overlay.overlay
        width: Theme.serialPopupWidth
        height: Theme.serialPopupHeight
        modal: true
        closePolicy: Popup.NoAutoClose

        Overlay.modal: Shade {}

        background: Rectangle {
            color: serialPopup.Material.background
            border.color: serialPopup.Material.accent
            border.width: Theme.popupBorder
        }

        // The choices start from the stored settings every time.
        function restore() {
            portCombo.currentIndex = Math.max(0, portCombo.model.indexOf(root.diag.serialPort))
            flowCombo.currentIndex = Math.max(0, Math.min(root.diag.serialFlowCtrl, root.flowControls.length - 1))
        }

        onAboutToShow: restore()

        Column {
            anchors.fill: parent
            spacing: Theme.rowSpacing

            Label {
                width: parent.width
                text: "Serial Port Settings"
                font.pointSize: Theme.groupTitlePointSize
                font.bold: true
                horizontalAlignment: Text.AlignHCenter
            }
            FieldRow {
                title: "Serial Port:"
                ComboBox {
                    id: portCombo
                    objectName: "serialPortCombo"
                    width: Theme.comboWidth
                    model: root.diag.serialPorts
                }
            }
            FieldRow {
                title: "Flow Ctrl:"
                ComboBox {
                    id: flowCombo
                    objectName: "serialFlowCombo"
                    width: Theme.comboWidth
                    model: root.flowControls
                }
            }
            Label {
                objectName: "serialPortDescr"
                width: parent.width
                text: portCombo.currentText ? root.diag.serialPortDescr(portCombo.currentText) : ""
                wrapMode: Text.Wrap
                color: serialPopup.Material.hintTextColor
            }
        }

        Row {
            anchors.bottom: parent.bottom
            anchors.horizontalCenter: parent.horizontalCenter
            spacing: Theme.popupButtonSpacing

            Button {
                objectName: "serialOk"
                width: Theme.popupButtonWidth
                text: "Ok"
                highlighted: true
                onClicked: {
                    root.diag.serialPort = portCombo.currentText
                    root.diag.serialFlowCtrl = flowCombo.currentIndex
                    serialPopup.close()
                }
            }
            Button {
                objectName: "serialCancel"
                width: Theme.popupButtonWidth
                text: "Cancel"
                onClicked: {
                    serialPopup.restore()
                    serialPopup.close()
                }
            }
        }
    }
}
