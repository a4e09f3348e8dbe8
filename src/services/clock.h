#pragma once

#include "mqtt/topicroutes.h"

#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>

namespace manager {

class MqttClient;

// The device's time: the device service's NTP client over MQTT, and the system time zone,
// read and set through `timedatectl`. The program runs in the background, one call at a time,
// so that a slow or hung one never stops the scene; the zone list and the zone are kept here
// and announced when they change.
class Clock : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList timezones READ timezones NOTIFY timezonesChanged)
    Q_PROPERTY(QString timezone READ timezone WRITE setTimezone NOTIFY timezoneChanged)
    Q_PROPERTY(QString ntpServer READ ntpServer WRITE setNtpServer NOTIFY ntpServerChanged)
    Q_PROPERTY(bool ntpEnabled READ ntpEnabled WRITE setNtpEnabled NOTIFY ntpEnabledChanged)
    Q_PROPERTY(bool ntpSynced READ ntpSynced NOTIFY ntpSyncedChanged)

public:
    Clock(MqttClient &client, const QString &baseTopic, QObject *parent = nullptr);
    // The same, with another `timedatectl` program (a path, or a name looked up in PATH).
    Clock(MqttClient &client, const QString &baseTopic, const QString &timedatectl, QObject *parent = nullptr);
    ~Clock() override;

    QStringList timezones() const { return m_timezones; }
    QString timezone() const { return m_timezone; }
    // A `timedatectl` call runs or waits.
    bool isBusy() const { return m_process || !m_queue.isEmpty(); }
    QString ntpServer() const { return m_ntpServer; }
    bool ntpEnabled() const { return m_ntpEnabled; }
    bool ntpSynced() const { return m_ntpSynced; }

    void setTimezone(const QString &zone);
    void setNtpServer(const QString &server);
    void setNtpEnabled(bool enabled);

public slots:
    void ntpSync();
    void refresh();

signals:
    void timezonesChanged();
    void timezoneChanged();
    // The system refused the zone (or the call did not finish); the zone in force stays.
    void timezoneSetFailed(const QString &zone);
    void ntpServerChanged();
    void ntpEnabledChanged();
    void ntpSyncedChanged();

private:
    static const TopicRoute<Clock> Routes[];

    struct Call
    {
        enum Kind { ListZones, ReadZone, SetZone } kind;
        QString zone;
    };

    void enqueue(const Call &call);
    void killRunning();
    void runNext();
    void onCallFinished(bool succeeded, const QString &failure);
    void readTimezone();
    void publishConfig(bool enabled, const QString &server);
    void onStatusReceived(const QJsonObject &message);
    void onConfigReceived(const QJsonObject &message);
    void setEnabled(bool enabled);

    MqttClient &m_client;
    QString m_ntpTopic;
    QString m_timedatectl;
    QStringList m_timezones;
    QString m_timezone;
    QList<Call> m_queue;
    QProcess *m_process = nullptr;
    Call m_running{Call::ListZones, {}};
    QTimer m_bound;
    QString m_ntpServer;
    bool m_ntpEnabled = false;
    bool m_ntpSynced = false;
};

} // namespace manager
