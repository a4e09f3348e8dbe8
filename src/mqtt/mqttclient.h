#pragma once

#include "mqtt/mqtttransport.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QStringList>

class QTimer;

namespace manager {

// True when `topic` is one that the subscription `filter` asks for, by MQTT's rules: "+" stands
// for one level, a final "#" for all that follow and the level above it, and a filter starting
// with a wildcard does not reach the broker's own "$" topics.
bool topicMatches(const QString &filter, const QString &topic);

// The messages of one topic filter. The client owns it and keeps one for each filter however
// many receivers hold it; each receiver connects messageReceived() with itself as context.
class MqttSubscription : public QObject
{
    Q_OBJECT

public:
    QString topic() const { return m_topic; }

signals:
    void messageReceived(const QByteArray &data, const QString &topic);

private:
    friend class MqttClient;
    explicit MqttSubscription(const QString &topic, QObject *parent)
        : QObject(parent)
        , m_topic(topic)
    {
    }

    QString m_topic;
};

// The application's one connection to the broker. It keeps itself connected (a watchdog on
// hung attempts, a reconnect at a fixed interval after every loss), remembers every
// subscription (one entry per topic filter) to issue each once on every connection, and hands
// each message received to the subscriptions whose filter matches it, then to received().
class MqttClient : public QObject
{
    Q_OBJECT

public:
    explicit MqttClient(QObject *parent = nullptr);
    ~MqttClient() override;

    void setHostname(const QString &hostname) { m_hostname = hostname; }
    void setPort(unsigned port) { m_port = port; }
    void setUsername(const QString &username) { m_username = username; }
    void setPassword(const QString &password) { m_password = password; }
    void setRetryMillis(unsigned millis) { m_retryMillis = millis; }
    void setEncrypted(bool encrypted) { m_encrypted = encrypted; }
    void setCleanSession(bool clean) { m_cleanSession = clean; }
    void setClientId(const QString &clientId) { m_clientId = clientId; }
    void setKeepAlive(uchar seconds) { m_keepAlive = seconds; }
    void setWillMessage(const QByteArray &message) { m_willMessage = message; }
    void setWillQoS(uchar qos) { m_willQoS = qos; }
    void setWillRetain(bool retain) { m_willRetain = retain; }
    void setWillTopic(const QString &topic) { m_willTopic = topic; }
    void setTls(const MqttTransport::TlsSettings &tls) { m_tls = tls; }

    // The protocol client's state; Disconnected before the first connect().
    MqttTransport::ClientState state() const;
    // The topic filters held, in the order they were first subscribed.
    QStringList subscriptions() const;

public slots:
    void connect();
    void disconnect();
    // A filter already held is not added again; with another QoS it is updated (and issued
    // again while connected, which is how MQTT changes a subscription's QoS).
    void subscribe(const QString &topic, uchar qos);
    void subscribe(const QString &topic);
    // Forgets the filter, and tells the broker while connected.
    void unsubscribe(const QString &topic);
    // The filter held as above, its messages for `receiver`: the returned subscription (the
    // same for every receiver of one filter) brings each message whose topic it matches.
    MqttSubscription *subscribe(const QString &topic, uchar qos, QObject *receiver);
    // Lets `receiver` go of the filter; the broker is told when no one holds it any more.
    void unsubscribe(const QString &topic, QObject *receiver);
    // Hands a message on as if the broker had sent it: to each matching subscription, then to
    // received().
    void deliver(const QByteArray &data, const QString &topic);
    bool publish(const QByteArray &data, const QString &topic, uchar qos, bool retain);
    bool publish(const QByteArray &data, const QString &topic, uchar qos);
    bool publish(const QByteArray &data, const QString &topic);

signals:
    void connected();
    void disconnected();
    void received(const QByteArray &data, const QByteArray &from);
    void error(const QString &error);

private slots:
    void onTransportConnected();
    void onConnected();
    void onDisconnected();
    void onStateChanged(manager::MqttTransport::ClientState state);
    void onTimeout();
    void onReconnect();
    void onReceived(const QByteArray &message, const QString &topic);
    void onError(manager::MqttTransport::ClientError error);

private:
    struct Subscription
    {
        QString topic;
        // The part of the filter before its first wildcard; the whole filter when it has none.
        QString literal;
        uchar qos = 0;
        // The connection it was last issued on: receivers of connected() may subscribe before
        // the client renews its list, and nothing goes out twice on one connection.
        quint64 issuedOn = 0;
        // Where its messages go; made for the first receiver.
        QPointer<MqttSubscription> route;
        // Held by a plain subscribe() without a receiver.
        bool held = false;
        QList<QPointer<QObject>> receivers;
    };

    Subscription &hold(const QString &topic, uchar qos);

    void issueSubscription(Subscription &subscription);
    QString errorText(MqttTransport::ClientError e) const;

    MqttTransport *m_client = nullptr;
    QTimer *m_watchdog = nullptr;
    QTimer *m_reconnect = nullptr;
    QList<Subscription> m_subscriptions;
    // Counts the connections made; 0 before the first.
    quint64 m_connection = 0;
    QString m_hostname = QStringLiteral("127.0.0.1");
    unsigned m_port = 1883;
    QString m_username;
    QString m_password;
    unsigned m_retryMillis = 3000;
    bool m_encrypted = false;
    bool m_cleanSession = true;
    QString m_clientId;
    uchar m_keepAlive = 5;
    QByteArray m_willMessage;
    uchar m_willQoS = 2;
    bool m_willRetain = true;
    QString m_willTopic;
    MqttTransport::TlsSettings m_tls;
};

} // namespace manager
