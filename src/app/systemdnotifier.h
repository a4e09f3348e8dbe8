#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class GUIManager;
class QQuickWindow;

// Tells the service manager how the application stands, through its notify socket: ready once
// the first frame is on the panel (so "systemctl start" returns when a passenger can see
// something), alive while the GUI thread's event loop turns (watchdog pings at half the unit's
// interval), where it stands in one status line ("ScanScreens, broker connected"), and that it
// is stopping. Started outside the service manager (no NOTIFY_SOCKET) it does nothing and says
// nothing; a socket that refuses earns one warning, and the application runs on without it.
//
// The pings come from a timer of the GUI thread, so an event loop blocked in a driver call, a
// deadlock or an endless script stops them. A render thread that hangs stops them too: the GUI
// thread hands every frame to it and waits for the hand-over (the scene graph's sync) without a
// time limit, so it blocks at the next frame the scene asks for, and the scan page asks for one
// several times a second.
class SystemdNotifier : public QObject
{
    Q_OBJECT

public:
    explicit SystemdNotifier(QObject *parent = nullptr);
    ~SystemdNotifier() override;

    // Whether a notify socket was named and has not refused.
    bool isActive() const { return m_active; }
    // The ping interval (half of WATCHDOG_USEC), 0 when the unit has no watchdog.
    int watchdogIntervalMs() const { return m_watchdog.interval(); }

    // Ready after the window's first frame.
    void watchFirstFrame(QQuickWindow *window);
    // The status follows the controller's screen and the broker connection; ready after the
    // first frame of the manager's window.
    void follow(GUIManager &manager);
    // Sent only when it differs from the last one sent.
    void setStatus(const QString &status);
    void notifyStopping();

private slots:
    void onFrameSwapped();
    void onWatchdog();

private:
    bool send(const QByteArray &state);
    void updateStatus();

    bool m_active = false;
    bool m_ready = false;
    bool m_stopping = false;
    QTimer m_watchdog;
    QPointer<QQuickWindow> m_window;
    GUIManager *m_manager = nullptr;
    bool m_brokerConnected = false;
    QString m_status;
};
