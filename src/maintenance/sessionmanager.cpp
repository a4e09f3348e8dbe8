#include "sessionmanager.h"

#include "app/config.h"

#include <QDebug>

// The maintenance users come from the configuration: one built-in user whose PIN is
// "gui/settingsPin", re-read on every configuration change. A changed PIN counts from the next
// login; a running session is left alone.
// Wrong PINs are counted in a row: the MaxWrongPins-th refuses every login for LockoutMillis
// (without looking at the PIN), and the count starts again after the lock-out or a login.


namespace {
const char Tag[] = "[SessionManager] ";
const QString PinKey = QStringLiteral("gui/settingsPin");
} // namespace

SessionManager::SessionManager(Config &config, QObject *parent)
    : QObject(parent)
    , m_config(config)
{
    m_timer.setSingleShot(true);
    // A coarse timer may fire up to 5 % late: half a minute more of open settings.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &SessionManager::onExpired);
    m_lockTimer.setSingleShot(true);
    m_lockTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_lockTimer, &QTimer::timeout, this, &SessionManager::onLockTick);
    connect(&m_config, &Config::configChanged, this, &SessionManager::loadUsers);
    loadUsers();
}

const User *SessionManager::user() const
{
    if (m_current < 0 || m_current >= m_users.size())
        return nullptr;
    return &m_users.at(m_current);
}

int SessionManager::remainingTime() const
{
    return m_timer.isActive() ? m_timer.remainingTime() : -1;
}

void SessionManager::loadUsers()
{
    m_users.clear();
    m_users.append(User{0, QStringLiteral("ORVO"), QStringLiteral("Admin"),
                        m_config.get(PinKey).toString()});
    // The built-in user keeps position 0, so an active session still denotes it.
    if (m_current >= m_users.size())
        m_current = -1;
}

void SessionManager::loginRequest(const QString &pin)
{
    qInfo().noquote().nospace() << Tag << "Login requested with PIN";
    if (locked()) {
        qInfo().noquote().nospace() << Tag << "Login refused, locked for " << m_lockSecondsLeft << " s";
        emit accessDenied();
        return;
    }
    // The line stays for whoever follows logins, but a PIN (right or nearly right) is a secret
    // and the system log is readable by others: only its length is shown.
    qDebug().noquote().nospace() << Tag << "Entered PIN    : " << QString(pin.size(), QLatin1Char('*'));

    int match = -1;
    for (int i = 0; i < m_users.size(); ++i) {
        if (m_users.at(i).pin == pin) {
            match = i;
            break;
        }
    }

    if (match < 0) {
        qWarning().noquote().nospace() << Tag << "WARN: User entered wrong pin";
        emit accessDenied();
        if (++m_wrongPins >= MaxWrongPins)
            lockOut();
        return;
    }

    m_wrongPins = 0;

    m_timer.setInterval(m_interval);
    m_timer.start();
    m_current = match;
    const User &u = m_users.at(m_current);
    qInfo().noquote().nospace() << Tag << "User logged-in : " << u.firstName << ", " << u.lastName;
    emit accessGranted();
    emit sessionActiveChanged();
}

void SessionManager::logoutRequest()
{
    if (!sessionActive())
        return;
    const User &u = m_users.at(m_current);
    qInfo().noquote().nospace() << Tag << "User logged-out : " << u.firstName << ", " << u.lastName;
    m_timer.stop();
    m_current = -1;
    emit sessionActiveChanged();
}

void SessionManager::resetTimer()
{
    // Activity outside a session has nothing to extend; starting the timer then would only
    // produce a "Session expired" warning ten minutes later for a session that never was.
    if (!sessionActive())
        return;
    m_timer.start();
}

void SessionManager::onExpired()
{
    qWarning().noquote().nospace() << Tag << "Session expired";
    logoutRequest();
    emit expired();
}


void SessionManager::lockOut()
{
    m_wrongPins = 0;
    m_lockEnd.setRemainingTime(m_lockoutInterval, Qt::PreciseTimer);
    qWarning().noquote().nospace() << Tag << "WARN: " << MaxWrongPins << " wrong PINs in a row, logins refused for "
                                   << (m_lockoutInterval + 999) / 1000 << " s";
    onLockTick();
    emit lockedChanged();
}

void SessionManager::onLockTick()
{
    const qint64 left = m_lockEnd.remainingTime();
    if (left <= 0) {
        setLockSecondsLeft(0);
        qInfo().noquote().nospace() << Tag << "Logins accepted again";
        emit lockedChanged();
        return;
    }
    setLockSecondsLeft(int((left + 999) / 1000));
    // Next at the change of the shown second, or at the end.
    const int toNextSecond = int(left % 1000);
    m_lockTimer.start(toNextSecond > 0 ? toNextSecond : 1000);
}

void SessionManager::setLockSecondsLeft(int seconds)
{
    if (seconds == m_lockSecondsLeft)
        return;
    m_lockSecondsLeft = seconds;
    emit lockSecondsLeftChanged();
}
