pragma Singleton
import QtQuick 2.15
import QtQuick.Controls.Material 2.15

// Every size, colour and font of the passenger scene, in one place.
QtObject {
    readonly property int windowWidth: 480
    readonly property int windowHeight: 800
    readonly property string fontFamily: "DejaVu Sans"

    readonly property color accent: "#00ADD7"
    readonly property color validTint: "#41b987"
    readonly property color warningTint: "#fcdb03"
    readonly property color errorTint: "#db4a37"
    readonly property color separator: "white"
    readonly property color versionText: Material.color(Material.Grey, Material.Shade700)

    // Header: flag button on the left, clock on the right.
    readonly property int headerHeight: 120
    readonly property int flagIconSize: 100
    readonly property int flagRadius: 35
    readonly property int flagLeftMargin: 30
    readonly property int clockWidth: 200
    readonly property int clockHeight: 65
    readonly property int clockRightMargin: 25
    readonly property int clockDatePixelSize: 20
    readonly property int clockTimePixelSize: 42
    readonly property int clockRefreshMs: 1000
    // Taps that begin inside this window count towards the maintenance gesture.
    readonly property int magicTapWindowMs: 1000
    readonly property int magicTapCount: 2

    readonly property int versionPixelSize: 12
    readonly property int versionMargin: 10

    // Outcome pages: icon, label, second text, separator, detail block.
    readonly property int outcomeIconSize: 250
    readonly property int faultIconSize: 300
    readonly property int outcomeTextHeight: 100
    readonly property int outcomeLabelPointSize: 32
    readonly property int outcomeLongLabelPointSize: 24
    readonly property int faultLabelPointSize: 20
    readonly property int outcomeTextPointSize: 14
    readonly property int retryLabelHeight: 200
    readonly property int retryLabelMargin: 40
    readonly property int outOfServiceLabelMargin: 35
    readonly property int denyReasonLeftMargin: 35
    readonly property int denyReasonRightMargin: 25
    readonly property int separatorHeight: 4
    readonly property int separatorRadius: 4
    readonly property int separatorInset: 70

    // Detail block under the outcome label.
    readonly property int detailHeadingHeight: 30
    readonly property int detailHeadingPointSize: 10
    readonly property int detailValueHeight: 70
    readonly property int detailValuePointSize: 14
    readonly property int detailSideMargin: 35
    readonly property string expiryDateFormat: "d MMM yy"

    // Idle scan pages.
    readonly property int scanFrameMs: 300
    readonly property int scanLoopMs: 2300
    readonly property int cardFrames: 7
    readonly property int ticketFrames: 9
    readonly property int scanImageOffset: 10
    readonly property int scanTextWidth: 150
    readonly property int scanTextHeight: 170
    readonly property int scanSingleTextHeight: 120
    readonly property int scanTextTop: 150
    readonly property int scanTextRightMargin: 20
    readonly property int scanTextPointSize: 14
    readonly property int scanButtonWidth: 270
    readonly property int scanButtonHeight: 120
    readonly property int scanButtonBottomMargin: 20
    readonly property int scanButtonBorder: 10
    readonly property int scanButtonPointSize: 12
    readonly property int scanButtonIconSize: 50
    readonly property color scanButtonFill: "#000621"
    readonly property color scanButtonPressed: "#36C478"

    // Busy page.
    readonly property int busyTop: 200
    readonly property int busySpacing: 30
    readonly property int busyPointSize: 22
    // One turn of the busy spinner's arc, in steps of one 60 Hz frame.
    readonly property int spinnerTurnMs: 1200
    readonly property int spinnerStepMs: 16

    readonly property int screenSaverImageSize: 300

    // Serial-number entry.
    readonly property int fieldWidth: 350
    readonly property int fieldHeight: 60
    readonly property int saveButtonWidth: 300
    readonly property int saveButtonHeight: 60
    readonly property color hintText: "#db4a37"
    readonly property int keyboardHeight: 250
    readonly property int keyboardSlideMs: 150

    // Shared pop-up.
    readonly property int popupWidth: 400
    readonly property int popupHeight: 200
    readonly property int popupImageExtra: 100
    readonly property size popupImageSize: Qt.size(200, 200)
    readonly property color popupShade: Qt.rgba(0, 0, 0, 0.6)
    readonly property int popupBorder: 2
    readonly property int popupPointSize: 10
    readonly property int popupButtonWidth: 100
    readonly property int popupButtonHeight: 40
    readonly property int popupButtonSpacing: 60
    readonly property int popupButtonBottom: 15
    readonly property int popupButtonPointSize: 16

    // Status colours of the settings pages, from the Material palette.
    readonly property color statusGreen: Material.color(Material.Green)
    readonly property color statusRed: Material.color(Material.Red)
    readonly property color statusAmber: Material.color(Material.Amber)
    readonly property color statusGrey: Material.color(Material.Grey)

    // A colour name of the status rules ("green", "red", "amber", "grey"), or `plain` for none.
    function statusColor(name, plain) {
        switch (name) {
        case "green": return statusGreen
        case "red": return statusRed
        case "amber": return statusAmber
        case "grey": return statusGrey
        }
        return plain
    }

    // PIN page.
    readonly property int pinLineHeight: 70
    readonly property int lockIconSize: 35
    readonly property color pinPlaceholder: "#8f8f8f"
    readonly property int pinPointSize: 16
    readonly property int pinMinPointSize: 10
    readonly property int padButtonWidth: 118
    readonly property int padButtonHeight: 70
    readonly property int padColumnSpacing: 6
    readonly property int padRowSpacing: 7
    readonly property int padRadius: 4
    readonly property int padPointSize: 16
    // Number keys are a faint tile, so each touch target shows.
    readonly property color padNumberDark: Qt.rgba(1, 1, 1, 0.08)
    readonly property color padNumberLight: Qt.rgba(0, 0, 0, 0.06)
    readonly property color padOtherDark: "#787878"
    readonly property color padOtherLight: "#D6D6D6"
    readonly property int loginButtonHeight: 70
    readonly property int loginPointSize: 24
    readonly property int loginTop: 40
    readonly property int loginSpacing: 20
    // The pad's shake on a wrong PIN: out, across, back, twice.
    readonly property int shakeOffset: 10
    readonly property int shakeStepMs: 50
    readonly property int shakeLoops: 2

    // Settings frame and its pages.
    readonly property int toolBarHeight: 70
    readonly property int backIconSize: 60
    readonly property int toolBarTitlePixelSize: 28
    readonly property int toolBarIconSize: 40
    readonly property int menuIconSize: 48
    readonly property int menuTitlePointSize: 15
    readonly property int menuHintPointSize: 10
    readonly property int menuArrowSize: 28
    readonly property int menuPopupWidth: 260
    readonly property int paneMargin: 12
    readonly property int groupSpacing: 14
    readonly property int groupTitlePointSize: 13
    readonly property int rowHeight: 42
    readonly property int rowPointSize: 12
    readonly property int rowSpacing: 10
    readonly property int settingsButtonHeight: 56
    readonly property int settingsButtonPointSize: 12
    readonly property int fieldPointSize: 12
    readonly property int valueFieldWidth: 230
    readonly property int revealButtonSize: 40
    readonly property int revealIconSize: 22
    readonly property int comboWidth: 230
    readonly property int spinWidth: 200
    readonly property int indicatorSize: 22
    readonly property int flagSize: 28
    readonly property int diagnosticsRowHeight: 30
    readonly property int diagnosticsButtonHeight: 60
    readonly property int eventPressedScalePercent: 95
    readonly property int regionClockMs: 1000
    readonly property int serialPopupWidth: 420
    readonly property int serialPopupHeight: 300
    readonly property int eventRowPadding: 12
    readonly property int tipMarkSize: 18
}
