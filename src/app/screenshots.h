#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class GUIManager;
class QQuickWindow;

// Saves a picture of the window each time the controller changes the screen, for reviewing
// the scene on a desk without the device: "<folder>/<nnn>-<screen>.png". With an empty folder
// it does nothing.
class Screenshots : public QObject
{
    Q_OBJECT

public:
    Screenshots(GUIManager &manager, const QString &folder, QObject *parent = nullptr);

private slots:
    void onScreenChanged();
    void onFrameSwapped();

private:
    GUIManager &m_manager;
    QString m_folder;
    QPointer<QQuickWindow> m_window;
    QString m_pendingScreen;
    int m_count = 0;
};
