#include "ethernet.h"

#include "mqtt/jsonmessage.h"
#include "mqtt/mqttclient.h"

#include <QDebug>

// The wired interface below the network service's base topic (<base>/ethernet):
//   /state       received: "interface", "typeStr", "stateStr", "reasonStr", "mac", "ipv4" object
//   /config      received: one flat object, "interface", "method" and the five address texts
//   /state/get, /config/get   published "{}" on every broker connection; answered on the above
//   /config/set  published by save()
// The service also reports the device's "usb0" link on the same topics; that is not the
// wired interface and is ignored.

namespace manager {

namespace {
const char Tag[] = "[Network][Ethernet] ";
const char StateSuffix[] = "/state";
const char ConfigSuffix[] = "/config";
const char UsbInterface[] = "usb0";
const char ManualMethod[] = "manual";
const char Rule[] = "-------------------------";
} // namespace

const TopicRoute<Ethernet, Ethernet::Handler> Ethernet::Routes[] = {
    {StateSuffix, &Ethernet::onStateReceived},
    {ConfigSuffix, &Ethernet::onConfigReceived},
};

Ethernet::Ethernet(MqttClient &client, const QString &topic, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_topic(topic + QLatin1String("/ethernet"))
{
    // Queued: the client renews its subscriptions right after announcing the connection, and
    // the requests must reach the broker after them, or the service's answers could outrun
    // our subscriptions to "/state" and "/config".
    connect(&m_client, &MqttClient::connected, this, &Ethernet::reset, Qt::QueuedConnection);
    subscribe();
}

void Ethernet::subscribe()
{
    qInfo().noquote().nospace() << Tag << "Subscribing to topics";
    routes::subscribe(m_client, this, m_topic, Routes,
                      {Tag, EmptyPayload::AsEmptyObject, ParseFailureDetail::ParserError});
}

void Ethernet::setMethod(const QString &method)
{
    if (method == m_method)
        return;
    qInfo().noquote().nospace() << Tag << "Method changed : " << method;
    m_method = method;
    emit methodChanged();
}

void Ethernet::reset()
{
    qInfo().noquote().nospace() << Tag << "Refreshing data";
    m_client.publish(QByteArrayLiteral("{}"), m_topic + QLatin1String("/state/get"), 0, false);
    m_client.publish(QByteArrayLiteral("{}"), m_topic + QLatin1String("/config/get"), 0, false);
}

QString Ethernet::configFailure(const QString &method, const QString &address, const QString &netmask,
                                const QString &gateway, const QString &dns0, const QString &dns1) const
{
    if (method != QLatin1String(ManualMethod))
        return QString();
    return IPv4::manualFailure(address, netmask, gateway, dns0, dns1);
}

bool Ethernet::isEmptyOrDotted(const QString &text) const
{
    return text.isEmpty() || IPv4::isDotted(text);
}

bool Ethernet::save()
{
    const QString failure = configFailure(m_method, m_config.address(), m_config.mask(), m_config.gateway(),
                                          m_config.dns0(), m_config.dns1());
    if (!failure.isEmpty()) {
        qWarning().noquote().nospace() << Tag << "WARN: Configuration not sent : " << failure;
        return false;
    }
    qInfo().noquote().nospace() << Tag << "Saving configuration";
    qInfo().noquote().nospace() << Tag << Rule;
    qInfo().noquote().nospace() << Tag << "Method  : " << m_method;
    qInfo().noquote().nospace() << Tag << "Address : " << m_config.address();
    qInfo().noquote().nospace() << Tag << "Netmask : " << m_config.mask();
    qInfo().noquote().nospace() << Tag << "Gateway : " << m_config.gateway();
    qInfo().noquote().nospace() << Tag << "DNS     : " << m_config.dns0() << ", " << m_config.dns1();
    qInfo().noquote().nospace() << Tag << Rule;

    // Built member by member, so whatever a field holds stays one text value of one object.
    // Any method but "manual" lets the service choose the addresses: they go out empty.
    const bool manual = m_method == QLatin1String(ManualMethod);
    QJsonObject request;
    request.insert(QStringLiteral("interface"), m_interface);
    request.insert(QStringLiteral("method"), m_method);
    request.insert(QStringLiteral("address"), manual ? m_config.address() : QString());
    request.insert(QStringLiteral("netmask"), manual ? m_config.mask() : QString());
    request.insert(QStringLiteral("gateway"), manual ? m_config.gateway() : QString());
    request.insert(QStringLiteral("dns0"), manual ? m_config.dns0() : QString());
    request.insert(QStringLiteral("dns1"), manual ? m_config.dns1() : QString());
    return m_client.publish(requestBody(request), m_topic + QLatin1String("/config/set"), 0, false);
}

void Ethernet::onStateReceived(const QJsonObject &json, const QString &topic)
{
    qInfo().noquote().nospace() << Tag << "Processing state topic " << topic;

    const QString interface = json.value(QLatin1String("interface")).toString();
    if (interface == QLatin1String(UsbInterface))
        return;

    if (interface != m_interface) {
        qInfo().noquote().nospace() << Tag << "Interface changed : " << interface;
        m_interface = interface;
        emit interfaceChanged();
    }

    const QString type = json.value(QLatin1String("typeStr")).toString();
    if (type != m_type) {
        qInfo().noquote().nospace() << Tag << "Type changed : " << type;
        m_type = type;
        emit typeChanged();
    }

    const QString state = json.value(QLatin1String("stateStr")).toString();
    if (state != m_state) {
        m_state = state;
        emit stateChanged();
    }

    const QString reason = json.value(QLatin1String("reasonStr")).toString();
    if (reason != m_reason) {
        qInfo().noquote().nospace() << Tag << "Reason changed : " << reason;
        m_reason = reason;
        emit reasonChanged();
    }

    const QString mac = json.value(QLatin1String("mac")).toString();
    if (mac != m_mac) {
        qInfo().noquote().nospace() << Tag << "MAC changed : " << mac;
        m_mac = mac;
        emit macChanged();
    }

    const QVariantMap ipv4 = json.value(QLatin1String("ipv4")).toObject().toVariantMap();
    if (!m_ipv4.matches(ipv4)) {
        qInfo().noquote().nospace() << Tag << "IPv4 changed : " << ipv4;
        m_ipv4.fromMap(ipv4);
        emit ipv4Changed();
    }
}

void Ethernet::onConfigReceived(const QJsonObject &json, const QString &topic)
{
    qInfo().noquote().nospace() << Tag << "Processing config topic " << topic;

    if (json.value(QLatin1String("interface")).toString() == QLatin1String(UsbInterface))
        return;

    setMethod(json.value(QLatin1String("method")).toString());

    // The whole object, "interface" and "method" included, so it never equals the five-key
    // record and every configuration the service reports is applied again: the page shows
    // what the service holds even after a technician's unsaved edits.
    const QVariantMap config = json.toVariantMap();
    if (!m_config.matches(config)) {
        qInfo().noquote().nospace() << Tag << "IPv4 changed : " << config;
        m_config.fromMap(config);
        emit configChanged();
    }
}

} // namespace manager
