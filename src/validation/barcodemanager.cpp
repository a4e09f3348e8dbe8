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

const QString InfoSuffix = QStringLiteral("/info");
const QString StatusSuffix = QStringLiteral("/status");
const QString BarcodeSuffix = QStringLiteral("/barcode");
const QString EnableSuffix = QStringLiteral("/enable");
const QString DisableSuffix = QStringLiteral("/disable");

} // namespace

BarcodeManager::BarcodeManager(MqttClient &client, const QString &baseTopic, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_baseTopic(baseTopic)
{
    connect(&m_client, &MqttClient::received, this, &BarcodeManager::onMqttReceived);
    m_client.subscribe(m_baseTopic + QStringLiteral("/#"), 0);
}

QStringList BarcodeManager::readTopics() const
{
    return {m_baseTopic + InfoSuffix, m_baseTopic + StatusSuffix, m_baseTopic + BarcodeSuffix};
}

bool BarcodeManager::enable()
{
    return m_client.publish(QByteArray(), m_baseTopic + EnableSuffix, 0, false);
}

bool BarcodeManager::disable()
{
    return m_client.publish(QByteArray(), m_baseTopic + DisableSuffix, 0, false);
}

void BarcodeManager::onMqttReceived(const QByteArray &data, const QString &topic)
{
    if (!topic.contains(m_baseTopic))
        return;
    // Only the three topics we read are parsed: our own empty "/enable" and "/disable"
    // commands come back through the "/#" subscription and are not messages to us.
    const bool info = topic == m_baseTopic + InfoSuffix;
    const bool status = topic == m_baseTopic + StatusSuffix;
    const bool barcode = topic == m_baseTopic + BarcodeSuffix;
    if (!info && !status && !barcode)
        return;

    QJsonObject object;
    if (!parseJsonMessage(data, Tag, &object, EmptyPayload::IsError, ParseFailureDetail::RawPayload))
        return;

    if (info)
        onInfoReceived(object);
    else if (status)
        onStatusReceived(object);
    else
        onBarcodeReceived(object);
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
