#include "screencontroller.h"

#include "validation/transaction.h"

#include <QCoreApplication>
#include <QDebug>
#include <QMetaEnum>

// The screen rules: which page follows which event, how long a timed page stays, the message
// on the wait and fault pages, and the display-off timer of the fault pages. The lines keep the
// controller's tag, as they always had.

namespace manager {

namespace {

const char Tag[] = "[GUIManager] ";

// How long a result page stays before the idle screen returns.
constexpr int ResultScreenMs = 3000;
// Time to type the PIN before the login page gives up.
constexpr int LoginScreenMs = 15000;
// Reboot, shutdown and exit pages; the system normally goes away before this ends.
constexpr int GoingDownScreenMs = 30000;

// The longest interval a timer is armed with (about 23 days), leaving room in its millisecond
// range for its own rounding.
constexpr qint64 LongestTimerMs = 2000000000;

// Deny reasons that mean "validated already" rather than "refused".
constexpr int TicketAlreadyValidated = 103;
constexpr int CardAlreadyValidated = 207;

// The texts of the wait page are the controller's own translations.
QString translated(const char *text)
{
    return QCoreApplication::translate("GUIManager", text);
}

} // namespace

namespace screens {

QString name(Screen screen)
{
    return QLatin1String(QMetaEnum::fromType<Screen>().valueToKey(int(screen)));
}

bool fromName(const QString &name, Screen *screen)
{
    bool ok = false;
    const int value = QMetaEnum::fromType<Screen>().keyToValue(name.toLatin1().constData(), &ok);
    if (ok)
        *screen = Screen(value);
    return ok;
}

Screen resultScreen(bool valid, int denyReasonId)
{
    if (valid)
        return Screen::Valid;
    if (denyReasonId == TicketAlreadyValidated || denyReasonId == CardAlreadyValidated)
        return Screen::AlreadyValid;
    return Screen::Invalid;
}

} // namespace screens

ScreenController::ScreenController(Ignition ignition, QObject *parent)
    : QObject(parent)
    , m_ignition(std::move(ignition))
{
    m_screenTimer.setSingleShot(true);
    m_displayOffTimer.setSingleShot(true);
    connect(&m_screenTimer, &QTimer::timeout, this, &ScreenController::onScreenTimeout);
    connect(&m_displayOffTimer, &QTimer::timeout, this, &ScreenController::onDisplayOffTimeout);
    connect(this, &ScreenController::screenChanged, this, &ScreenController::onScreenChanged);
}

void ScreenController::setMessage(const QString &message)
{
    if (m_message == message)
        return;
    m_message = message;
    emit messageChanged();
}

void ScreenController::setScreen(Screen screen)
{
    if (m_screen == screen)
        return;
    qInfo().noquote().nospace() << Tag << "Setting screen : " << screens::name(screen);
    m_screen = screen;
    m_screenTimer.stop();
    emit screenChanged();
}

// No equality test: the same page again restarts its time.
void ScreenController::setScreen(Screen screen, int timeoutMs)
{
    qInfo().noquote().nospace() << Tag << "Setting screen : " << screens::name(screen) << " (timeout=" << timeoutMs
                                << " msec)";
    m_screenTimer.start(timeoutMs);
    m_screen = screen;
    emit screenChanged();
}

void ScreenController::onScreenTimeout()
{
    qInfo().noquote().nospace() << Tag << "Screen timeout : " << screens::name(m_screen);
    setIdleScreen();
}

void ScreenController::setIdleScreen()
{
    m_screenTimer.stop();
    if (!m_deviceIdPresent) {
        setScreen(Screen::InitPage);
        return;
    }
    // The maintenance area stays while its session lasts.
    if (m_sessionOpen)
        return;

    switch (m_status) {
    case Status::Init:
        setScreen(Screen::Busy);
        setMessage(translated(QT_TRANSLATE_NOOP("GUIManager", "Please Wait")));
        break;
    case Status::OutOfService:
        setScreen(Screen::OutOfService);
        emit readersRequested(false);
        break;
    case Status::Online:
    case Status::Degraded:
        emit readersRequested(true);
        setScreen(Screen::ScanScreens);
        break;
    case Status::Offline:
    case Status::Unknown:
        // The readers go off also when the fault page is held back.
        setOutOfOrderScreen(reasonMessage());
        emit readersRequested(false);
        break;
    }
}

QString ScreenController::reasonMessage() const
{
    return m_showErrorDesc ? m_reasonCode + QLatin1Char('\n') + m_reasonText : m_reasonCode;
}

// Held back on the PIN page, with the ignition off and in the maintenance area.
void ScreenController::setOutOfOrderScreen(const QString &message)
{
    if (m_screen == Screen::Login || !m_ignition() || m_sessionOpen)
        return;
    setScreen(Screen::OutOfOrder);
    setMessage(message);
}

// The header's hidden button: into the maintenance area, or off the PIN page when pressed again.
void ScreenController::setMaintenanceScreen()
{
    if (m_sessionOpen)
        setScreen(Screen::Settings);
    else if (m_screen == Screen::Login)
        setIdleScreen();
    else
        setScreen(Screen::Login, LoginScreenMs);
}

void ScreenController::setValidatorStatus(Status status)
{
    m_status = status;
    qInfo().noquote().nospace() << Tag << "Validator status changed : " << Validator::statusText(status);
    setIdleScreen();
}

void ScreenController::setValidatorReason(const QString &code, const QString &text)
{
    m_reasonCode = code;
    m_reasonText = text;
    qWarning().noquote().nospace() << Tag << "Validator reason changed : " << code << " " << text;
    if (m_status != Status::Init)
        setMessage(reasonMessage());
}

void ScreenController::setShowErrorDesc(bool show)
{
    m_showErrorDesc = show;
    setMessage(reasonMessage());
}

void ScreenController::showResult(const Transaction &transaction)
{
    if (m_sessionOpen)
        return;
    const Screen screen = screens::resultScreen(transaction.valid(), transaction.denyReasonId());
    emit toneRequested(screen == Screen::Valid);
    setScreen(screen, ResultScreenMs);
}

void ScreenController::cardRetry()
{
    qWarning().noquote().nospace() << Tag << "Validator card retry";
    if (m_sessionOpen)
        return;
    emit toneRequested(false);
    setScreen(Screen::Retry, ResultScreenMs);
}

void ScreenController::loginSucceeded()
{
    setScreen(Screen::Settings);
}

void ScreenController::setIgnition(bool on)
{
    if (on)
        setIdleScreen();
    else
        setScreen(Screen::ScreenSaver);
}

void ScreenController::goingDown(const QString &message)
{
    setScreen(Screen::Busy, GoingDownScreenMs);
    setMessage(message);
}

void ScreenController::onScreenChanged()
{
    const int minutes = m_displayOffMinutes;
    // 0 keeps the display lit; so does a negative value, which only a hand-edited file can hold.
    if (minutes <= 0)
        return;
    if (m_screen == Screen::OutOfOrder || m_screen == Screen::OutOfService) {
        qInfo().noquote().nospace() << Tag << "Staring Display OFF timer : " << minutes << " min(s)";
        // The Display page allows 60 days, past a timer's millisecond range: worked out in 64
        // bits and held at the longest interval a timer takes.
        m_displayOffTimer.start(int(qMin<qint64>(qint64(minutes) * m_displayOffUnitMs, LongestTimerMs)));
        return;
    }
    if (m_displayOffTimer.isActive()) {
        qInfo().noquote().nospace() << Tag << "Stopping Display OFF timer.";
        m_displayOffTimer.stop();
    }
    if (!m_displayPowered) {
        qInfo().noquote().nospace() << Tag << "Turning on Display.";
        emit displayPowerRequested(true);
    }
}

void ScreenController::onDisplayOffTimeout()
{
    qWarning().noquote().nospace() << Tag << "WARN: Turning off Display due to inactivity.";
    emit displayPowerRequested(false);
}

} // namespace manager
