#include "remoteconfig.h"

#include "app/config.h"
#include "app/secrets.h"
#include "controller/brokertrial.h"
#include "maintenance/sessionmanager.h"
#include "mqtt/mqttclient.h"
#include "settingtable.h"

#include <QCoreApplication>
#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>

// Own topics ("<base>/info", "/status", "/config", answered on "/info/get", "/status/get",
// "/config/get"; settings taken from "/config/set"). "<base>/fleet/config", published beside
// "/config", is the copy the bridge takes to the depot: every secret value replaced by a count
// of its writes. The lines are the controller's: peers and technicians know them by its tag.

namespace {

const char Tag[] = "[GUIManager] ";

// The requests the application answers, below its base topic.
const char *const OwnRequestSuffixes[] = {"/info/get", "/status/get", "/config/get", "/config/set"};

} // namespace

RemoteConfig::RemoteConfig(Config &config, manager::MqttClient &mqtt, SessionManager &session,
                           BrokerTrial &brokerTrial, QObject *parent)
    : QObject(parent)
    , m_config(config)
    , m_mqtt(mqtt)
    , m_session(session)
    , m_brokerTrial(brokerTrial)
    , m_base(baseTopic())
{
}

QString RemoteConfig::baseTopic() const
{
    return m_config.get(settingtable::key::MqttBase).toString();
}

QStringList RemoteConfig::ownBases() const
{
    QStringList bases{baseTopic()};
    const QString bridged = m_config.get(settingtable::key::BridgeBase).toString();
    if (!bridged.isEmpty() && bridged != bases.first())
        bases << bridged;
    return bases;
}

void RemoteConfig::subscribeToTopics()
{
    const QStringList bases = ownBases();
    for (const QString &old : qAsConst(m_subscribedBases)) {
        if (bases.contains(old))
            continue;
        // A base no longer ours: its requests go unanswered, and its retained status would
        // tell every later subscriber that an application still answers there.
        for (const char *suffix : OwnRequestSuffixes)
            m_mqtt.unsubscribe(old + QLatin1String(suffix), this);
        m_mqtt.publish(QByteArray(), old + QStringLiteral("/status"), 0, true);
    }
    m_subscribedBases = bases;
    // The client holds one entry per filter: subscribing again on every connection adds nothing.
    for (const QString &base : bases) {
        for (const char *suffix : OwnRequestSuffixes) {
            const manager::MqttSubscription *requests = m_mqtt.subscribe(base + QLatin1String(suffix), 0, this);
            connect(requests, &manager::MqttSubscription::messageReceived, this, &RemoteConfig::onRequestReceived,
                    Qt::UniqueConnection);
        }
    }
}

void RemoteConfig::publishInfo()
{
    const QJsonObject info{{QStringLiteral("version"), QCoreApplication::applicationVersion()}};
    for (const QString &base : ownBases())
        m_mqtt.publish(QJsonDocument(info).toJson(QJsonDocument::Indented), base + QStringLiteral("/info"), 0, false);
}

void RemoteConfig::publishStatus()
{
    const QJsonObject status{{QStringLiteral("technician"), m_session.sessionActive()},
                             {QStringLiteral("service"), true}};
    // Retained like the last will on the same topic, so that the live status replaces a will
    // left by an earlier crash instead of leaving every later subscriber told we are down.
    for (const QString &base : ownBases())
        m_mqtt.publish(QJsonDocument(status).toJson(QJsonDocument::Indented), base + QStringLiteral("/status"), 0, true);
}

void RemoteConfig::publishConfig()
{
    QJsonObject json = m_config.toJson();
    // Every client of the broker may read this topic: the broker password stays out of it,
    // and so does the way back of a broker trial, which holds the previous one.
    QJsonObject mqtt = json.value(QStringLiteral("mqtt")).toObject();
    mqtt.remove(QStringLiteral("password"));
    json.insert(QStringLiteral("mqtt"), mqtt);
    json.remove(QStringLiteral("trial"));
    const QStringList bases = ownBases();
    const QByteArray local = QJsonDocument(json).toJson(QJsonDocument::Indented);
    for (const QString &base : bases)
        m_mqtt.publish(local, base + QStringLiteral("/config"), 0, false);

    // Local peers read the PIN from "/config"; what leaves the vehicle holds no secret at all,
    // only how often each was written, so that the depot can tell its change was taken.
    QJsonObject writes;
    for (auto group = json.begin(); group != json.end(); ++group) {
        QJsonObject members = group.value().toObject();
        for (const QString &name : members.keys()) {
            const QString key = group.key() + QLatin1Char('/') + name;
            if (secrets::isSecretName(key)) {
                members.remove(name);
                writes.insert(key, m_secretWrites.value(key));
            }
        }
        group.value() = members;
    }
    json.insert(QStringLiteral("secretWrites"), writes);
    const QByteArray depot = QJsonDocument(json).toJson(QJsonDocument::Indented);
    for (const QString &base : bases)
        m_mqtt.publish(depot, base + QStringLiteral("/fleet/config"), 0, false);
}

