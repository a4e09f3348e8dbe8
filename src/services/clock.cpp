#include "clock.h"

#include "mqtt/jsonmessage.h"
#include "mqtt/mqttclient.h"

#include <QDebug>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

// The device service's NTP client below base topic + "/clock/ntp" ("orvo/device/clock/ntp").
// Subscribed: "/status" and "/config". Published: "/status/get", "/config/get", "/sync" and
// "/config/set". The time zone goes through `timedatectl` on this thread, bounded per call.
// This class writes its log lines without a tag.

namespace manager {

namespace {
const char Tag[] = "";

// Each `timedatectl` call blocks the scene; past this it is ended and its output so far used.
constexpr int TimedatectlTimeoutMs = 1000;

const QRegularExpression ZonePattern(QStringLiteral("Time zone:\\s(.+)\\s\\("));
} // namespace

Clock::Clock(MqttClient &client, const QString &baseTopic, QObject *parent)
    : Clock(client, baseTopic, QStringLiteral("timedatectl"), parent)
{
}

Clock::Clock(MqttClient &client, const QString &baseTopic, const QString &timedatectl, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_ntpTopic(baseTopic + QLatin1String("/clock/ntp"))
    , m_timedatectl(timedatectl)
{
    // The zone database is read once; a changed one is seen after a restart.
    m_timezones = QString::fromUtf8(runTimedatectl({QStringLiteral("--no-pager"), QStringLiteral("list-timezones")}))
                      .split(QLatin1Char('\n'));
    connect(&m_client, &MqttClient::connected, this, &Clock::refresh);
    connect(&m_client, &MqttClient::received, this, &Clock::onMqttReceived);
    m_client.subscribe(m_ntpTopic + QLatin1String("/status"), 0);
    m_client.subscribe(m_ntpTopic + QLatin1String("/config"), 0);
}

QByteArray Clock::runTimedatectl(const QStringList &arguments) const
{
    // Program and arguments go separately, so a zone name stays one argument whatever it holds.
    QProcess process;
    process.start(m_timedatectl, arguments, QIODevice::ReadWrite);
    if (!process.waitForFinished(TimedatectlTimeoutMs) && process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(TimedatectlTimeoutMs);
    }
    const QByteArray output = process.readAllStandardOutput();
    const int end = output.indexOf('\0');
    return end < 0 ? output : output.left(end);
}

QString Clock::timezone() const
{
    const QRegularExpressionMatch match =
        ZonePattern.match(QString::fromUtf8(runTimedatectl({QStringLiteral("status")})));
    return match.hasMatch() ? match.captured(1) : QString();
}

void Clock::setTimezone(const QString &zone)
{
    if (zone == timezone())
        return;
    runTimedatectl({QStringLiteral("set-timezone"), zone});
    emit timezoneChanged();
}

void Clock::publishConfig(bool enabled, const QString &server)
{
    const QJsonObject body{{QStringLiteral("enabled"), enabled}, {QStringLiteral("server"), server}};
    m_client.publish(requestBody(body), m_ntpTopic + QLatin1String("/config/set"), 0, false);
}

void Clock::setNtpServer(const QString &server)
{
    if (server == m_ntpServer)
        return;
    qInfo().noquote().nospace() << "Setting NTP server : " << server;
    publishConfig(m_ntpEnabled, server);
}

void Clock::setNtpEnabled(bool enabled)
{
    if (enabled == m_ntpEnabled)
        return;
    qInfo().noquote().nospace() << "Setting NTP : " << (enabled ? "enabled" : "disabled");
    publishConfig(enabled, m_ntpServer);
}

void Clock::ntpSync()
{
    qInfo().noquote().nospace() << "Requesting NTP sync";
    // Unsynced until the service reports the outcome of this request.
    m_ntpSynced = false;
    emit ntpSyncedChanged();
    m_client.publish(QByteArray(), m_ntpTopic + QLatin1String("/sync"), 0, false);
}

void Clock::refresh()
{
    qInfo().noquote().nospace() << "Refreshing Clock status and config";
    m_client.publish(QByteArray(), m_ntpTopic + QLatin1String("/status/get"), 0, false);
    m_client.publish(QByteArray(), m_ntpTopic + QLatin1String("/config/get"), 0, false);
}

void Clock::onMqttReceived(const QByteArray &data, const QString &topic)
{
    if (!topic.contains(m_ntpTopic))
        return;
    QJsonObject message;
    if (!parseJsonMessage(data, Tag, &message, EmptyPayload::IsError, ParseFailureDetail::RawPayload))
        return;
    if (topic.contains(QLatin1String("/ntp/status")))
        onStatusReceived(message);
    else if (topic.contains(QLatin1String("/ntp/config")))
        onConfigReceived(message);
}

void Clock::setEnabled(bool enabled)
{
    if (enabled == m_ntpEnabled)
        return;
    m_ntpEnabled = enabled;
    emit ntpEnabledChanged();
}

void Clock::onStatusReceived(const QJsonObject &message)
{
    setEnabled(message.value(QStringLiteral("enabled")).toBool());
    const bool synced = message.value(QStringLiteral("synced")).toBool();
    if (synced != m_ntpSynced) {
        m_ntpSynced = synced;
        emit ntpSyncedChanged();
    }
}

void Clock::onConfigReceived(const QJsonObject &message)
{
    setEnabled(message.value(QStringLiteral("enabled")).toBool());
    const QString server = message.value(QStringLiteral("server")).toString();
    if (server != m_ntpServer) {
        m_ntpServer = server;
        emit ntpServerChanged();
    }
}

} // namespace manager
