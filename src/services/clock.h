#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

namespace manager {

class MqttClient;

// The device's time: the device service's NTP client over MQTT, and the system time zone,
// read and set through `timedatectl`. The zone is not kept here: every read asks the system.
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

    QStringList timezones() const { return m_timezones; }
    QString timezone() const;
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
    void ntpServerChanged();
    void ntpEnabledChanged();
    void ntpSyncedChanged();

private slots:
    void onMqttReceived(const QByteArray &data, const QString &topic);

private:
    QByteArray runTimedatectl(const QStringList &arguments) const;
    void publishConfig(bool enabled, const QString &server);
    void onStatusReceived(const QJsonObject &message);
    void onConfigReceived(const QJsonObject &message);
    void setEnabled(bool enabled);

    MqttClient &m_client;
    QString m_ntpTopic;
    QString m_timedatectl;
    QStringList m_timezones;
    QString m_ntpServer;
    bool m_ntpEnabled = false;
    bool m_ntpSynced = false;
};

} // namespace manager
