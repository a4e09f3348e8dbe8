import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import com.orvo.screens 1.0
import "."
import "controls"

// The application window: every page of the screen table is built once and shown while its
// name is the current screen, so pages keep their state while hidden. Only the page on screen is
// built before the first frame; the others follow one at a time once it is up, and a page asked
// for before its turn is built at once.
// The whole scene is one portrait item, turned as one for a panel mounted at another angle: at
// 90 and 270 degrees the window takes the panel's landscape size. Pop-ups live in the window's
// overlay, which turns with the reported content orientation; input follows both turns.
ApplicationWindow {
    id: root
    objectName: "mainWindow"

    x: 0
    y: -1
    width: sideways ? Theme.windowHeight : Theme.windowWidth
    height: sideways ? Theme.windowWidth : Theme.windowHeight
    contentOrientation: manager.rotation === 90 ? Qt.LandscapeOrientation
                        : manager.rotation === 180 ? Qt.InvertedPortraitOrientation
                        : manager.rotation === 270 ? Qt.InvertedLandscapeOrientation
                        : Qt.PrimaryOrientation
    visible: true
    title: "Validator"
    font.family: Theme.fontFamily
    locale: Qt.locale(manager.language)

    readonly property bool sideways: manager.rotation === 90 || manager.rotation === 270
    // The page on screen, by its screen's name: the controller's screen (manager.screenId), or
    // the card or ticket page that the other one switched to. That switch is a visual detail of
    // the idle screen and stays here: the controller's screen stays what it chose.
    property string currentScreen: manager.screenName(manager.screenId)
    // The screen of the page on screen, -1 for a name of none.
    readonly property int shownScreen: screenOf(currentScreen)
    // Set by the controller once the first frame is on the screen.
    property bool buildAllPages: false
    // True once every page of the table is built.
    property bool pagesBuilt: false
    readonly property var screenList: [
        { screen: Screens.InitPage, source: "qrc:/qml/screens/InitPage.qml" },
        { screen: Screens.Busy, source: "qrc:/qml/screens/Busy.qml" },
        { screen: Screens.ScanCard, source: "qrc:/qml/screens/ScanCard.qml" },
        { screen: Screens.ScanBarcode, source: "qrc:/qml/screens/ScanBarcode.qml" },
        { screen: Screens.ScanScreens, source: "qrc:/qml/screens/ScanScreens.qml" },
        { screen: Screens.Valid, source: "qrc:/qml/screens/Valid.qml" },
        { screen: Screens.Invalid, source: "qrc:/qml/screens/Invalid.qml" },
        { screen: Screens.AlreadyValid, source: "qrc:/qml/screens/AlreadyValid.qml" },
        { screen: Screens.Retry, source: "qrc:/qml/screens/Retry.qml" },
        { screen: Screens.OutOfOrder, source: "qrc:/qml/screens/OutOfOrder.qml" },
        { screen: Screens.OutOfService, source: "qrc:/qml/screens/OutOfService.qml" },
        { screen: Screens.ScreenSaver, source: "qrc:/qml/screens/ScreenSaver.qml" },
        { screen: Screens.Settings, source: "qrc:/qml/screens/settings/Main.qml" },
        { screen: Screens.Login, source: "qrc:/qml/screens/settings/Login.qml" }
    ]

    function screenOf(name) {
        for (var i = 0; i < screenList.length; ++i) {
            if (manager.screenName(screenList[i].screen) === name)
                return screenList[i].screen
        }
        return -1
    }

    onBuildAllPagesChanged: {
        if (buildAllPages)
            buildNextPage()
    }

    // One page per turn of the event loop, so that messages and touches are not held up.
    function buildNextPage() {
        for (var i = 0; i < pages.count; ++i) {
            var page = pages.itemAt(i)
            if (page && !page.active) {
                page.active = true
                Qt.callLater(root.buildNextPage)
                return
            }
        }
        pagesBuilt = true
    }

    Item {
        id: scene
        objectName: "scene"
        width: Theme.windowWidth
        height: Theme.windowHeight
        anchors.centerIn: parent
        rotation: manager.rotation

        Image {
            anchors.fill: parent
            source: "qrc:/qml/images/background.png"
            fillMode: Image.Stretch
            // The picture has the scene's size: drawn pixel for pixel, it needs no filtering.
            smooth: false
        }

        Repeater {
            id: pages
            model: root.screenList

            delegate: Loader {
                readonly property string name: manager.screenName(modelData.screen)
                readonly property bool current: root.currentScreen === name

                objectName: name + "Loader"
                anchors.fill: parent
                active: false
                asynchronous: false
                source: modelData.source
                // A page is built hidden and then shown, so that it sees itself appear as on every
                // later arrival.
                visible: status === Loader.Ready && current

                onCurrentChanged: {
                    if (current)
                        active = true
                }
                Component.onCompleted: {
                    if (current)
                        active = true
                }

                // The card and ticket pages switch between each other here, without the controller.
                onLoaded: {
                    if (item.screenRequested)
                        item.screenRequested.connect(function (screen) { root.currentScreen = manager.screenName(screen) })
                }
            }
        }

        Header {
            objectName: "header"
            anchors.top: parent.top
            anchors.left: parent.left
            anchors.right: parent.right
            visible: root.shownScreen !== Screens.Settings && root.shownScreen !== Screens.ScreenSaver
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
            var name = manager.screenName(manager.screenId)
            console.info("[QML] Screen changed : " + name)
            root.currentScreen = name
        }

        function onErrorOccured(error) {
            console.info("[QML] Error occured : " + error)
            errorPopup.text = error
            errorPopup.open()
        }
    }
}
