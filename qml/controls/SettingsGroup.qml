import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import ".."

// A titled group of rows on a settings page.
Column {
    id: root

    property string title: ""
    default property alias rows: inner.data

    width: parent ? parent.width : implicitWidth
    spacing: 2

    Label {
        objectName: root.objectName ? root.objectName + "Title" : ""
        text: root.title
        font.pointSize: Theme.groupTitlePointSize
        font.bold: true
        color: root.Material.accent
    }

    Rectangle {
        width: parent.width
        height: 1
        color: root.Material.accent
        opacity: 0.5
    }

    Column {
        id: inner
        width: parent.width
    }
}
