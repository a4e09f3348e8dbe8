#pragma once

#include "brokerfixture.h"
#include "servicedouble.h"
#include "waituntil.h"

#include "mqtt/mqttclient.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QSignalSpy>
#include <QTest>

// The application's client and a service double on one broker. Build the proxy on `client`,
// then connect(): it returns once the broker delivers on every topic the proxy subscribed.
class ProxyRig
{
public:
    explicit ProxyRig(quint16 port)
        : service(port)
    {
        client.setHostname(QStringLiteral("127.0.0.1"));
        client.setPort(port);
        client.setRetryMillis(300);
        client.setClientId(QStringLiteral("tessivo-under-test"));
    }

    // `probeTopic` is subscribed after the proxy's topics; the broker handles one connection's
    // subscriptions in order, so a message delivered on it means all of them are in place.
    // The double listens on `serviceFilter`, from before the first connection.
    bool connect(const QString &probeTopic, const QString &serviceFilter)
    {
        client.subscribe(probeTopic);
        if (!service.start() || !service.subscribe(serviceFilter))
            return false;
        QSignalSpy connected(&client, &manager::MqttClient::connected);
        client.connect();
        if (!connected.wait(5000))
            return false;
        QSignalSpy received(&client, &manager::MqttClient::received);
        const QByteArray probe = probeTopic.toUtf8();
        for (int attempt = 0; attempt < 50; ++attempt) {
            service.publish(probeTopic, QByteArray("{}"));
            if (waitUntil([&] {
                    for (const auto &args : received) {
                        if (args.at(1).toByteArray() == probe)
                            return true;
                    }
                    return false;
                }, 100))
                return true;
        }
        return false;
    }

    // Publishes and waits until the application's client has received the message.
    bool deliver(const QString &topic, const QByteArray &payload)
    {
        QSignalSpy received(&client, &manager::MqttClient::received);
        if (!service.publish(topic, payload))
            return false;
        return waitUntil([&] {
            for (const auto &args : received) {
                if (args.at(1).toByteArray() == topic.toUtf8() && args.at(0).toByteArray() == payload)
                    return true;
            }
            return false;
        });
    }

    bool deliver(const QString &topic, const QJsonObject &payload)
    {
        return deliver(topic, QJsonDocument(payload).toJson(QJsonDocument::Compact));
    }

    manager::MqttClient client;
    ServiceDouble service;
};

inline QJsonObject parsed(const QByteArray &payload)
{
    return QJsonDocument::fromJson(payload).object();
}

// The JSON parser's own complaint about a payload, as the proxies log it.
inline QString parserError(const QByteArray &payload)
{
    QJsonParseError error;
    QJsonDocument::fromJson(payload, &error);
    return error.errorString();
}

// Base of the proxy tests: one broker for the executable, a fresh client and service double
// for every test function. Build the proxy on `rig().client`, then call start().
class ProxyTest : public QObject
{
    Q_OBJECT

public:
    ProxyTest(const QString &probeTopic, const QString &serviceFilter)
        : m_probeTopic(probeTopic)
        , m_serviceFilter(serviceFilter)
    {
    }

protected:
    ProxyRig &rig() { return *m_rig; }
    // Connects and forgets the connection's own refresh requests.
    bool start()
    {
        if (!connectOnly())
            return false;
        m_rig->service.clear();
        return true;
    }
    bool connectOnly() { return m_rig->connect(m_probeTopic, m_serviceFilter); }

    BrokerFixture m_broker;

private slots:
    void initTestCase() { QVERIFY(m_broker.start()); }
    void init() { m_rig = new ProxyRig(m_broker.port()); }
    void cleanup()
    {
        delete m_rig;
        m_rig = nullptr;
    }

private:
    QString m_probeTopic;
    QString m_serviceFilter;
    ProxyRig *m_rig = nullptr;
};

// Payloads that are not JSON at all, for every proxy's "bad message" table.
inline QList<QPair<const char *, QByteArray>> nonJsonPayloads()
{
    return {
        {"text", QByteArray("not json")},
        {"truncated", QByteArray("{\"service\": tr")},
        {"invalid UTF-8", QByteArray("\xff\xfe{\"a\":1}")},
        {"zero bytes inside", QByteArray("{\"a\"\0:1}", 8)},
        {"bare number", QByteArray("42")}, // a document must be an object or an array
        {"bare null", QByteArray("null")},
    };
}
