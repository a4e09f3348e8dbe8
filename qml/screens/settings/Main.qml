import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import QtQuick.FreeVirtualKeyboard 1.0
import "../.."
import "../../controls"

// The maintenance area: its own tool bar (the passenger header is hidden here), the menu of
// sub-pages on a stack, the power and logout menu, the configuration-QR pop-up and the
// on-screen keyboard. Technicians only: not translated.
Page {
    id: root
    objectName: "settingsPage"

    readonly property var menuEntries: [
        { title: "Validator", hint: "Validator information and settings",
          page: "qrc:/qml/screens/settings/Validator.qml", icon: "qrc:/qml/images/Icons/ticket.svg" },
        { title: "Diagnostics", hint: "System health and diagnostic",
          page: "qrc:/qml/screens/settings/Diagnostics.qml", icon: "qrc:/qml/images/Icons/diagnostic.svg" },
        { title: "Region", hint: "Date, time and languange settings",
          page: "qrc:/qml/screens/settings/Region.qml", icon: "qrc:/qml/images/Icons/region.svg" },
        { title: "Audio", hint: "Adjust audio volume",
          page: "qrc:/qml/screens/settings/Audio.qml", icon: "qrc:/qml/images/Icons/audio.svg" },
        { title: "Display", hint: "Adjust display brightness and mode",
          page: "qrc:/qml/screens/settings/Display.qml", icon: "qrc:/qml/images/Icons/brightness-2.svg" },
        { title: "Network", hint: "Configure Ethernet, WiFi and Modem",
          page: "qrc:/qml/screens/settings/Network.qml", icon: "qrc:/qml/images/Icons/network.svg" },
        { title: "Update", hint: "Check for software and sytem updates",
          page: "qrc:/qml/screens/settings/Update.qml", icon: "qrc:/qml/images/Icons/update.svg" },
        { title: "Event Log", hint: "Examine system events and alarms",
          page: "qrc:/qml/screens/settings/EventLog.qml", icon: "qrc:/qml/images/Icons/log.svg" }
    ]

    readonly property bool subPageOpen: stack.depth > 1
    readonly property bool fullPage: stack.currentItem !== null && stack.currentItem.fullPage === true

    function openPage(source) {
        if (!subPageOpen)
            stack.push(source)
    }

    function back() {
        Qt.inputMethod.hide()
        if (subPageOpen)
            stack.pop()
    }

    // Back to the menu with nothing open, on the way in and on the way out (logout, session
    // expiry, ignition off): the pages below close their own dialogs and stop what they started.
    function reset() {
        Qt.inputMethod.hide()
        menu.close()
        configPopup.close()
        confirmPopup.close()
        stack.pop(null, StackView.Immediate)
    }

    // The page is also told "not visible" once while it is built hidden, possibly while another
    // page is in use: there is nothing to undo then, and the keyboard is not its own.
    property bool wasShown: false
    onVisibleChanged: {
        if (visible || wasShown)
            reset()
        wasShown = visible
    }

    header: ToolBar {
        objectName: "settingsToolBar"
        height: Theme.toolBarHeight
        visible: !root.fullPage

        ToolButton {
            id: backButton
            objectName: "settingsBackButton"
            anchors.left: parent.left
            anchors.verticalCenter: parent.verticalCenter
            width: Theme.toolBarHeight
            height: Theme.toolBarHeight
            visible: root.subPageOpen
            icon.source: "qrc:/qml/images/Icons/chevron-left.svg"
            icon.width: Theme.backIconSize
            icon.height: Theme.backIconSize
            onClicked: root.back()
        }

        Label {
            objectName: "settingsTitle"
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.leftMargin: Theme.toolBarHeight
            anchors.rightMargin: Theme.toolBarHeight
            anchors.verticalCenter: parent.verticalCenter
            text: root.subPageOpen && stack.currentItem ? stack.currentItem.title : "Settings"
            font.pixelSize: Theme.toolBarTitlePixelSize
            horizontalAlignment: Text.AlignHCenter
            elide: Text.ElideRight
        }

        ToolButton {
            objectName: "settingsMenuButton"
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            width: Theme.toolBarHeight
            height: Theme.toolBarHeight
            icon.source: "qrc:/qml/images/Icons/menu.png"
            icon.width: Theme.toolBarIconSize
            icon.height: Theme.toolBarIconSize
            onClicked: menu.open()

            Menu {
                id: menu
                objectName: "settingsMenu"
                x: parent.width - width
                y: parent.height
                width: Theme.menuPopupWidth

                MenuItem {
                    objectName: "menuScanConfig"
                    text: "Scan Config QR"
                    onTriggered: {
                        configPopup.text = "Scan Configuration QR code"
                        configPopup.open()
                    }
                }
                MenuItem {
                    objectName: "menuRestart"
                    text: "Restart Application"
                    onTriggered: root.confirm("restart")
                }
                MenuItem {
                    objectName: "menuReboot"
                    text: "Reboot"
                    onTriggered: root.confirm("reboot")
                }
                MenuItem {
                    objectName: "menuShutdown"
                    text: "Shutdown"
                    onTriggered: root.confirm("shutdown")
                }
                MenuItem {
                    objectName: "menuLogout"
                    text: "Logout"
                    onTriggered: manager.settingsLogoutRequest()
                }
            }
        }
    }

    function confirm(command) {
        confirmPopup.command = command
        confirmPopup.open()
    }

    StackView {
        id: stack
        objectName: "settingsStack"
        anchors.fill: parent
        initialItem: menuList
    }

    Component {
        id: menuList

        ListView {
            objectName: "settingsMenuList"
            readonly property string title: "Settings"
            readonly property bool fullPage: false
            model: root.menuEntries
            interactive: false
            delegate: MenuRow {
                objectName: "menuRow_" + modelData.title.replace(" ", "")
                width: ListView.view.width
                height: ListView.view.height / 8
                title: modelData.title
                hint: modelData.hint
                iconSource: modelData.icon
                onClicked: root.openPage(modelData.page)
            }
        }
    }

    // Information mode: the barcode reader listens while it is open.
    CustomPopup {
        id: configPopup
        objectName: "configPopup"
        dynTr: manager.dynTr
        onAboutToShow: validatorManager.enableBarcode()
        onAboutToHide: validatorManager.disableBarcode()
    }

    CustomPopup {
        id: confirmPopup
        objectName: "confirmPopup"
        property string command: ""
        isDialog: true
        text: "Are you sure?"
        dynTr: manager.dynTr
        onButtonYesPressed: {
            if (command === "restart")
                manager.exitRequest()
            else if (command === "reboot")
                manager.rebootRequest()
            else if (command === "shutdown")
                manager.shutdownRequest()
        }
    }

    Connections {
        target: manager

        function onBarcodeConfigurationApplied(configList) {
            if (!root.visible)
                return
            configPopup.text = "CONFIGURATION APPLIED\n" + configList.join("\n")
            configPopup.open()
        }

        function onBarcodeConfigurationFailed(configList) {
            if (!root.visible)
                return
            configPopup.text = "CONFIGURATION NOT APPLIED\n" + configList.join("\n")
            configPopup.open()
        }
    }

    // Rises from the bottom edge, over the page and its tool bar, while the input method is up.
    InputPanel {
        id: inputPanel
        objectName: "settingsInputPanel"
        parent: root
        z: 99
        x: 0
        y: root.height
        width: root.width
        height: Theme.keyboardHeight
        slideDuration: Theme.keyboardSlideMs
        onEnterClicked: Qt.inputMethod.hide()

        states: State {
            name: "shown"
            when: Qt.inputMethod.visible
            PropertyChanges {
                target: inputPanel
                y: root.height - inputPanel.height
            }
        }
        transitions: Transition {
            NumberAnimation {
                properties: "y"
                duration: Theme.keyboardSlideMs
                easing.type: Easing.InOutQuad
            }
        }
    }
}
