#pragma once

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

class BrokerTrial;
class Config;
class SessionManager;
namespace manager {
class MqttClient;
}

// The application's own topics below its base ("mqtt/base", and the base the depot's bridge
// still carries after a change of it, "bridge/base"): the subscriptions to the requests, the
// "/info", "/status", "/config" and depot copy "/fleet/config" it publishes, and the rules for
// settings taken from "/config/set" (which values are refused, how often each secret was
// written). It owns the base in force, the bases subscribed and the secret-write counts; the
// configuration itself stays in the store and its reactions in the controller.
class RemoteConfig : public QObject
{
    Q_OBJECT

public:
    RemoteConfig(Config &config, manager::MqttClient &mqtt, SessionManager &session, BrokerTrial &brokerTrial,
                 QObject *parent = nullptr);

    QString baseTopic() const;
    // The base topic, and the one the depot's bridge still carries after a change of base,
    // until the file says the bridge carries the new one ("bridge/base").
    QStringList ownBases() const;

    void subscribeToTopics();
    void publishInfo();
    void publishStatus();
    void publishConfig();

    // Every change set of the store: secrets written here (not over "/config/set", which
    // counts its own) add to their counts.
    void countSecretWrites(const QVariantMap &changes);
    // "mqtt/base" changed: the base left keeps answering for the bridge.
    void onBaseChanged();
    // "bridge/base" changed without a reconnection: the subscriptions follow it.
    void onBridgeBaseChanged();

private:
    // A request on one of the own request topics ("/info/get", "/status/get", "/config/get",
    // "/config/set" below each base): the subscriptions bring only those.
    void onRequestReceived(const QByteArray &data, const QString &topic);
    QJsonObject acceptableConfiguration(const QJsonObject &json) const;

    Config &m_config;
    manager::MqttClient &m_mqtt;
    SessionManager &m_session;
    BrokerTrial &m_brokerTrial;
    // Writes of each secret setting since the start (kept in memory only): the depot's copy
    // of the configuration carries these counts instead of the values, so a remote change of
    // the PIN can be proved without the PIN leaving the vehicle.
    QHash<QString, int> m_secretWrites;
    bool m_takingRemoteSettings = false;
    // The base topics whose requests are subscribed, to leave one no longer ours.
    QStringList m_subscribedBases;
    // The base topic in force, to know the one a change of "mqtt/base" leaves.
    QString m_base;
};
