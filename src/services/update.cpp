#include "update.h"

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

// A check the service does not answer ends here, with the versions already known.
constexpr int CheckTimeoutMs = 5000;
} // namespace

const TopicRoute<Update> Update::Routes[] = {
    {"/status", &Update::onDeviceStatusReceived},
    {"/update/software/status", &Update::onUpdateStatusReceived},
    {"/update/software/progress", &Update::onProgressReceived},
    {"/update/software/progess", &Update::onProgressReceived},
};

QString Update::stateText(State state)
{
    switch (state) {
    case Disconnected:
        return QStringLiteral("Disconnected");
    case Checking:
        return QStringLiteral("Checking for updates");
    case NoPending:
        return QStringLiteral("No pending updates");
    case ReadyToInstall:
        return QStringLiteral("Ready to install");
    case Downloading:
        return QStringLiteral("Downloading");
    case Installing:
        return QStringLiteral("Installing");
    }
    return QString();
}

Update::Update(MqttClient &client, const QString &baseTopic, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_baseTopic(baseTopic)
    , m_checkInterval(CheckTimeoutMs)
{
    m_checkTimer.setSingleShot(true);
    connect(&m_client, &MqttClient::connected, this, &Update::refresh);
    connect(&m_client, &MqttClient::disconnected, this, &Update::onMqttDisconnected);
    connect(&m_checkTimer, &QTimer::timeout, this, &Update::checkTimerExpired);
    routes::subscribe(m_client, this, m_baseTopic, Routes,
                      {Tag, EmptyPayload::AsEmptyObject, ParseFailureDetail::ParserError});
}

void Update::refresh()
{
    m_client.publish(QByteArray(), m_baseTopic + QLatin1String("/status/get"), 0, false);
}

void Update::check()
{
    qInfo().noquote().nospace() << Tag << "Checking for updates";
    setState(Checking);
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
    setState(Disconnected);
}

void Update::checkTimerExpired()
{
    qInfo().noquote().nospace() << Tag << "No pedning updates";
    setStatusByPending();
}

void Update::setStatusByPending()
{
    setState(m_pending.isEmpty() ? NoPending : ReadyToInstall);
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
    setState(m_progressMessage.contains(QLatin1Char('/')) ? Downloading : Installing);
}

void Update::setState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
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
