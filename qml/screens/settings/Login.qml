import QtQuick 2.15
import QtQuick.Controls 2.15

// Stands in for the maintenance PIN page until it is built.
Item {
    id: root
    objectName: "loginPage"

    Label {
        anchors.centerIn: parent
        text: manager.dynTr + qsTr("LOGIN")
        font.pointSize: 24
        font.bold: true
    }

    Label {
        visible: false
        text: manager.dynTr + qsTr("Pin")
    }
}
