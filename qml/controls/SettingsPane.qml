import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Window 2.15
import ".."

// One settings sub-page: its title for the frame's tool bar, and a column of groups that
// scrolls. While the on-screen keyboard is up, the column gains room below, and the field
// being typed into is scrolled above the keyboard.
Item {
    id: root

    property string title: ""
    // A page that covers the whole screen, the frame's tool bar included.
    property bool fullPage: false
    default property alias content: column.data
    property alias flickable: flick

    function revealFocusItem() {
        var item = root.Window.activeFocusItem
        if (!item || !Qt.inputMethod.visible || !root.visible)
            return
        var top = item.mapToItem(column, 0, 0).y + column.y
        var room = flick.height - Theme.keyboardHeight
        if (top < flick.contentY || top + item.height > flick.contentY + room)
            flick.contentY = Math.max(0, Math.min(top + item.height - room + Theme.paneMargin,
                                                  flick.contentHeight - flick.height))
    }

    Connections {
        target: Qt.inputMethod
        function onVisibleChanged() {
            root.revealFocusItem()
        }
    }

    Flickable {
        id: flick
        anchors.fill: parent
        contentWidth: width
        contentHeight: column.implicitHeight + 2 * Theme.paneMargin
                       + (Qt.inputMethod.visible ? Theme.keyboardHeight : 0)
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        ScrollIndicator.vertical: ScrollIndicator {}

        Column {
            id: column
            x: Theme.paneMargin
            y: Theme.paneMargin
            width: flick.width - 2 * Theme.paneMargin
            spacing: Theme.groupSpacing
        }
    }
}
