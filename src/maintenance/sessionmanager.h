#pragma once

#include "maintenance/user.h"

#include <QObject>
#include <QTimer>
#include <QVector>

class Config;


// Guards the settings area: a matching PIN opens a maintenance session that ends by itself
// after a fixed interval, on logout, or when the controller ends it (ignition off).
class SessionManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool sessionActive READ sessionActive NOTIFY sessionActiveChanged)

public:
    // A technician gets ten minutes from the last login (or the last reset) before the
    // validator returns to passenger service on its own.
    static constexpr int SessionMillis = 600 * 1000;

    explicit SessionManager(Config &config, QObject *parent = nullptr);

    bool sessionActive() const { return m_current >= 0; }
    // The user of the active session, or nullptr when none is active.
    const User *user() const;
    // Milliseconds left of the session; -1 when the timer is not running.
    int remainingTime() const;

    // Length of a session; tests shorten it instead of waiting ten minutes.
    void setSessionInterval(int msec) { m_interval = msec; }
    int sessionInterval() const { return m_interval; }

public slots:
    void loginRequest(const QString &pin);
    void logoutRequest();
    void resetTimer();

signals:
    void sessionActiveChanged();
    void accessGranted();
    void accessDenied();
    void expired();

private slots:
    void loadUsers();
    void onExpired();

private:
    Config &m_config;
    QTimer m_timer;
    // Index into m_users rather than a reference: a configuration reload rebuilds the list,
    // and the session must keep denoting the user at the same position.
    int m_current = -1;
    QVector<User> m_users;
    int m_interval = SessionMillis;
};

