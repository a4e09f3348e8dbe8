#pragma once

#include "mqtt/topicroutes.h"

#include <QObject>
#include <QString>
#include <QTimer>

namespace manager {

class MqttClient;

// The device's software update: the installed and pending version, a status text for the
// settings page, and the progress of a download or an installation run by the device service.
class Update : public QObject
{
    Q_OBJECT
    Q_PROPERTY(State state READ state NOTIFY statusChanged)
    // The state as the settings page shows it.
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(QString current READ current NOTIFY currentChanged)
    Q_PROPERTY(QString pending READ pending NOTIFY pendingChanged)
    Q_PROPERTY(QString progressMessage READ progressMessage NOTIFY progressMessageChanged)
    Q_PROPERTY(int progressPercent READ progressPercent NOTIFY progressPercentChanged)

public:
    enum State {
        Disconnected,   // no broker: nothing is known
        Checking,       // a check was asked for and not answered yet
        NoPending,      // the installed version is the newest known
        ReadyToInstall, // a pending version waits for install()
        Downloading,    // the service reports a download under way
        Installing,     // the service reports an installation under way
    };
    Q_ENUM(State)

    Update(MqttClient &client, const QString &baseTopic, QObject *parent = nullptr);

    // The text shown (and logged) for a state.
    static QString stateText(State state);

    State state() const { return m_state; }
    QString status() const { return stateText(m_state); }
    QString current() const { return m_current; }
    QString pending() const { return m_pending; }
    QString progressMessage() const { return m_progressMessage; }
    int progressPercent() const { return m_progressPercent; }

    // How long a check may go unanswered before the status falls back to the known versions.
    void setCheckInterval(int msec) { m_checkInterval = msec; }

public slots:
    void refresh();
    void check();
    void install();

signals:
    void statusChanged();
    void currentChanged();
    void pendingChanged();
    void progressMessageChanged();
    void progressPercentChanged();
    void checkFinished();
    void installFinished();

private slots:
    void onMqttDisconnected();
    void checkTimerExpired();

private:
    static const TopicRoute<Update> Routes[];

    void setState(State state);
    void setCurrent(const QString &current);
    void setPending(const QString &pending);
    void setProgressMessage(const QString &message);
    void setProgressPercent(int percent);
    void setStatusByPending();

    void onDeviceStatusReceived(const QJsonObject &message);
    void onUpdateStatusReceived(const QJsonObject &message);
    void onProgressReceived(const QJsonObject &message);

    MqttClient &m_client;
    QString m_baseTopic;
    State m_state = Disconnected;
    QString m_current;
    QString m_pending;
    QString m_progressMessage;
    int m_progressPercent = 0;
    QTimer m_checkTimer;
    int m_checkInterval;
};

} // namespace manager
