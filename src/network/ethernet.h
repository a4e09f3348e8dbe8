#pragma once

#include "mqtt/topicroutes.h"
#include "network/ipv4.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

namespace manager {

class MqttClient;

// The wired ethernet interface as the network service reports it (state and current IPv4
// settings), and its configuration: "auto" (the service obtains an address itself) or
// "manual" (fixed address, netmask, gateway and two DNS servers). The settings page and the
// maintenance barcode check their texts with configFailure(), edit `method` and `config` in
// place, then call save(), which sends nothing that fails the same check; the properties
// follow only when the service reports the new configuration.
class Ethernet : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString interface READ interface NOTIFY interfaceChanged)
    Q_PROPERTY(QString type READ type NOTIFY typeChanged)
    Q_PROPERTY(QString state READ state NOTIFY stateChanged)
    Q_PROPERTY(QString reason READ reason NOTIFY reasonChanged)
    Q_PROPERTY(QString mac READ mac NOTIFY macChanged)
    Q_PROPERTY(QString method READ method WRITE setMethod NOTIFY methodChanged)
    Q_PROPERTY(IPv4 *ipv4 READ ipv4 NOTIFY ipv4Changed)
    Q_PROPERTY(IPv4 *config READ config NOTIFY configChanged)

public:
    // `topic` is the network service's base topic; the interface lives below it.
    Ethernet(MqttClient &client, const QString &topic, QObject *parent = nullptr);

    QString interface() const { return m_interface; }
    QString type() const { return m_type; }
    QString state() const { return m_state; }
    QString reason() const { return m_reason; }
    QString mac() const { return m_mac; }
    QString method() const { return m_method; }
    IPv4 *ipv4() { return &m_ipv4; }
    IPv4 *config() { return &m_config; }

    void setMethod(const QString &method);

    // The first reason why these settings cannot be sent, or "" when they can; only a manual
    // configuration is checked, as in "auto" the service chooses the addresses itself.
    Q_INVOKABLE QString configFailure(const QString &method, const QString &address, const QString &netmask,
                                      const QString &gateway, const QString &dns0, const QString &dns1) const;
    // What an address field may hold at all: nothing, or a dotted address.
    Q_INVOKABLE bool isEmptyOrDotted(const QString &text) const;

public slots:
    void reset();
    // True when the request went out to the broker.
    bool save();

signals:
    void interfaceChanged();
    void typeChanged();
    void stateChanged();
    void reasonChanged();
    void macChanged();
    void methodChanged();
    void ipv4Changed();
    void configChanged();

private:
    using Handler = void (Ethernet::*)(const QJsonObject &json, const QString &topic);
    static const TopicRoute<Ethernet, Handler> Routes[];

    void subscribe();
    void onStateReceived(const QJsonObject &json, const QString &topic);
    void onConfigReceived(const QJsonObject &json, const QString &topic);

    MqttClient &m_client;
    const QString m_topic;
    QString m_interface;
    QString m_type;
    QString m_state;
    QString m_reason;
    QString m_mac;
    QString m_method;
    IPv4 m_ipv4;
    IPv4 m_config;
};

} // namespace manager