void RemoteConfig::countSecretWrites(const QVariantMap &changes)
{
    if (m_takingRemoteSettings)
        return;
    for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
        if (secrets::isSecretName(it.key()))
            ++m_secretWrites[it.key()];
    }
}

void RemoteConfig::onBaseChanged()
{
    // The depot's bridge carries the base it was written for: that one keeps answering
    // until the file names the bridge's new base (tessivo-bridge-setup writes it).
    if (!m_config.get(settingtable::key::BridgeBase).isValid() && !m_base.isEmpty())
        m_config.keep({{settingtable::key::BridgeBase, m_base}});
    m_base = baseTopic();
}

void RemoteConfig::onBridgeBaseChanged()
{
    if (m_mqtt.state() == manager::MqttTransport::Connected)
        subscribeToTopics();
}

void RemoteConfig::onRequestReceived(const QByteArray &data, const QString &topic)
{
    // Only our own request topics are subscribed for this receiver: the suffix tells which.
    qInfo().noquote().nospace() << Tag << "Message received : " << topic;
    if (QLoggingCategory::defaultCategory()->isDebugEnabled())
        qDebug().noquote().nospace() << Tag << "Data : " << secrets::maskedPayload(data);

    const QJsonDocument document = QJsonDocument::fromJson(data);
    if (topic.endsWith(QLatin1String("/info/get")))
        publishInfo();
    else if (topic.endsWith(QLatin1String("/status/get")))
        publishStatus();
    else if (topic.endsWith(QLatin1String("/config/get")))
        publishConfig();
    else if (topic.endsWith(QLatin1String("/config/set"))) {
        const QJsonObject accepted = acceptableConfiguration(document.object());
        // A secret taken over MQTT counts even when it equals the stored one: the sender
        // cannot see the value, only that its write arrived and was accepted.
        for (auto group = accepted.constBegin(); group != accepted.constEnd(); ++group) {
            const QJsonObject members = group.value().toObject();
            for (auto member = members.constBegin(); member != members.constEnd(); ++member) {
                const QString key = group.key() + QLatin1Char('/') + member.key();
                if (secrets::isSecretName(key))
                    ++m_secretWrites[key];
            }
        }
        m_brokerTrial.keepWayBack(accepted);
        m_takingRemoteSettings = true;
        m_config.fromJson(accepted);
        m_takingRemoteSettings = false;
        m_brokerTrial.settle();
    }
}

// Remote settings that would leave the application unusable (unable to reach its broker, or
// to store a value its readers understand) are refused, key by key, with a warning.
QJsonObject RemoteConfig::acceptableConfiguration(const QJsonObject &json) const
{
    QJsonObject accepted;
    for (auto group = json.constBegin(); group != json.constEnd(); ++group) {
        if (!group.value().isObject())
            continue;
        const QJsonObject members = group.value().toObject();
        QJsonObject kept;
        for (auto member = members.constBegin(); member != members.constEnd(); ++member) {
            const QString key = group.key() + QLatin1Char('/') + member.key();
            const QJsonValue value = member.value();
            // The way back of a broker trial and the base the bridge carries are the
            // application's own bookkeeping.
            const bool own = group.key() == QLatin1String("trial") || group.key() == QLatin1String("bridge");
            if (!own && settingtable::accepts(key, value)) {
                kept.insert(member.key(), value);
            } else {
                // The value as it came, in JSON notation ("1884" with its quotes); never a secret.
                const QString shown = secrets::isSecretName(key)
                        ? secrets::Mask
                        : QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
                qWarning().noquote().nospace() << Tag << "WARN: Refusing configuration value : " << key << " = " << shown;
            }
        }
        accepted.insert(group.key(), kept);
    }
    return accepted;
}
