#pragma once

#include "network/connection.h"
#include "network/ethernet.h"
#include "mqtt/topicroutes.h"

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

namespace manager {

class MqttClient;

// The application's read-only view of the network service: overall connection state,
// connectivity, host name and the primary connection, as the service publishes them on its
// "/info" and "/status" topics. It owns the wired ethernet interface's configuration object.
class Network : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isConnected READ isConnected NOTIFY isConnectedChanged)
    Q_PROPERTY(QString connectionState READ connectionState NOTIFY connectionStateChanged)
    Q_PROPERTY(QString connectivity READ connectivity NOTIFY connectivityChanged)
    Q_PROPERTY(QString hostname READ hostname NOTIFY hostnameChanged)
    Q_PROPERTY(manager::Connection *primaryConnection READ primaryConnection NOTIFY primaryConnectionChanged)
    Q_PROPERTY(manager::Ethernet *ethernet READ ethernet NOTIFY ethernetChanged)

public:
    Network(MqttClient &client, const QString &topic, QObject *parent = nullptr);

    bool isConnected() const { return m_isConnected; }
    QString connectionState() const { return m_connectionState; }
    QString connectivity() const { return m_connectivity; }
    QString hostname() const { return m_hostname; }
    Connection *primaryConnection() { return &m_primaryConnection; }
    Ethernet *ethernet() const { return m_ethernet; }

public slots:
    void refresh();
    void monitor(int msec);

signals:
    void isConnectedChanged();
    void connectionStateChanged();
    void connectivityChanged();
    void hostnameChanged();
    void primaryConnectionChanged();
    // Part of the scene's interface; the ethernet object lives as long as this one, so it
    // never fires.
    void ethernetChanged();

private:
    using Handler = void (Network::*)(const QJsonObject &json, const QString &topic);
    static const TopicRoute<Network, Handler> Routes[];

    void subscribe();
    void onInfoReceived(const QJsonObject &json, const QString &topic);
    void onStatusReceived(const QJsonObject &json, const QString &topic);
    void setConnectionState(const QString &state);

    MqttClient &m_client;
    const QString m_topic;
    QTimer m_monitor;
    bool m_isConnected = false;
    QString m_connectionState;
    QString m_connectivity;
    QString m_serviceVersion;
    QString m_hostname;
    Connection m_primaryConnection;
    Ethernet *m_ethernet = nullptr;
};

} // namespace manager
