#include "barcodemanager.h"

#include "mqtt/jsonmessage.h"
#include "mqtt/mqttclient.h"

#include <QDebug>

// Subscribes to everything below the reader's base topic ("orvo/barcode" by default) and reads
// "/info" (identification), "/status" (service running, reader active and enabled) and
// "/barcode" (a scanned code in "data"). Publishes empty commands on "/enable" and "/disable".
// This proxy writes no tag in front of its log lines.

namespace manager {

namespace {

const char Tag[] = "";

const QString EnableSuffix = QStringLiteral("/enable");
const QString DisableSuffix = QStringLiteral("/disable");

} // namespace

// Our own empty "/enable" and "/disable" commands come back through the "/#" subscription
// and are not messages to us: only these are parsed.
const TopicRoute<BarcodeManager> BarcodeManager::Routes[] = {
    {"/info", &BarcodeManager::onInfoReceived},
    {"/status", &BarcodeManager::onStatusReceived},
    {"/barcode", &BarcodeManager::onBarcodeReceived},
};

BarcodeManager::BarcodeManager(MqttClient &client, const QString &baseTopic, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_baseTopic(baseTopic)
{
    connect(m_client.subscribe(m_baseTopic + QStringLiteral("/#"), 0, this), &MqttSubscription::messageReceived, this,
            &BarcodeManager::onMessageReceived);
}

QStringList BarcodeManager::readTopics() const
{
    QStringList topics;
    for (const TopicRoute<BarcodeManager> &route : Routes)
        topics << route.fullTopic(m_baseTopic);
    return topics;
}

bool BarcodeManager::enable()
{
    return m_client.publish(QByteArray(), m_baseTopic + EnableSuffix, 0, false);
}

bool BarcodeManager::disable()
{
    return m_client.publish(QByteArray(), m_baseTopic + DisableSuffix, 0, false);
}

void BarcodeManager::onMessageReceived(const QByteArray &data, const QString &topic)
{
    if (const TopicRoute<BarcodeManager> *route = routes::find(m_baseTopic, Routes, topic))
        routes::handOn(this, *route, {Tag, EmptyPayload::IsError, ParseFailureDetail::RawPayload}, data, topic);
}

void BarcodeManager::onInfoReceived(const QJsonObject &object)
{
    const QJsonObject device = object.value(QLatin1String("device")).toObject();
    const QJsonObject service = object.value(QLatin1String("service")).toObject();
    m_firmware = device.value(QLatin1String("firmware")).toString();
    m_manufacturer = device.value(QLatin1String("manufacturer")).toString();
    m_model = device.value(QLatin1String("model")).toString();
    m_version = service.value(QLatin1String("version")).toString();
    m_type = service.value(QLatin1String("type")).toString();
}

void BarcodeManager::onStatusReceived(const QJsonObject &object)
{
    const QJsonObject device = object.value(QLatin1String("device")).toObject();
    if (!object.value(QLatin1String("service")).toBool())
        setStatus(QStringLiteral("offline"));
    else if (!device.value(QLatin1String("active")).toBool())
        setStatus(QStringLiteral("error"));
    else if (device.value(QLatin1String("enabled")).toBool())
        setStatus(QStringLiteral("enabled"));
    else
        setStatus(QStringLiteral("disabled"));
}

void BarcodeManager::onBarcodeReceived(const QJsonObject &object)
{
    emit barcodeScanned(object.value(QLatin1String("data")).toString());
}

void BarcodeManager::setStatus(const QString &status)
{
    if (m_status == status)
        return;
    qWarning().noquote().nospace() << "Barcode status is : " << status;
    m_status = status;
    emit statusChanged(m_status);
}

} // namespace manager
