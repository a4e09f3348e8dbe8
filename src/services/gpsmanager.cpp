#include "gpsmanager.h"

#include "mqtt/jsonmessage.h"
#include "mqtt/mqttclient.h"

#include <QJsonObject>

// GPS service topics below the base topic, all taken through one wildcard subscription
// (base + "/#"): "/info", "/status" and "/data" are read, the rest ignored.
// Published, with empty payloads: "/enable" and "/disable". Nothing is asked for on connection:
// the service reports on its own. Only parse failures are logged, without a tag.

namespace manager {

namespace {
const char Tag[] = "";

// The service writes its position values as decimal numbers in strings; anything else,
// a JSON number included, reads as 0.
double telemetryValue(const QJsonObject &message, const char *name)
{
    const QJsonValue value = message.value(QLatin1String(name));
    if (value.isUndefined() || value.isNull())
        return 0.0;
    return value.toString().toDouble();
}
} // namespace

const TopicRoute<GPSManager> GPSManager::Routes[] = {
    {"/info", &GPSManager::onInfoReceived},
    {"/status", &GPSManager::onStatusReceived},
    {"/data", &GPSManager::onTelemetryReceived},
};

GPSManager::GPSManager(MqttClient &client, const QString &baseTopic, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_baseTopic(baseTopic)
{
    qRegisterMetaType<manager::GPSManager::Info>();
    qRegisterMetaType<manager::GPSManager::Status>();
    qRegisterMetaType<manager::GPSManager::Telemetry>();
    connect(m_client.subscribe(m_baseTopic + QLatin1String("/#"), 0, this), &MqttSubscription::messageReceived, this,
            &GPSManager::onMessageReceived);
}

bool GPSManager::enable()
{
    return m_client.publish(QByteArray(), m_baseTopic + QLatin1String("/enable"), 0, false);
}

bool GPSManager::disable()
{
    return m_client.publish(QByteArray(), m_baseTopic + QLatin1String("/disable"), 0, false);
}

void GPSManager::onMessageReceived(const QByteArray &data, const QString &topic)
{
    if (const TopicRoute<GPSManager> *route = routes::find(m_baseTopic, Routes, topic))
        routes::handOn(this, *route, {Tag, EmptyPayload::IsError, ParseFailureDetail::RawPayload}, data, topic);
}

QStringList GPSManager::readTopics() const
{
    QStringList topics;
    for (const TopicRoute<GPSManager> &route : Routes)
        topics << route.fullTopic(m_baseTopic);
    return topics;
}

void GPSManager::onInfoReceived(const QJsonObject &message)
{
    const QJsonObject device = message.value(QStringLiteral("device")).toObject();
    const QJsonObject service = message.value(QStringLiteral("service")).toObject();
    m_info.firmware = device.value(QStringLiteral("firmware")).toString();
    m_info.manufacturer = device.value(QStringLiteral("manufacturer")).toString();
    m_info.model = device.value(QStringLiteral("model")).toString();
    m_info.imei = device.value(QStringLiteral("imei")).toString();
    m_info.assisted = device.value(QStringLiteral("assisted")).toBool();
    m_info.type = service.value(QStringLiteral("type")).toString();
    m_info.version = service.value(QStringLiteral("version")).toString();
    emit infoChanged(m_info);
}

void GPSManager::onStatusReceived(const QJsonObject &message)
{
    if (!message.value(QStringLiteral("service")).toBool()) {
        m_status.fix = 0;
        m_status.state = -1;
        m_status.error = QStringLiteral("Manager is offline");
        m_status.simulation = false;
        emit statusChanged(m_status);
        return;
    }
    const QJsonObject device = message.value(QStringLiteral("device")).toObject();
    m_status.fix = device.value(QStringLiteral("fix")).toInt();
    m_status.state = device.value(QStringLiteral("state")).toInt();
    m_status.error = device.value(QStringLiteral("error")).toString();
    m_status.simulation = message.value(QStringLiteral("simulation")).toBool();
    emit statusChanged(m_status);
}

void GPSManager::onTelemetryReceived(const QJsonObject &message)
{
    m_telemetry.latitude = telemetryValue(message, "latitude");
    m_telemetry.longitude = telemetryValue(message, "longitude");
    m_telemetry.altitude = telemetryValue(message, "altitude");
    m_telemetry.direction = telemetryValue(message, "direction");
    m_telemetry.groundSpeed = telemetryValue(message, "groundSpeed");
    m_telemetry.magneticVariation = telemetryValue(message, "magneticVariation");
    m_telemetry.verticalSpeed = telemetryValue(message, "verticalSpeed");
    m_telemetry.verticalAccuracy = telemetryValue(message, "verticalAccuracy");
    m_telemetry.horizontalAccuracy = telemetryValue(message, "horizontalAccuracy");
    emit telemetryChanged(m_telemetry);
}

} // namespace manager
