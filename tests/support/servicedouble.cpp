#include "servicedouble.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

#include "waituntil.h"

ServiceDouble::ServiceDouble(quint16 port, const QString &clientId, QObject *parent)
    : QObject(parent)
{
    m_transport.setHostname(QStringLiteral("127.0.0.1"));
    m_transport.setPort(port);
    m_transport.setClientId(clientId);
    m_transport.setKeepAlive(30);
    connect(&m_transport, &manager::MqttTransport::messageReceived, this,
            [this](const QByteArray &payload, const QString &topic) { m_messages.append({topic, payload}); });
}

bool ServiceDouble::start()
{
    if (m_transport.state() == manager::MqttTransport::Connected)
        return true;
    m_transport.connectToHost();
    return waitUntil([this] { return m_transport.state() == manager::MqttTransport::Connected; });
}

bool ServiceDouble::subscribe(const QString &filter)
{
    QSignalSpy acked(&m_transport, &manager::MqttTransport::subscribed);
    const int mid = m_transport.subscribe(filter, 0);
    if (mid < 0)
        return false;
    return waitUntil([&] {
        for (const auto &args : acked) {
            if (args.at(0).toInt() == mid)
                return true;
        }
        return false;
    });
}

bool ServiceDouble::publish(const QString &topic, const QByteArray &payload, bool retain)
{
    return m_transport.publish(topic, payload, 0, retain) >= 0;
}

bool ServiceDouble::publish(const QString &topic, const QJsonObject &payload, bool retain)
{
    return publish(topic, QJsonDocument(payload).toJson(QJsonDocument::Compact), retain);
}

QList<QByteArray> ServiceDouble::payloads(const QString &topic) const
{
    QList<QByteArray> result;
    for (const Message &message : m_messages) {
        if (message.topic == topic)
            result.append(message.payload);
    }
    return result;
}

QJsonObject ServiceDouble::lastJson(const QString &topic) const
{
    const QList<QByteArray> all = payloads(topic);
    return all.isEmpty() ? QJsonObject() : QJsonDocument::fromJson(all.last()).object();
}

bool ServiceDouble::waitFor(const QString &topic, int count, int timeoutMs)
{
    return waitUntil([&] { return payloads(topic).size() >= count; }, timeoutMs);
}
