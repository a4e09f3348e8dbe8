#pragma once

#include <QObject>

#include <functional>

class EventManager;
class SessionManager;

namespace manager {
class Board;
class Inspector;
} // namespace manager

// The validator's power: what the ignition's turning on and off means besides the screen (the
// event log's entry, the maintenance session's end, the system shutdown scheduled after the
// shutdown delay or called off), the board's own power-off delay kept above ours, and the
// technician's shutdown, reboot and exit. The controller shows the screen for each; it hears of
// the ignition from here, after everything else the change sets off.
class PowerControl : public QObject
{
    Q_OBJECT

public:
    // The shutdown delay in seconds, as the settings hold it when asked.
    using ShutdownDelay = std::function<int()>;

    PowerControl(manager::Board &board, manager::Inspector &inspector, SessionManager &session,
                 EventManager &eventLog, ShutdownDelay shutdownDelaySec, QObject *parent = nullptr);

    void shutdown();
    void reboot();
    // Ends the event loop a moment later, so that the last page reaches the screen.
    void exit();

public slots:
    // The board keeps its own power-off delay a margin above ours; set again when either changes.
    void updateBoardShutdownDelay();

signals:
    void ignitionChanged(bool on);

private slots:
    void onIgnitionChanged();

private:
    manager::Board &m_board;
    manager::Inspector &m_inspector;
    SessionManager &m_session;
    EventManager &m_eventLog;
    const ShutdownDelay m_shutdownDelaySec;
};
