import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import ".."

// One entry of the settings menu: icon, title and hint, and an arrow towards the page.
ItemDelegate {
    id: root

    property string title: ""
    property string hint: ""
    property url iconSource: ""

    leftPadding: Theme.paneMargin
    rightPadding: Theme.paneMargin

    contentItem: Item {
        TintedIcon {
            id: icon
            anchors.left: parent.left
            anchors.verticalCenter: parent.verticalCenter
            source: root.iconSource
            size: Theme.menuIconSize
            tint: root.Material.foreground
        }

        Column {
            anchors.left: icon.right
            anchors.leftMargin: 2 * Theme.paneMargin
            anchors.right: arrow.left
            anchors.rightMargin: Theme.paneMargin
            anchors.verticalCenter: parent.verticalCenter
            spacing: 4

            Label {
                width: parent.width
                text: root.title
                font.pointSize: Theme.menuTitlePointSize
                font.weight: Font.Medium
                elide: Text.ElideRight
            }
            Label {
                width: parent.width
                text: root.hint
                font.pointSize: Theme.menuHintPointSize
                color: root.Material.hintTextColor
                elide: Text.ElideRight
            }
        }

        TintedIcon {
            id: arrow
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            source: "qrc:/qml/images/Icons/arrow-right.svg"
            size: Theme.menuArrowSize
            tint: root.Material.hintTextColor
        }
    }

    Rectangle {
        anchors.bottom: parent.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        height: 1
        color: root.Material.dividerColor
    }
}
