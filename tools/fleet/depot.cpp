#include "depot.h"

#include "fleet.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QSysInfo>
#include <QTimer>

namespace fleet {

bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    constexpr int PollMs = 20;
    const QDeadlineTimer deadline(timeoutMs);
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(PollMs);
    QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
    tick.start();
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        loop.exec();
    }
    return true;
}

namespace {

// A console reconnects a little sooner than a validator: the operator is waiting.
constexpr unsigned RetryMs = 2000;
// A depot that does not let the console echo its own message (an ACL without the console's
// topic) still gets a table: the retained state is taken as complete after this long.
constexpr int SyncFallbackMs = 2000;

QString clientId()
{
    return QStringLiteral("tessivo-fleet-%1-%2").arg(QSysInfo::machineHostName()).arg(QCoreApplication::applicationPid());
}

} // namespace

Depot::Depot(const Settings &settings, const QStringList &topics, QObject *parent)
    : QObject(parent)
    // Below the fleet's root but never a serial number (those start with a letter or digit),
    // so a console needs no rights beyond "fleet/#".
    , m_syncTopic(QStringLiteral("fleet/_console/") + clientId())
{
    m_client.setHostname(settings.host);
    m_client.setPort(settings.port);
    m_client.setUsername(settings.username);
    m_client.setPassword(settings.password);
    m_client.setTls(settings.tls);
    m_client.setRetryMillis(RetryMs);
    m_client.setClientId(clientId());
    for (const QString &topic : topics)
        m_client.subscribe(topic, 0);
    m_client.subscribe(m_syncTopic, 0);

    connect(&m_client, &manager::MqttClient::connected, this, &Depot::onConnected);
    connect(&m_client, &manager::MqttClient::disconnected, this, [this] {
        m_connected = false;
        m_synced = false;
        emit lost();
    });
    connect(&m_client, &manager::MqttClient::received, this, &Depot::onReceived);
}

void Depot::start()
{
    m_client.connect();
}

bool Depot::request(const QString &serial, const QString &suffix, const QByteArray &payload)
{
    return m_client.publish(payload, Fleet::topic(serial, suffix));
}

void Depot::onConnected()
{
    m_connected = true;
    m_synced = false;
    const int round = ++m_round;
    // The client issues the subscriptions after this receiver returns; the echo must follow them.
    QTimer::singleShot(0, this, [this, round] {
        if (round == m_round && m_connected)
            m_client.publish(QByteArray::number(round), m_syncTopic);
    });
    QTimer::singleShot(SyncFallbackMs, this, [this, round] {
        if (round == m_round && m_connected && !m_synced)
            markSynced();
    });
}

void Depot::onReceived(const QByteArray &data, const QByteArray &topic)
{
    if (topic == m_syncTopic.toUtf8()) {
        if (data == QByteArray::number(m_round) && !m_synced)
            markSynced();
        return;
    }
    emit message(topic, data, m_synced);
}

void Depot::markSynced()
{
    m_synced = true;
    emit synced();
}

} // namespace fleet
