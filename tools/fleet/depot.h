#pragma once

#include "mqtt/mqttclient.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

namespace fleet {

// Turns the event loop, looking at `done` every few milliseconds, until it holds (true) or
// `timeoutMs` has passed (false). The console's commands are sequences of such waits.
bool waitUntil(const std::function<bool()> &done, int timeoutMs);

// The console's connection to the depot broker. After each (re)connection the broker first
// sends the retained state of every subscription; a message of the console's own, sent
// after subscribing, comes back behind all of it and marks the state as complete. What
// arrives after that is live.
class Depot : public QObject
{
    Q_OBJECT

public:
    struct Settings
    {
        QString host;
        quint16 port = 0;
        QString username;
        QString password;
        manager::MqttTransport::TlsSettings tls;
    };

    Depot(const Settings &settings, const QStringList &topics, QObject *parent = nullptr);

    void start();
    bool isConnected() const { return m_connected; }
    // The retained state of this connection has all come in.
    bool isSynced() const { return m_synced; }
    // Publishes below "fleet/<serial>/"; false when not connected.
    bool request(const QString &serial, const QString &suffix, const QByteArray &payload);

signals:
    void synced();
    void lost();
    void message(const QByteArray &topic, const QByteArray &payload, bool live);

private:
    void onConnected();
    void onReceived(const QByteArray &data, const QByteArray &topic);
    void markSynced();

    manager::MqttClient m_client;
    const QString m_syncTopic;
    bool m_connected = false;
    bool m_synced = false;
    int m_round = 0;
};

} // namespace fleet
