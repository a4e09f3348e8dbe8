#include "network.h"

#include "mqtt/monitor.h"

#include "mqtt/jsonmessage.h"
#include "mqtt/mqttclient.h"
#include "network/ethernet.h"

#include <QDebug>

// The network service publishes by itself; we only listen:
//   <base>/info    "service"."version"
//   <base>/status  overall "stateStr", "connectivityStr", "hostname" and "primaryConnection"
// Nothing is requested here: the ethernet object (<base>/ethernet/...) does its own asking.

namespace manager {

namespace {
const char Tag[] = "[Network] ";
const char InfoSuffix[] = "/info";
const char StatusSuffix[] = "/status";

// The service words the overall state as "connected" when the device has a working network
// (with a qualifier in brackets when it is limited, such as "connected (site only)"), and
// otherwise "connecting", "disconnected" and the like.
bool meansConnected(const QString &state)
{
    return state.startsWith(QLatin1String("connected"), Qt::CaseInsensitive);
}
} // namespace

// The ethernet topics below the same base are the ethernet object's own.
const TopicRoute<Network, Network::Handler> Network::Routes[] = {
    {InfoSuffix, &Network::onInfoReceived},
    {StatusSuffix, &Network::onStatusReceived},
};

Network::Network(MqttClient &client, const QString &topic, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_topic(topic)
    , m_ethernet(new Ethernet(client, topic, this))
{
    connect(&m_client, &MqttClient::connected, this, &Network::refresh);
    connect(&m_monitor, &QTimer::timeout, this, &Network::refresh);
    subscribe();
}

void Network::subscribe()
{
    qInfo().noquote().nospace() << Tag << "Subscribing to topics";
    routes::subscribe(m_client, this, m_topic, Routes,
                      {Tag, EmptyPayload::AsEmptyObject, ParseFailureDetail::ParserError});
}

void Network::refresh()
{
    qInfo().noquote().nospace() << Tag << "Refreshing data";
}

void Network::monitor(int msec)
{
    if (setMonitorInterval(m_monitor, msec, Tag))
        refresh();
}

void Network::onInfoReceived(const QJsonObject &json, const QString &topic)
{
    qInfo().noquote().nospace() << Tag << "Processing info topic " << topic;
    m_serviceVersion = json.value(QLatin1String("service")).toObject().value(QLatin1String("version")).toString();
}

void Network::onStatusReceived(const QJsonObject &json, const QString &topic)
{
    qInfo().noquote().nospace() << Tag << "Processing status topic " << topic;

    setConnectionState(json.value(QLatin1String("stateStr")).toString());

    const QString connectivity = json.value(QLatin1String("connectivityStr")).toString();
    if (connectivity != m_connectivity) {
        m_connectivity = connectivity;
        emit connectivityChanged();
    }

    const QString hostname = json.value(QLatin1String("hostname")).toString();
    if (hostname != m_hostname) {
        m_hostname = hostname;
        emit hostnameChanged();
    }

    m_primaryConnection.fromMap(json.value(QLatin1String("primaryConnection")).toObject().toVariantMap());
    emit primaryConnectionChanged();
}

void Network::setConnectionState(const QString &state)
{
    if (state == m_connectionState)
        return;
    m_connectionState = state;
    emit connectionStateChanged();

    // No field of the service says "connected" by itself: the overall state is what the
    // device's reachability follows, so isConnected is derived from it.
    const bool isConnected = meansConnected(state);
    if (isConnected != m_isConnected) {
        m_isConnected = isConnected;
        emit isConnectedChanged();
    }
}

} // namespace manager
