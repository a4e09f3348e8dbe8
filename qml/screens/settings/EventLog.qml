import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import "../.."
import "../../controls"

// The event log, newest first, narrowed by a search text, a period and a severity; a tap
// opens an entry's description.
Item {
    id: root
    objectName: "eventLogPage"

    readonly property string title: "Event Log"
    readonly property bool fullPage: false
    readonly property var periods: ["All history", "Last hour", "Last 2 hours", "Today", "Yesterday",
                                    "Last week", "Last month"]
    // The log's severity levels, most severe first: what each entry of the choice passes on.
    readonly property var severities: [{ text: "Critical", level: 2 }, { text: "Warning", level: 1 },
                                       { text: "All messages", level: 0 }]

    function stamp(time) {
        return time && !isNaN(time.getTime()) ? time.toLocaleString(Qt.locale(), "dd-MMM-yy hh:mm") : ""
    }

    Column {
        id: filters
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.margins: Theme.paneMargin
        spacing: Theme.rowSpacing / 2

        Row {
            width: parent.width
            spacing: Theme.rowSpacing

            TextField {
                id: search
                objectName: "eventSearchField"
                width: parent.width - clearButton.width - parent.spacing
                placeholderText: "Search"
                font.pointSize: Theme.fieldPointSize
                inputMethodHints: Qt.ImhNoPredictiveText
                onTextChanged: eventLogManager.applyFilter(text)
            }
            Button {
                id: clearButton
                objectName: "eventSearchClear"
                text: "CLEAR"
                onClicked: {
                    search.text = ""
                    Qt.inputMethod.hide()
                }
            }
        }

        Row {
            width: parent.width
            spacing: Theme.rowSpacing

            ComboBox {
                objectName: "eventPeriodCombo"
                width: (parent.width - parent.spacing) / 2
                model: root.periods
                onActivated: eventLogManager.applyFilterPeriod(currentText)
            }
            ComboBox {
                objectName: "eventSeverityCombo"
                width: (parent.width - parent.spacing) / 2
                model: root.severities
                textRole: "text"
                currentIndex: root.severities.length - 1
                onActivated: eventLogManager.applyFilter(root.severities[index].level)
            }
        }
    }

    ListView {
        id: list
        objectName: "eventList"
        anchors.top: filters.bottom
        anchors.topMargin: Theme.rowSpacing
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.leftMargin: Theme.paneMargin
        anchors.rightMargin: Theme.paneMargin
        clip: true
        spacing: 4
        model: eventLogManager.data
        ScrollIndicator.vertical: ScrollIndicator {}

        delegate: ItemDelegate {
            id: row
            property bool expanded: false
            objectName: "eventRow_" + index
            width: ListView.view.width
            topPadding: Theme.eventRowPadding
            bottomPadding: Theme.eventRowPadding
            height: content.implicitHeight + topPadding + bottomPadding
            scale: down ? Theme.eventPressedScalePercent / 100 : 1.0
            onClicked: expanded = !expanded

            Behavior on scale {
                NumberAnimation { duration: 80 }
            }

            background: Rectangle {
                radius: 4
                color: row.Material.theme === Material.Dark ? Qt.rgba(1, 1, 1, 0.06) : Qt.rgba(0, 0, 0, 0.05)
            }

            contentItem: Column {
                id: content
                spacing: 4

                Item {
                    width: parent.width
                    height: titleLabel.implicitHeight

                    Label {
                        id: titleLabel
                        objectName: "eventTitle"
                        anchors.left: parent.left
                        anchors.right: timeLabel.left
                        anchors.rightMargin: Theme.rowSpacing
                        text: modelData ? modelData.name : ""
                        font.pointSize: Theme.rowPointSize
                        font.weight: Font.Medium
                        elide: Text.ElideRight
                    }
                    Label {
                        id: timeLabel
                        objectName: "eventTime"
                        anchors.right: parent.right
                        text: modelData ? root.stamp(modelData.timestamp) : ""
                        font.pointSize: Theme.menuHintPointSize
                        color: row.Material.hintTextColor
                    }
                }
                Label {
                    objectName: "eventDescription"
                    width: parent.width
                    visible: row.expanded
                    text: modelData && modelData.description ? modelData.description : "No description"
                    wrapMode: Text.Wrap
                    font.pointSize: Theme.menuHintPointSize
                    color: row.Material.hintTextColor
                }
            }
        }
    }
}
