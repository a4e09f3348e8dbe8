#pragma once

#include "maintenance/user.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>
#include <QVector>

class Config;


// Guards the settings area: a matching PIN opens a maintenance session that ends by itself
// after a fixed interval, on logout, or when the controller ends it (ignition off). Too many
// wrong PINs in a row refuse every login for a while, the right PIN included.
class SessionManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool sessionActive READ sessionActive NOTIFY sessionActiveChanged)
    Q_PROPERTY(bool locked READ locked NOTIFY lockedChanged)
    Q_PROPERTY(int lockSecondsLeft READ lockSecondsLeft NOTIFY lockSecondsLeftChanged)

public:
    // A technician gets ten minutes from the last login (or the last reset) before the
    // validator returns to passenger service on its own.
    static constexpr int SessionMillis = 600 * 1000;
    // Five tries forgive a technician's slips on the pad; a minute's wait after them stretches
    // guessing the 10 000 four-digit PINs from minutes to about 17 hours on average.
    static constexpr int MaxWrongPins = 5;
    static constexpr int LockoutMillis = 60 * 1000;

    explicit SessionManager(Config &config, QObject *parent = nullptr);

    bool sessionActive() const { return m_current >= 0; }
    // The user of the active session, or nullptr when none is active.
    const User *user() const;
    // Milliseconds left of the session; -1 when the timer is not running.
    int remainingTime() const;

    // Length of a session; tests shorten it instead of waiting ten minutes.
    void setSessionInterval(int msec) { m_interval = msec; }
    int sessionInterval() const { return m_interval; }

    // True while logins are refused after MaxWrongPins wrong PINs in a row.
    bool locked() const { return m_lockSecondsLeft > 0; }
    // Whole seconds, rounded up, until logins are taken again; 0 when not locked.
    int lockSecondsLeft() const { return m_lockSecondsLeft; }
    // Length of a lock-out; tests shorten it instead of waiting a minute.
    void setLockoutInterval(int msec) { m_lockoutInterval = qMax(1, msec); }

public slots:
    void loginRequest(const QString &pin);
    void logoutRequest();
    void resetTimer();

signals:
    void sessionActiveChanged();
    void accessGranted();
    void accessDenied();
    void expired();
    // Emitted when logins become refused and again when they are taken again.
    void lockedChanged();
    void lockSecondsLeftChanged();

private slots:
    void loadUsers();
    void onExpired();
    void onLockTick();

private:
    Config &m_config;
    QTimer m_timer;
    // Index into m_users rather than a reference: a configuration reload rebuilds the list,
    // and the session must keep denoting the user at the same position.
    int m_current = -1;
    QVector<User> m_users;
    int m_interval = SessionMillis;

    void lockOut();
    void setLockSecondsLeft(int seconds);

    // Fires at each whole second of the lock-out left, and at its end.
    QTimer m_lockTimer;
    QDeadlineTimer m_lockEnd;
    int m_lockSecondsLeft = 0;
    int m_wrongPins = 0;
    int m_lockoutInterval = LockoutMillis;
};

