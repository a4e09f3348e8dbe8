#include "simulator.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

namespace simulator {

namespace {
// Reconnect quickly: the broker usually runs on the same machine.
constexpr unsigned RetryMs = 1000;
} // namespace

Simulator::Simulator(const Options &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_bus(m_client, options.speed)
    , m_validation(m_bus, options.topics.blm)
    , m_board(m_bus, options.topics.board)
    , m_inspector(m_bus, options.topics.inspector)
    , m_network(m_bus, options.topics.network)
    , m_device(m_bus, options.topics.device)
    , m_services{&m_validation, &m_board, &m_inspector, &m_network, &m_device}
{
    m_client.setHostname(options.host);
    m_client.setPort(options.port);
    m_client.setRetryMillis(RetryMs);
    m_client.setClientId(QStringLiteral("tessivo-simulator-%1").arg(QCoreApplication::applicationPid()));
    // Should we die without a goodbye, the broker drops the validation service's retained
    // status (an empty retained message), and the application reads the empty status as the
    // service being down.
    m_client.setWillTopic(options.topics.blm + QStringLiteral("/status"));
    m_client.setWillMessage(QByteArray());
    m_client.setWillRetain(true);

    connect(&m_client, &manager::MqttClient::connected, this, &Simulator::onConnected);
    connect(&m_client, &manager::MqttClient::disconnected, this,
            [this] {
                if (!m_stopping)
                    m_bus.say(QStringLiteral("disconnected from the broker; reconnecting"));
            });
    connect(&m_client, &manager::MqttClient::received, this,
            [this](const QByteArray &data, const QByteArray &from) { onReceived(data, QString::fromUtf8(from)); });

    for (Service *service : qAsConst(m_services)) {
        const QStringList topics = service->requestTopics();
        for (const QString &topic : topics)
            m_client.subscribe(topic, 0);
    }
    m_client.subscribe(options.topics.ui + QStringLiteral("/status"), 0);
}

void Simulator::start()
{
    m_bus.say(QStringLiteral("connecting to %1:%2").arg(m_options.host).arg(m_options.port));
    m_client.connect();
}

void Simulator::stop()
{
    if (m_client.state() != manager::MqttTransport::Connected)
        return;
    m_stopping = true;
    m_bus.clearRetained();
    m_client.disconnect();
    m_bus.say(QStringLiteral("stopped; retained service state removed from the broker"));
}

void Simulator::onConnected()
{
    m_bus.say(QStringLiteral("connected to %1:%2").arg(m_options.host).arg(m_options.port));
    // The client renews our subscriptions right after this signal; announcing only after
    // them means that whoever reacts to our state is already heard.
    QTimer::singleShot(0, this, &Simulator::publishAll);
}

void Simulator::publishAll()
{
    for (Service *service : qAsConst(m_services))
        service->publishState();
    m_bus.say(QStringLiteral("services online: validation (%1), board (%2), inspector (%3), network (%4), device (%5)")
                      .arg(m_options.topics.blm, m_options.topics.board, m_options.topics.inspector,
                           m_options.topics.network, m_options.topics.device));
    // A running application answers with its status, so that we can tell it is there.
    m_bus.publish(m_options.topics.ui + QStringLiteral("/status/get"), QByteArray());
    if (!m_announced) {
        m_announced = true;
        emit ready();
    }
}

void Simulator::onReceived(const QByteArray &data, const QString &topic)
{
    if (topic == m_options.topics.ui + QStringLiteral("/status")) {
        onApplicationStatus(data);
        return;
    }
    for (Service *service : qAsConst(m_services)) {
        if (service->handle(topic, data))
            return;
    }
}

void Simulator::onApplicationStatus(const QByteArray &data)
{
    // {"technician": bool, "service": true} while it runs; its last will {"service": false}.
    const QJsonObject status = QJsonDocument::fromJson(data).object();
    QString text;
    if (!status.value(QStringLiteral("service")).toBool())
        text = QStringLiteral("application gone");
    else if (status.value(QStringLiteral("technician")).toBool())
        text = QStringLiteral("application running, technician logged in");
    else
        text = QStringLiteral("application running");
    if (text == m_applicationStatus)
        return;
    m_applicationStatus = text;
    m_bus.say(text);
}

} // namespace simulator
