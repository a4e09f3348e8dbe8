#include "update.h"

#include "mqtt/jsonmessage.h"
#include "mqtt/mqttclient.h"

#include <QDebug>
#include <QJsonObject>

// The device service's software update below the base topic ("orvo/device").
// Subscribed: "/status", "/update/software/status" and both spellings of the progress topic,
// "/update/software/progress" and "/update/software/progess", which the service has used.
// Published, all with empty payloads: "/status/get", "/software/check", "/update/software/install".

namespace manager {

namespace {
const char Tag[] = "[Update] ";

const char Disconnected[] = "Disconnected";
const char Checking[] = "Checking for updates";
const char NoPending[] = "No pending updates";
const char ReadyToInstall[] = "Ready to install";
const char Downloading[] = "Downloading";
const char Installing[] = "Installing";

// A check the service does not answer ends here, with the versions already known.
constexpr int CheckTimeoutMs = 5000;
} // namespace

Update::Update(MqttClient &client, const QString &baseTopic, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_baseTopic(baseTopic)
    , m_status(QLatin1String(Disconnected))
    , m_checkInterval(CheckTimeoutMs)
{
    m_checkTimer.setSingleShot(true);
    connect(&m_client, &MqttClient::received, this, &Update::onMqttReceived);
    connect(&m_client, &MqttClient::connected, this, &Update::refresh);
    connect(&m_client, &MqttClient::disconnected, this, &Update::onMqttDisconnected);
    connect(&m_checkTimer, &QTimer::timeout, this, &Update::checkTimerExpired);
    for (const char *suffix : {"/status", "/update/software/status", "/update/software/progress",
                               "/update/software/progess"})
        m_client.subscribe(m_baseTopic + QLatin1String(suffix), 0);
}

void Update::refresh()
{
    m_client.publish(QByteArray(), m_baseTopic + QLatin1String("/status/get"), 0, false);
}

void Update::check()
{
    qInfo().noquote().nospace() << Tag << "Checking for updates";
    setStatus(QLatin1String(Checking));
    m_checkTimer.start(m_checkInterval);
    m_client.publish(QByteArray(), m_baseTopic + QLatin1String("/software/check"), 0, false);
}

void Update::install()
{
    if (m_pending.isEmpty()) {
        qWarning().noquote().nospace() << Tag << "WARN: Cannot install. There are no pending versions";
        return;
    }
    qInfo().noquote().nospace() << Tag << "Installing pending update : " << m_pending;
    m_client.publish(QByteArray(), m_baseTopic + QLatin1String("/update/software/install"), 0, false);
}

void Update::onMqttDisconnected()
{
    setStatus(QLatin1String(Disconnected));
}

void Update::checkTimerExpired()
{
    qInfo().noquote().nospace() << Tag << "No pedning updates";
    setStatusByPending();
}

void Update::setStatusByPending()
{
    setStatus(QLatin1String(m_pending.isEmpty() ? NoPending : ReadyToInstall));
}

void Update::onMqttReceived(const QByteArray &data, const QString &topic)
{
    if (!topic.contains(m_baseTopic))
        return;
    QJsonObject message;
    if (!parseJsonMessage(data, Tag, &message, EmptyPayload::AsEmptyObject, ParseFailureDetail::ParserError))
        return;
    if (topic == m_baseTopic + QLatin1String("/status"))
        onDeviceStatusReceived(message);
    else if (topic == m_baseTopic + QLatin1String("/update/software/status"))
        onUpdateStatusReceived(message);
    else if (topic == m_baseTopic + QLatin1String("/update/software/progress")
             || topic == m_baseTopic + QLatin1String("/update/software/progess"))
        onProgressReceived(message);
}

void Update::onDeviceStatusReceived(const QJsonObject &message)
{
    const QJsonValue software =
        message.value(QStringLiteral("update")).toObject().value(QStringLiteral("software"));
    if (software.isString()) {
        setCurrent(software.toString());
    } else if (software.isObject()) {
        const QJsonObject versions = software.toObject();
        setCurrent(versions.value(QStringLiteral("current")).toString());
        setPending(versions.value(QStringLiteral("pending")).toString());
    }
    setStatusByPending();
    setProgressMessage(QStringLiteral("Idle"));
    setProgressPercent(0);
}

void Update::onUpdateStatusReceived(const QJsonObject &message)
{
    setCurrent(message.value(QStringLiteral("current")).toString());
    setPending(message.value(QStringLiteral("pending")).toString());
}

void Update::onProgressReceived(const QJsonObject &message)
{
    setProgressMessage(message.value(QStringLiteral("message")).toString());
    setProgressPercent(message.value(QStringLiteral("progress")).toInt());
    setPending(message.value(QStringLiteral("version")).toString());
    // The service answered the check with work under way; its report decides the status.
    m_checkTimer.stop();
    // The service's download messages carry a slash; any other message reports the installation.
    setStatus(QLatin1String(m_progressMessage.contains(QLatin1Char('/')) ? Downloading : Installing));
}

void Update::setStatus(const QString &status)
{
    if (status == m_status)
        return;
    m_status = status;
    emit statusChanged();
}

void Update::setCurrent(const QString &current)
{
    if (current == m_current)
        return;
    m_current = current;
    emit currentChanged();
}

void Update::setPending(const QString &pending)
{
    if (pending == m_pending)
        return;
    m_pending = pending;
    emit pendingChanged();
}

void Update::setProgressMessage(const QString &message)
{
    if (message == m_progressMessage)
        return;
    m_progressMessage = message;
    emit progressMessageChanged();
}

void Update::setProgressPercent(int percent)
{
    if (percent == m_progressPercent)
        return;
    m_progressPercent = percent;
    emit progressPercentChanged();
}

} // namespace manager
