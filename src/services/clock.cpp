#include "clock.h"

#include "mqtt/mqttclient.h"

#include <QDebug>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

// The device service's NTP client below base topic + "/clock/ntp" ("orvo/device/clock/ntp").
// Subscribed: "/status" and "/config". Published: "/status/get", "/config/get", "/sync" and
// "/config/set". The time zone goes through `timedatectl`, run in the background one call at a
// time and bounded per call.
// This class writes its log lines without a tag.

namespace manager {

namespace {
const char Tag[] = "";

// A call that has not finished by then is ended; what it wrote so far is used, and a set that
// did not finish counts as failed.
constexpr int TimedatectlTimeoutMs = 5000;

const QRegularExpression ZonePattern(QStringLiteral("Time zone:\\s(.+)\\s\\("));
} // namespace

const TopicRoute<Clock> Clock::Routes[] = {
    {"/status", &Clock::onStatusReceived},
    {"/config", &Clock::onConfigReceived},
};

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
    m_bound.setSingleShot(true);
    m_bound.setInterval(TimedatectlTimeoutMs);
    connect(&m_bound, &QTimer::timeout, this, [this] { killRunning(); });
    // The zone database is read once; a changed one is seen after a restart.
    enqueue({Call::ListZones, {}});
    readTimezone();
    connect(&m_client, &MqttClient::connected, this, &Clock::refresh);
    routes::subscribe(m_client, this, m_ntpTopic, Routes, {Tag, EmptyPayload::IsError, ParseFailureDetail::RawPayload});
}

Clock::~Clock()
{
    if (m_process) {
        // Ended and reaped here rather than left to the process object's own warning.
        m_process->disconnect(this);
        killRunning();
        m_process->waitForFinished(TimedatectlTimeoutMs);
    }
}

void Clock::killRunning()
{
    // Only a child that really runs: Qt 5.15 signals the pid it holds, and for a child that
    // never started that can be -1, every process the user may signal.
    if (m_process && m_process->state() == QProcess::Running && m_process->processId() > 0)
        m_process->kill();
}

void Clock::enqueue(const Call &call)
{
    // A read or a set already waiting covers a new one (a set takes the latest zone).
    for (Call &waiting : m_queue) {
        if (waiting.kind == call.kind) {
            waiting.zone = call.zone;
            return;
        }
    }
    m_queue.append(call);
    runNext();
}

void Clock::readTimezone()
{
    enqueue({Call::ReadZone, {}});
}

void Clock::runNext()
{
    if (m_process || m_queue.isEmpty())
        return;
    m_running = m_queue.takeFirst();
    QStringList arguments;
    switch (m_running.kind) {
    case Call::ListZones:
        arguments = QStringList{QStringLiteral("--no-pager"), QStringLiteral("list-timezones")};
        break;
    case Call::ReadZone:
        arguments = QStringList{QStringLiteral("status")};
        break;
    case Call::SetZone:
        arguments = QStringList{QStringLiteral("set-timezone"), m_running.zone};
        break;
    }
    m_process = new QProcess(this);
    connect(m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            [this](int exitCode, QProcess::ExitStatus exitStatus) {
                if (exitStatus != QProcess::NormalExit)
                    onCallFinished(false, QStringLiteral("ended after %1 ms").arg(TimedatectlTimeoutMs));
                else
                    onCallFinished(exitCode == 0, QStringLiteral("exit status %1").arg(exitCode));
            });
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        // A program that never started sends no finished().
        if (error == QProcess::FailedToStart)
            onCallFinished(false, QStringLiteral("not started"));
    });
    // The service manager's notify socket is this process's: timedatectl would answer on it
    // (its exit status), and the unit takes notices from the main process only.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID"})
        environment.remove(QString::fromLatin1(name));
    m_process->setProcessEnvironment(environment);
    m_bound.start();
    // Program and arguments go separately, so a zone name stays one argument whatever it holds.
    m_process->start(m_timedatectl, arguments, QIODevice::ReadOnly);
}

void Clock::onCallFinished(bool succeeded, const QString &failure)
{
    if (!m_process)
        return;
    m_bound.stop();
    QByteArray output = m_process->readAllStandardOutput();
    const int end = output.indexOf('\0');
    if (end >= 0)
        output.truncate(end);
    m_process->deleteLater();
    m_process = nullptr;

    switch (m_running.kind) {
    case Call::ListZones: {
        const QStringList zones = QString::fromUtf8(output).split(QLatin1Char('\n'));
        if (zones != m_timezones) {
            m_timezones = zones;
            emit timezonesChanged();
        }
        break;
    }
    case Call::ReadZone: {
        const QRegularExpressionMatch match = ZonePattern.match(QString::fromUtf8(output));
        const QString zone = match.hasMatch() ? match.captured(1) : QString();
        if (zone != m_timezone) {
            m_timezone = zone;
            emit timezoneChanged();
        }
        break;
    }
    case Call::SetZone:
        if (succeeded) {
            qInfo().noquote().nospace() << "Time zone set : " << m_running.zone;
            if (m_running.zone != m_timezone) {
                m_timezone = m_running.zone;
                emit timezoneChanged();
            }
        } else {
            qWarning().noquote().nospace() << "WARN: Could not set time zone : " << m_running.zone << " (" << failure
                                           << ")";
            emit timezoneSetFailed(m_running.zone);
        }
        break;
    }
    runNext();
}

void Clock::setTimezone(const QString &zone)
{
    if (zone == m_timezone)
        return;
    enqueue({Call::SetZone, zone});
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
    readTimezone();
    m_client.publish(QByteArray(), m_ntpTopic + QLatin1String("/status/get"), 0, false);
    m_client.publish(QByteArray(), m_ntpTopic + QLatin1String("/config/get"), 0, false);
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
