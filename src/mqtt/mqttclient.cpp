#include "mqttclient.h"

#include "app/secrets.h"

#include <QDebug>
#include <QLoggingCategory>
#include <QTimer>
#include <QVarLengthArray>

#include <algorithm>

// One broker connection for the whole application. Subscriptions are kept in call order, one
// entry per topic filter, and issued once on every (re)connection; publishing while not
// connected drops the message. A message goes to the subscriptions whose filter matches its
// topic, so each proxy sees only its own.

namespace manager {

namespace {
const char Tag[] = "[MqttClient] ";

const char *boolText(bool value)
{
    return value ? "true" : "false";
}
} // namespace

MqttClient::MqttClient(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<manager::MqttTransport::ClientState>("ClientState");
    qRegisterMetaType<manager::MqttTransport::ClientError>("ClientError");
}

MqttClient::~MqttClient()
{
    delete m_reconnect;
    delete m_watchdog;
    delete m_client;
}

MqttTransport::ClientState MqttClient::state() const
{
    return m_client ? m_client->state() : MqttTransport::Disconnected;
}

void MqttClient::connect()
{
    qInfo().noquote().nospace() << Tag << "Connecting to host";

    if (!m_watchdog) {
        m_watchdog = new QTimer;
        QObject::connect(m_watchdog, &QTimer::timeout, this, &MqttClient::onTimeout);
        // One reconnect at a time: every loss re-arms the same timer, so calls of connect()
        // while the broker is away (each settings change makes one) never add a chain.
        m_reconnect = new QTimer;
        m_reconnect->setSingleShot(true);
        QObject::connect(m_reconnect, &QTimer::timeout, this, &MqttClient::onReconnect);
    }
    qDebug().noquote().nospace() << Tag << "Applying client configuration:";
    qDebug().noquote().nospace() << Tag << "Retry interval millis: " << m_retryMillis;
    m_watchdog->setInterval(int(m_retryMillis));
    m_reconnect->setInterval(int(m_retryMillis));

    if (!m_client) {
        m_client = new MqttTransport;
        // Receivers of our connected()/disconnected() run before onConnected()/onDisconnected().
        QObject::connect(m_client, &MqttTransport::connected, this, &MqttClient::onTransportConnected);
        QObject::connect(m_client, &MqttTransport::disconnected, this, &MqttClient::disconnected);
        QObject::connect(m_client, &MqttTransport::disconnected, this, &MqttClient::onDisconnected);
        QObject::connect(m_client, &MqttTransport::errorChanged, this, &MqttClient::onError);
        QObject::connect(m_client, &MqttTransport::stateChanged, this, &MqttClient::onStateChanged);
        QObject::connect(m_client, &MqttTransport::messageReceived, this, &MqttClient::onReceived);
    }

    qDebug().noquote().nospace() << Tag << "Applying client configuration:";
    qDebug().noquote().nospace() << Tag << "Hostname: " << m_hostname;
    qDebug().noquote().nospace() << Tag << "Port    : " << m_port;
    qDebug().noquote().nospace() << Tag << "Username: " << m_username;
    qDebug().noquote().nospace() << Tag << "CleanSession: " << boolText(m_cleanSession);
    qDebug().noquote().nospace() << Tag << "Client Id   : " << m_clientId;
    qDebug().noquote().nospace() << Tag << "Keepalive   : " << m_keepAlive;
    qDebug().noquote().nospace() << Tag << "Will Message: " << m_willMessage;
    qDebug().noquote().nospace() << Tag << "Will QoS    : " << m_willQoS;
    qDebug().noquote().nospace() << Tag << "Will Retain : " << boolText(m_willRetain);
    qDebug().noquote().nospace() << Tag << "Will Topic  : " << m_willTopic;

    m_client->setHostname(m_hostname);
    m_client->setPort(quint16(m_port));
    m_client->setUsername(m_username);
    m_client->setPassword(m_password);
    m_client->setCleanSession(m_cleanSession);
    m_client->setClientId(m_clientId);
    m_client->setKeepAlive(m_keepAlive);
    m_client->setWillMessage(m_willMessage);
    m_client->setWillQoS(m_willQoS);
    m_client->setWillRetain(m_willRetain);
    m_client->setWillTopic(m_willTopic);
    m_client->setTls(m_tls);

    if (m_encrypted)
        qWarning().noquote().nospace() << Tag << "Encryption not yet supported";

    m_client->connectToHost();
    // This attempt replaces the one that was due; its failure arms the timer again.
    m_reconnect->stop();
}

void MqttClient::disconnect()
{
    qInfo().noquote().nospace() << Tag << "Disconnecting from host";
    if (m_client)
        m_client->disconnectFromHost();
}

namespace {
// Where the level starting at `from` ends: at the next slash or at the end.
int levelEnd(const QString &text, int from)
{
    const int slash = text.indexOf(QLatin1Char('/'), from);
    return slash == -1 ? text.size() : slash;
}
} // namespace

namespace {
QString literalPart(const QString &filter)
{
    int end = filter.size();
    for (const QChar wildcard : {QLatin1Char('+'), QLatin1Char('#')}) {
        const int at = filter.indexOf(wildcard);
        if (at != -1 && at < end)
            end = at;
    }
    return filter.left(end);
}
} // namespace

bool topicMatches(const QString &filter, const QString &topic)
{
    if (topic.startsWith(QLatin1Char('$')) && (filter.startsWith(QLatin1Char('+')) || filter.startsWith(QLatin1Char('#'))))
        return false;
    // Level by level, without splitting: this runs for every filter on every message.
    int f = 0;
    int t = 0;
    while (f <= filter.size()) {
        const int filterEnd = levelEnd(filter, f);
        const QStringRef level = filter.midRef(f, filterEnd - f);
        if (level == QLatin1String("#"))
            return filterEnd == filter.size();
        if (t > topic.size())
            return false;
        const int topicEnd = levelEnd(topic, t);
        if (level != QLatin1String("+") && level != topic.midRef(t, topicEnd - t))
            return false;
        f = filterEnd + 1;
        t = topicEnd + 1;
    }
    return t > topic.size();
}

MqttClient::Subscription &MqttClient::hold(const QString &topic, uchar qos)
{
    auto held = std::find_if(m_subscriptions.begin(), m_subscriptions.end(),
                             [&topic](const Subscription &subscription) { return subscription.topic == topic; });
    if (held == m_subscriptions.end()) {
        m_subscriptions.append({topic, literalPart(topic), qos, 0, nullptr, false, {}});
        held = m_subscriptions.end() - 1;
    } else if (held->qos == qos) {
        return *held;
    } else {
        held->qos = qos;
        held->issuedOn = 0;
    }
    if (m_client && m_client->state() == MqttTransport::Connected)
        issueSubscription(*held);
    return *held;
}

void MqttClient::subscribe(const QString &topic, uchar qos)
{
    hold(topic, qos).held = true;
}

MqttSubscription *MqttClient::subscribe(const QString &topic, uchar qos, QObject *receiver)
{
    Subscription &subscription = hold(topic, qos);
    if (!subscription.route)
        subscription.route = new MqttSubscription(topic, this);
    if (receiver && !subscription.receivers.contains(receiver))
        subscription.receivers.append(receiver);
    return subscription.route;
}

void MqttClient::unsubscribe(const QString &topic, QObject *receiver)
{
    const auto held = std::find_if(m_subscriptions.begin(), m_subscriptions.end(),
                                   [&topic](const Subscription &subscription) { return subscription.topic == topic; });
    if (held == m_subscriptions.end())
        return;
    held->receivers.removeAll(receiver);
    held->receivers.removeAll(nullptr);
    if (held->route && receiver)
        held->route->disconnect(receiver);
    if (held->held || !held->receivers.isEmpty())
        return;
    unsubscribe(topic);
}

QStringList MqttClient::subscriptions() const
{
    QStringList topics;
    for (const Subscription &subscription : m_subscriptions)
        topics.append(subscription.topic);
    return topics;
}

void MqttClient::unsubscribe(const QString &topic)
{
    const auto held = std::find_if(m_subscriptions.begin(), m_subscriptions.end(),
                                   [&topic](const Subscription &subscription) { return subscription.topic == topic; });
    if (held == m_subscriptions.end())
        return;
    // Later: a delivery under way may still be handing a message to it.
    if (held->route)
        held->route->deleteLater();
    m_subscriptions.erase(held);
    if (m_client && m_client->state() == MqttTransport::Connected) {
        qInfo().noquote().nospace() << Tag << "Unsubscribing from '" << topic << "'";
        if (m_client->unsubscribe(topic) == -1)
            emit error(QStringLiteral("Unsubscription from ") + topic + QStringLiteral(" failed."));
    }
}

void MqttClient::subscribe(const QString &topic)
{
    subscribe(topic, 0);
}

bool MqttClient::publish(const QByteArray &data, const QString &topic, uchar qos, bool retain)
{
    if (!m_client || m_client->state() != MqttTransport::Connected)
        return false;
    // Payloads are dumped with their secrets masked, which takes a parse: only when shown.
    if (QLoggingCategory::defaultCategory()->isDebugEnabled())
        qDebug().noquote().nospace() << Tag << "Publishing to topic '" << topic << "' with Qos = " << qos
                                     << " and Retain = " << boolText(retain) << ":\n" << secrets::maskedPayload(data);
    if (m_client->publish(topic, data, qos, retain) == -1) {
        emit error(QStringLiteral("Publish to ") + topic + QStringLiteral(" failed."));
        return false;
    }
    return true;
}

bool MqttClient::publish(const QByteArray &data, const QString &topic, uchar qos)
{
    return publish(data, topic, qos, false);
}

bool MqttClient::publish(const QByteArray &data, const QString &topic)
{
    return publish(data, topic, 0, false);
}

void MqttClient::issueSubscription(Subscription &subscription)
{
    subscription.issuedOn = m_connection;
    qInfo().noquote().nospace() << Tag << "Subscribing to '" << subscription.topic << "' with QoS = " << subscription.qos;
    if (m_client->subscribe(subscription.topic, subscription.qos) == -1)
        emit error(QStringLiteral("Subscription to ") + subscription.topic + QStringLiteral(" failed."));
}

void MqttClient::onTransportConnected()
{
    ++m_connection;
    emit connected();
    onConnected();
}

void MqttClient::onConnected()
{
    qInfo().noquote().nospace() << Tag << "Connected to broker " << m_hostname;
    // By index: issuing emits error() on failure, and its receivers may subscribe or unsubscribe.
    for (int i = 0; i < m_subscriptions.size(); ++i) {
        if (!m_client || m_client->state() != MqttTransport::Connected)
            break;
        if (m_subscriptions.at(i).issuedOn != m_connection)
            issueSubscription(m_subscriptions[i]);
    }
}

void MqttClient::onDisconnected()
{
    qInfo().noquote().nospace() << Tag << "Disconnected from broker " << m_hostname;
}

void MqttClient::onStateChanged(MqttTransport::ClientState state)
{
    switch (state) {
    case MqttTransport::Connecting:
        qDebug().noquote().nospace() << Tag << "State is Connecting.";
        m_watchdog->start();
        break;
    case MqttTransport::Connected:
        qDebug().noquote().nospace() << Tag << "State is Connected.";
        m_watchdog->stop();
        break;
    case MqttTransport::Disconnected:
        qDebug().noquote().nospace() << Tag << "State is Disconnected.";
        m_reconnect->start();
        break;
    }
}

void MqttClient::onTimeout()
{
    // A connection attempt that hangs is ended here; the Disconnected state then brings the
    // next attempt one retry interval later.
    if (m_client)
        m_client->closeTransport();
}

void MqttClient::onReconnect()
{
    if (m_client && m_client->state() == MqttTransport::Disconnected)
        connect();
}

void MqttClient::onReceived(const QByteArray &message, const QString &topic)
{
    if (QLoggingCategory::defaultCategory()->isDebugEnabled())
        qDebug().noquote().nospace() << Tag << "Received on topic: " << topic << "\n" << secrets::maskedPayload(message);
    deliver(message, topic);
}

void MqttClient::deliver(const QByteArray &data, const QString &topic)
{
    // Matched first, handed on after: a receiver may subscribe or unsubscribe meanwhile.
    // Most filters have no wildcard, and those compare whole (by length first).
    QVarLengthArray<QPointer<MqttSubscription>, 4> matched;
    for (const Subscription &subscription : qAsConst(m_subscriptions)) {
        if (!subscription.route)
            continue;
        const bool exact = subscription.literal.size() == subscription.topic.size();
        if (exact ? subscription.topic == topic
                  : topic.startsWith(subscription.literal) && topicMatches(subscription.topic, topic))
            matched.append(subscription.route);
    }
    for (const QPointer<MqttSubscription> &route : qAsConst(matched)) {
        if (route)
            emit route->messageReceived(data, topic);
    }
    emit received(data, topic.toUtf8());
}

QString MqttClient::errorText(MqttTransport::ClientError e) const
{
    switch (e) {
    case MqttTransport::InvalidProtocolVersion:
        return QStringLiteral("Invalid protocol version: %1. Broker does not accept a connection using the "
                              "specified protocol version.").arg(m_client->protocolVersion());
    case MqttTransport::IdRejected:
        return QStringLiteral("Id rejected: %1. The client ID is malformed. This might be related to "
                              "its length.").arg(m_client->clientId());
    case MqttTransport::ServerUnavailable:
        return QStringLiteral("Server unavailable: %1:%2. The network connection has been established, but the "
                              "service is unavailable on the broker side.").arg(m_client->hostname()).arg(m_client->port());
    case MqttTransport::BadUsernameOrPassword:
        return QStringLiteral("Bad username or password. The data in the username or password is malformed.");
    case MqttTransport::NotAuthorized:
        return QStringLiteral("Not authorized: %1. The client is not authorized to connect.").arg(m_client->clientId());
    case MqttTransport::TransportInvalid:
        return QStringLiteral("Transport invalid: The underlying transport caused an error. For "
                              "example, the connection might have been interrupted unexpectedly.");
    case MqttTransport::ProtocolViolation:
        return QStringLiteral("Protocol violation:The client encountered a protocol violation, and "
                              "therefore closed the connection.");
    default:
        return QStringLiteral("Unknown error.");
    }
}

void MqttClient::onError(MqttTransport::ClientError e)
{
    if (e == MqttTransport::NoError)
        return;
    qWarning().noquote().nospace() << Tag << errorText(e);
    emit error(QStringLiteral("Mqtt client error"));
}

} // namespace manager
