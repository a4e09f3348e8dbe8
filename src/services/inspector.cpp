#include "inspector.h"

#include "mqtt/monitor.h"

#include "mqtt/jsonmessage.h"
#include "mqtt/mqttclient.h"

#include <QDebug>
#include <QJsonObject>

// Inspector service topics below the base topic ("orvo/inspector" by default).
// Subscribed: "/info", "/status", "/audio", and the statistics "/stats/cpu", "/stats/memory",
// "/stats/disk" (received but not interpreted yet).
// Published: the "/.../get" refreshes, "/audio/set", "/audio/play",
// "/power/reboot/request/1" and "/power/shutdown/request/1".

namespace manager {

namespace {
const char Tag[] = "[Inspector] ";

const QByteArray RefreshPayload("{}");

// Time for the scene to show "Rebooting" or "Shutting down" before the system goes away.
constexpr int PowerRequestDelayMs = 2000;

// The longest power-off delay a timer is armed with (about 23 days), leaving room in the
// timer's millisecond range for its own rounding.
constexpr qint64 LongestShutdownDelayMs = 2000000000;
} // namespace

// The statistics topics are subscribed for the service's sake but not interpreted.
const TopicRoute<Inspector, Inspector::Handler> Inspector::Routes[] = {
    {"/info", &Inspector::onInfoReceived},
    {"/status", &Inspector::onStatusReceived},
    {"/audio", &Inspector::onAudioReceived},
    {"/stats/cpu", nullptr},
    {"/stats/memory", nullptr},
    {"/stats/disk", nullptr},
};

Inspector::Inspector(MqttClient &client, const QString &baseTopic, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_baseTopic(baseTopic)
{
    connect(&m_client, &MqttClient::connected, this, &Inspector::refresh);
    connect(&m_monitorTimer, &QTimer::timeout, this, &Inspector::refresh);
    connect(&m_shutdownTimer, &QTimer::timeout, this, &Inspector::onShutdownDue);
    m_scheduledRequestTimer.setSingleShot(true);
    m_scheduledRequestTimer.setInterval(PowerRequestDelayMs);
    connect(&m_scheduledRequestTimer, &QTimer::timeout, this,
            [this] { publish(QStringLiteral("/power/shutdown/request/1"), QByteArray()); });
    subscribe();
}

int Inspector::audioVolume() const
{
    return m_audioRecord.value(QStringLiteral("internal"), 0).toInt();
}

void Inspector::subscribe()
{
    qInfo().noquote().nospace() << Tag << "Subscribing to topics";
    routes::subscribe(m_client, this, m_baseTopic, Routes,
                      {Tag, EmptyPayload::AsEmptyObject, ParseFailureDetail::ParserError});
}

void Inspector::publish(const QString &suffix, const QByteArray &payload)
{
    m_client.publish(payload, m_baseTopic + suffix, 0, false);
}

void Inspector::refresh()
{
    qInfo().noquote().nospace() << Tag << "Refreshing data";
    publish(QStringLiteral("/audio/get"), RefreshPayload);
    publish(QStringLiteral("/stats/memory/get"), RefreshPayload);
    publish(QStringLiteral("/stats/disk/get"), RefreshPayload);
    publish(QStringLiteral("/stats/cpu/get"), RefreshPayload);
}

void Inspector::monitor(int msec)
{
    if (setMonitorInterval(m_monitorTimer, msec, Tag))
        refresh();
}

void Inspector::setAudioVolume(int value)
{
    qInfo().noquote().nospace() << Tag << "Setting 'internal' audio volume : " << value << "%";
    const QJsonObject internal{{QStringLiteral("volume"), value}};
    publish(QStringLiteral("/audio/set"), requestBody(QJsonObject{{QStringLiteral("internal"), internal}}));
}

void Inspector::audioPlay(const QString &file)
{
    qInfo().noquote().nospace() << Tag << "Playing audio file (card='internal') : " << file;
    publish(QStringLiteral("/audio/play"),
            requestBody(QJsonObject{{QStringLiteral("device"), QStringLiteral("internal")},
                                    {QStringLiteral("filepath"), file}}));
}

void Inspector::systemReboot()
{
    qInfo().noquote().nospace() << Tag << "Requesting System reboot";
    emit systemRebootStarted();
    QTimer::singleShot(PowerRequestDelayMs, this,
                       [this] { publish(QStringLiteral("/power/reboot/request/1"), QByteArray()); });
}

void Inspector::systemShutdown()
{
    qInfo().noquote().nospace() << Tag << "Requesting System shutdown";
    emit systemShutdownStarted();
    QTimer::singleShot(PowerRequestDelayMs, this,
                       [this] { publish(QStringLiteral("/power/shutdown/request/1"), QByteArray()); });
}

void Inspector::onShutdownDue()
{
    qInfo().noquote().nospace() << Tag << "Requesting System shutdown";
    emit systemShutdownStarted();
    m_scheduledRequestTimer.start();
}

void Inspector::scheduleShutdown(int sec)
{
    // The first deadline stands: a later ignition-off must not postpone or advance it.
    if (m_shutdownTimer.isActive())
        return;
    qInfo().noquote().nospace() << Tag << "Scheduling System shutdown in : " << sec << " sec(s)";
    // A delay past the timer's range waits as long as it can; a negative one means now.
    const qint64 msec = qBound<qint64>(0, qint64(sec) * 1000, LongestShutdownDelayMs);
    m_shutdownTimer.setSingleShot(true);
    m_shutdownTimer.start(int(msec));
}

void Inspector::abortShutdown()
{
    if (m_shutdownTimer.isActive()) {
        qInfo().noquote().nospace() << Tag << "Aborting System shutdown";
        m_shutdownTimer.stop();
    } else if (m_scheduledRequestTimer.isActive()) {
        qInfo().noquote().nospace() << Tag << "Aborting System shutdown request";
        m_scheduledRequestTimer.stop();
    }
}

void Inspector::setStatus(const QString &status)
{
    if (status == m_status)
        return;
    qInfo().noquote().nospace() << Tag << "Status changed : " << status;
    m_status = status;
    emit statusChanged();
}

void Inspector::onInfoReceived(const QJsonObject &message, const QString &topic)
{
    qInfo().noquote().nospace() << Tag << "Processing info topic " << topic;
    m_info.insert(QStringLiteral("version"),
                  message.value(QStringLiteral("service")).toObject().value(QStringLiteral("version")).toString());
    emit infoChanged();
}

void Inspector::onStatusReceived(const QJsonObject &message, const QString &topic)
{
    qInfo().noquote().nospace() << Tag << "Processing status topic " << topic;
    setStatus(message.value(QStringLiteral("service")).toBool() ? QStringLiteral("online")
                                                                : QStringLiteral("offline"));
}

void Inspector::onAudioReceived(const QJsonObject &message, const QString &)
{
    const int volume = message.value(QStringLiteral("internal")).toObject().value(QStringLiteral("volume")).toInt();
    if (volume == audioVolume())
        return;
    m_audioRecord.insert(QStringLiteral("internal"), volume);
    emit audioVolumeChanged();
}

} // namespace manager
