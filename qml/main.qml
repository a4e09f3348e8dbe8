import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import "."
import "controls"

// The application window: every page of the screen table is built once at start and shown
// while its name is the current screen, so pages keep their state while hidden.
ApplicationWindow {
    id: root
    objectName: "mainWindow"

    x: 0
    y: -1
    width: Theme.windowWidth
    height: Theme.windowHeight
    visible: true
    title: "Validator"
    font.family: Theme.fontFamily
    locale: Qt.locale(manager.language)

    property string currentScreen: "Busy"
    readonly property var screenList: [
        { name: "InitPage", source: "qrc:/qml/screens/InitPage.qml" },
        { name: "Busy", source: "qrc:/qml/screens/Busy.qml" },
        { name: "ScanCard", source: "qrc:/qml/screens/ScanCard.qml" },
        { name: "ScanBarcode", source: "qrc:/qml/screens/ScanBarcode.qml" },
        { name: "ScanScreens", source: "qrc:/qml/screens/ScanScreens.qml" },
        { name: "Valid", source: "qrc:/qml/screens/Valid.qml" },
        { name: "Invalid", source: "qrc:/qml/screens/Invalid.qml" },
        { name: "AlreadyValid", source: "qrc:/qml/screens/AlreadyValid.qml" },
        { name: "Retry", source: "qrc:/qml/screens/Retry.qml" },
        { name: "OutOfOrder", source: "qrc:/qml/screens/OutOfOrder.qml" },
        { name: "OutOfService", source: "qrc:/qml/screens/OutOfService.qml" },
        { name: "ScreenSaver", source: "qrc:/qml/screens/ScreenSaver.qml" },
        { name: "Settings", source: "qrc:/qml/screens/settings/Main.qml" },
        { name: "Login", source: "qrc:/qml/screens/settings/Login.qml" }
    ]

    background: Image {
        source: "qrc:/qml/images/background.png"
        fillMode: Image.Stretch
        // The picture has the window's size: drawn pixel for pixel, it needs no filtering.
        smooth: false
    }

    Repeater {
        model: root.screenList

        delegate: Loader {
            objectName: modelData.name + "Loader"
            anchors.fill: parent
            // Every page is built at start and kept, so pages keep their state while hidden.
            active: true
            asynchronous: false
            source: modelData.source
            visible: root.currentScreen === modelData.name

            // The scan pages switch between each other here, without the controller.
            onLoaded: {
                if (item.screenRequested)
                    item.screenRequested.connect(function (name) { root.currentScreen = name })
            }
        }
    }

    Header {
        objectName: "header"
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        visible: root.currentScreen !== "Settings" && root.currentScreen !== "ScreenSaver"
        language: manager.language
        onFlagClicked: manager.language = manager.language === "el_GR" ? "en_IE" : "el_GR"
        onMagicButtonPressed: manager.setMaintenanceScreen()
    }

    Label {
        objectName: "versionLabel"
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: Theme.versionMargin
        text: "v" + Qt.application.version
        font.pixelSize: Theme.versionPixelSize
        color: Theme.versionText
    }

    // Takes no input; it only hides the pointer on a touch-only device.
    MouseArea {
        anchors.fill: parent
        enabled: false
        cursorShape: manager.showCursor ? Qt.ArrowCursor : Qt.BlankCursor
    }

    // Above any dialog a page may have open.
    CustomPopup {
        id: errorPopup
        objectName: "errorPopup"
        z: 100
        dynTr: manager.dynTr
    }

    Connections {
        target: manager

        function onScreenChanged() {
            console.info("[QML] Screen changed : " + manager.screen)
            root.currentScreen = manager.screen
        }

        function onErrorOccured(error) {
            console.info("[QML] Error occured : " + error)
            errorPopup.text = error
            errorPopup.open()
        }
    }
}
