#pragma once

#include "mqtt/mqtttransport.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

// Plays a sibling service on the broker: publishes on its topics and records what it receives.
class ServiceDouble : public QObject
{
    Q_OBJECT

public:
    struct Message
    {
        QString topic;
        QByteArray payload;
        bool retained = false;
    };

    explicit ServiceDouble(quint16 port, const QString &clientId = QStringLiteral("service-double"),
                           QObject *parent = nullptr);

    // Connects and waits for the broker's acknowledgement.
    bool start();
    // Subscribes and waits until the broker has acknowledged, so nothing published later is missed.
    bool subscribe(const QString &filter);
    bool publish(const QString &topic, const QByteArray &payload, bool retain = false);
    bool publish(const QString &topic, const QJsonObject &payload, bool retain = false);

    QList<Message> messages() const { return m_messages; }
    QList<QByteArray> payloads(const QString &topic) const;
    int count(const QString &topic) const { return payloads(topic).size(); }
    QJsonObject lastJson(const QString &topic) const;
    // Waits until at least `count` messages arrived on the topic.
    bool waitFor(const QString &topic, int count = 1, int timeoutMs = 5000);
    void clear() { m_messages.clear(); }

    manager::MqttTransport &transport() { return m_transport; }

private:
    manager::MqttTransport m_transport;
    QList<Message> m_messages;
};
