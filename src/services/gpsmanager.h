#pragma once

#include "mqtt/topicroutes.h"

#include <QDateTime>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>

namespace manager {

class MqttClient;

// A GPS service's proxy: its identity, receiver status and position reports, each kept as a
// plain record and announced with every report; it can switch the receiver on and off.
class GPSManager : public QObject
{
    Q_OBJECT

public:
    struct Info
    {
        QString firmware;
        QString manufacturer;
        QString model;
        QString imei;
        bool assisted = false;
        QString type;
        QString version;
    };

    struct Status
    {
        int fix = 0;
        int state = 0;
        bool simulation = false;
        QString error;
    };

    struct Telemetry
    {
        double latitude = 0.0;
        double longitude = 0.0;
        double altitude = 0.0;
        double direction = 0.0;
        double groundSpeed = 0.0;
        double magneticVariation = 0.0;
        double verticalSpeed = 0.0;
        double verticalAccuracy = 0.0;
        double horizontalAccuracy = 0.0;
        QDateTime timestamp; // never filled by the service's reports
    };

    GPSManager(MqttClient &client, const QString &baseTopic, QObject *parent = nullptr);

    const Info &info() const { return m_info; }
    const Status &status() const { return m_status; }
    const Telemetry &telemetry() const { return m_telemetry; }

    // The topics its dispatcher reads below its one "/#" subscription.
    QStringList readTopics() const;

public slots:
    bool enable();
    bool disable();

signals:
    void infoChanged(const manager::GPSManager::Info &info);
    void statusChanged(const manager::GPSManager::Status &status);
    void telemetryChanged(const manager::GPSManager::Telemetry &data);

private slots:
    // Everything below the base arrives here; the table picks the topics read.
    void onMessageReceived(const QByteArray &data, const QString &topic);

private:
    static const TopicRoute<GPSManager> Routes[];

    void onInfoReceived(const QJsonObject &message);
    void onStatusReceived(const QJsonObject &message);
    void onTelemetryReceived(const QJsonObject &message);

    MqttClient &m_client;
    QString m_baseTopic;
    Info m_info;
    Status m_status;
    Telemetry m_telemetry;
};

} // namespace manager

Q_DECLARE_METATYPE(manager::GPSManager::Info)
Q_DECLARE_METATYPE(manager::GPSManager::Status)
Q_DECLARE_METATYPE(manager::GPSManager::Telemetry)
