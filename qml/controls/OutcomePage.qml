import QtQuick 2.15
import QtQuick.Controls 2.15
import ".."

// The layout every outcome and fault page shares, from top to bottom: a tinted icon, a label,
// a second text, a separator, then the page's own detail block (the children given to it).
// Element names start with `namePrefix`, so each page's texts can be told apart.
Item {
    id: root

    property string namePrefix: ""
    property url iconSource: ""
    property int iconSize: Theme.outcomeIconSize
    property color tint: "white"
    property string label: ""
    property real labelPointSize: Theme.outcomeLabelPointSize
    property int labelHeight: Theme.outcomeTextHeight
    property int labelMargins: 0
    property string secondText: ""
    property bool hasSecondText: true
    default property alias details: detailArea.data

    Column {
        anchors.top: parent.top
        anchors.topMargin: Theme.headerHeight
        anchors.left: parent.left
        anchors.right: parent.right

        TintedIcon {
            objectName: root.namePrefix + "Icon"
            anchors.horizontalCenter: parent.horizontalCenter
            source: root.iconSource
            size: root.iconSize
            tint: root.tint
        }

        Item {
            width: parent.width
            height: root.labelHeight

            Label {
                objectName: root.namePrefix + "Title"
                anchors.fill: parent
                anchors.margins: root.labelMargins
                text: root.label
                font.pointSize: root.labelPointSize
                font.bold: true
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
                wrapMode: Text.Wrap
            }
        }

        Label {
            objectName: root.namePrefix + "Text"
            visible: root.hasSecondText
            width: parent.width
            height: Theme.outcomeTextHeight
            leftPadding: Theme.detailSideMargin
            rightPadding: Theme.detailSideMargin
            text: root.secondText
            font.pointSize: Theme.outcomeTextPointSize
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            wrapMode: Text.Wrap
            elide: Text.ElideRight
        }

        Rectangle {
            objectName: root.namePrefix + "Separator"
            anchors.horizontalCenter: parent.horizontalCenter
            width: parent.width - Theme.separatorInset
            height: Theme.separatorHeight
            radius: Theme.separatorRadius
            color: Theme.separator
        }

        Item {
            id: detailArea
            width: parent.width
            height: childrenRect.height
        }
    }
}
