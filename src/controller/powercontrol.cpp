#include "powercontrol.h"

#include "maintenance/event.h"
#include "maintenance/eventmanager.h"
#include "maintenance/sessionmanager.h"
#include "services/board.h"
#include "services/inspector.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QTimer>

// Follows the board's ignition and power-off delay; asks the inspector to shut down, reboot,
// schedule a shutdown or call it off.

namespace {

// The lines keep the controller's tag, under which the board's delay was always reported.
const char Tag[] = "[GUIManager] ";

// Lets the "Exiting" page reach the screen before the event loop ends.
constexpr int ExitDelayMs = 2000;
// The board keeps its own power-off delay this much longer than ours, so that the system
// shuts down cleanly before the board cuts the power.
constexpr int BoardDelayMarginSec = 60;

} // namespace

PowerControl::PowerControl(manager::Board &board, manager::Inspector &inspector, SessionManager &session,
                           EventManager &eventLog, ShutdownDelay shutdownDelaySec, QObject *parent)
    : QObject(parent)
    , m_board(board)
    , m_inspector(inspector)
    , m_session(session)
    , m_eventLog(eventLog)
    , m_shutdownDelaySec(std::move(shutdownDelaySec))
{
    connect(&m_board, &manager::Board::ignitionChanged, this, &PowerControl::onIgnitionChanged);
    connect(&m_board, &manager::Board::delayShutdownForChanged, this, &PowerControl::updateBoardShutdownDelay);
}

void PowerControl::onIgnitionChanged()
{
    const bool on = m_board.ignition();
    m_eventLog.push(new Event(QStringLiteral("Board"), on ? QStringLiteral("Ignition on") : QStringLiteral("Ignition off"),
                              QString(), QDateTime::currentDateTime()));
    if (on) {
        m_inspector.abortShutdown();
    } else {
        m_session.logoutRequest();
        m_inspector.scheduleShutdown(m_shutdownDelaySec());
    }
    emit ignitionChanged(on);
}

void PowerControl::updateBoardShutdownDelay()
{
    const int wanted = m_shutdownDelaySec() + BoardDelayMarginSec;
    const int current = m_board.delayShutdownFor();
    if (current == wanted)
        return;
    qWarning().noquote().nospace() << Tag << "WARN: Updating board shutdown delay to : " << wanted
                                   << " sec(s) (prev=" << current << ")";
    m_board.setDelayShutdownFor(wanted);
}

void PowerControl::shutdown()
{
    m_inspector.systemShutdown();
}

void PowerControl::reboot()
{
    m_inspector.systemReboot();
}

void PowerControl::exit()
{
    QTimer::singleShot(ExitDelayMs, qApp, [] { QCoreApplication::exit(0); });
}
