#include "brokerfixture.h"
#include "logcapture.h"
#include "servicedouble.h"
#include "waituntil.h"

#include "mqtt/mqttclient.h"
#include "network/ethernet.h"
#include "network/network.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMetaMethod>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <vector>

using manager::Connection;
using manager::Ethernet;
using manager::MqttClient;
using manager::Network;

namespace {
const QString Base = QStringLiteral("orvo/network");
const QString InfoTopic = Base + QStringLiteral("/info");
const QString StatusTopic = Base + QStringLiteral("/status");
const QString StateTopic = Base + QStringLiteral("/ethernet/state");
const QString ConfigTopic = Base + QStringLiteral("/ethernet/config");
const QString StateGetTopic = Base + QStringLiteral("/ethernet/state/get");
const QString ConfigGetTopic = Base + QStringLiteral("/ethernet/config/get");
const QString ConfigSetTopic = Base + QStringLiteral("/ethernet/config/set");
// Long enough that a restarted broker is up, and the service double subscribed, before the
// client tries again.
constexpr unsigned RetryMs = 1000;

QJsonObject fiveTexts()
{
    return {{"address", "10.0.0.5"}, {"netmask", "255.255.255.0"}, {"gateway", "10.0.0.1"},
            {"dns0", "10.0.0.2"}, {"dns1", "8.8.4.4"}};
}

QJsonObject fullStatus(const QJsonObject &ipv4 = fiveTexts())
{
    return {{"stateStr", "connected"},
            {"connectivityStr", "full"},
            {"hostname", "validator-17"},
            {"primaryConnection",
             QJsonObject{{"interface", "eth0"}, {"stateStr", "activated"}, {"typeStr", "ethernet"}, {"ipv4", ipv4}}}};
}

QJsonObject fullState()
{
    return {{"interface", "eth0"}, {"typeStr", "ethernet"}, {"stateStr", "Connected"},
            {"reasonStr", "carrier-changed"}, {"mac", "02:00:00:aa:bb:cc"}, {"ipv4", fiveTexts()}};
}

QJsonObject fullConfig()
{
    QJsonObject config = fiveTexts();
    config.insert("interface", "eth0");
    config.insert("method", "manual");
    return config;
}

QByteArray bytes(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Records every "...Changed" signal of the watched objects, as "prefix" + signal name.
class ChangeLog
{
public:
    void watch(QObject *object, const QString &prefix)
    {
        const QMetaObject *meta = object->metaObject();
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            const QMetaMethod method = meta->method(i);
            if (method.methodType() != QMetaMethod::Signal || !method.name().endsWith("Changed"))
                continue;
            m_spies.push_back(std::make_unique<QSignalSpy>(object, QByteArray("2" + method.methodSignature()).constData()));
            m_names.append(prefix + QString::fromLatin1(method.name()));
        }
    }
    QStringList fired() const
    {
        QStringList result;
        for (size_t i = 0; i < m_spies.size(); ++i) {
            for (int n = 0; n < m_spies[i]->count(); ++n)
                result.append(m_names.at(int(i)));
        }
        result.sort();
        return result;
    }

private:
    std::vector<std::unique_ptr<QSignalSpy>> m_spies;
    QStringList m_names;
};
} // namespace

class TestNetwork : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    // Network
    void statusMirrorsTheService();
    void isConnectedFollowsConnectionState_data();
    void isConnectedFollowsConnectionState();
    void repeatedStatusOnlyReannounces_data();
    void repeatedStatusOnlyReannounces();
    void statusWithoutUsableMembersClearsTexts_data();
    void statusWithoutUsableMembersClearsTexts();
    void deeperAndForeignTopicsAreIgnored();
    void monitorRefreshesUntilStopped_data();
    void monitorRefreshesUntilStopped();

    // Both
    void badPayloadsChangeNothing_data();
    void badPayloadsChangeNothing();

    // Ethernet
    void stateMirrorsInterfaceAndLogsChanges();
    void missingStateMemberClearsIt_data();
    void missingStateMemberClearsIt();
    void usb0MessagesChangeNothing_data();
    void usb0MessagesChangeNothing();
    void everyConfigurationIsApplied();
    void saveSendsWhatTheSceneSet_data();
    void saveSendsWhatTheSceneSet();
    void saveLogsTheConfiguration();
    void resetAsksForStateAndConfigOnEveryConnection();

private:
    // Publishes as the service and waits until the proxy logged `line` once more.
    bool deliver(const QString &topic, const QByteArray &payload, const QString &line);
    bool deliverStatus(const QJsonObject &status);
    bool deliverState(const QJsonObject &state);
    bool deliverConfig(const QJsonObject &config);
    ChangeLog watchAll();

    BrokerFixture m_broker;
    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<MqttClient> m_client;
    std::unique_ptr<Network> m_network;
    std::unique_ptr<ServiceDouble> m_service;
};

void TestNetwork::initTestCase()
{
    QVERIFY2(!BrokerFixture::mosquittoPath().isEmpty(), "mosquitto is not installed");
    QVERIFY(m_broker.start());
}

void TestNetwork::init()
{
    m_log = std::make_unique<LogCapture>();
    m_client = std::make_unique<MqttClient>();
    m_client->setHostname(m_broker.host());
    m_client->setPort(m_broker.port());
    m_client->setRetryMillis(RetryMs);
    m_client->setClientId(QStringLiteral("tst_network"));
    m_network = std::make_unique<Network>(*m_client, Base);

    m_service = std::make_unique<ServiceDouble>(m_broker.port(), QStringLiteral("network-service"));
    QVERIFY(m_service->start());
    QVERIFY(m_service->subscribe(Base + QStringLiteral("/#")));
    m_client->connect();
    // The requests follow the renewed subscriptions on the same connection: once they are
    // here, the broker delivers everything the service publishes to the proxies.
    QVERIFY(m_service->waitFor(ConfigGetTopic));
    m_service->clear();
}

// Every line of the subsystem carries its class tag.
void TestNetwork::cleanup()
{
    m_network.reset();
    m_client.reset();
    m_service.reset();
    if (!m_log)
        return;
    for (const QString &text : m_log->texts()) {
        QVERIFY2(text.startsWith(QLatin1String("[Network] ")) || text.startsWith(QLatin1String("[Network][Ethernet] "))
                     || text.startsWith(QLatin1String("[MqttClient] ")),
                 qPrintable(text));
    }
    m_log.reset();
}

bool TestNetwork::deliver(const QString &topic, const QByteArray &payload, const QString &line)
{
    const int before = m_log->count(line);
    return m_service->publish(topic, payload) && waitUntil([&] { return m_log->count(line) > before; });
}

bool TestNetwork::deliverStatus(const QJsonObject &status)
{
    return deliver(StatusTopic, bytes(status), QStringLiteral("[Network] Processing status topic ") + StatusTopic);
}

bool TestNetwork::deliverState(const QJsonObject &state)
{
    return deliver(StateTopic, bytes(state), QStringLiteral("[Network][Ethernet] Processing state topic ") + StateTopic);
}

bool TestNetwork::deliverConfig(const QJsonObject &config)
{
    return deliver(ConfigTopic, bytes(config), QStringLiteral("[Network][Ethernet] Processing config topic ") + ConfigTopic);
}

ChangeLog TestNetwork::watchAll()
{
    ChangeLog log;
    Connection *primary = m_network->primaryConnection();
    Ethernet *ethernet = m_network->ethernet();
    log.watch(m_network.get(), QStringLiteral("network."));
    log.watch(primary, QStringLiteral("primary."));
    log.watch(primary->ipv4(), QStringLiteral("primary.ipv4."));
    log.watch(ethernet, QStringLiteral("ethernet."));
    log.watch(ethernet->ipv4(), QStringLiteral("ethernet.ipv4."));
    log.watch(ethernet->config(), QStringLiteral("ethernet.config."));
    return log;
}

// A status message fills the overall texts and the primary connection with its IPv4 settings.
void TestNetwork::statusMirrorsTheService()
{
    QVERIFY(deliverStatus(fullStatus()));
    QCOMPARE(m_network->connectionState(), QStringLiteral("connected"));
    QCOMPARE(m_network->connectivity(), QStringLiteral("full"));
    QCOMPARE(m_network->hostname(), QStringLiteral("validator-17"));
    Connection *primary = m_network->primaryConnection();
    QCOMPARE(primary->interface(), QStringLiteral("eth0"));
    QCOMPARE(primary->state(), QStringLiteral("activated"));
    QCOMPARE(primary->type(), QStringLiteral("ethernet"));
    QCOMPARE(primary->ipv4()->toMap(), fiveTexts().toVariantMap());
    QCOMPARE(primary->ipv4()->mask(), QStringLiteral("255.255.255.0"));
}

void TestNetwork::isConnectedFollowsConnectionState_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("connected");
    QTest::newRow("connected") << "connected" << true;
    QTest::newRow("limited") << "connected (site only)" << true;
    QTest::newRow("capitalised") << "Connected" << true;
    QTest::newRow("connecting") << "connecting" << false;
    QTest::newRow("disconnected") << "disconnected" << false;
    QTest::newRow("empty") << "" << false;
}

// isConnected is true while the overall state reads "connected", with or without a qualifier.
void TestNetwork::isConnectedFollowsConnectionState()
{
    QFETCH(QString, state);
    QFETCH(bool, connected);
    QSignalSpy changed(m_network.get(), &Network::isConnectedChanged);
    QVERIFY(deliverStatus({{"stateStr", state}}));
    QCOMPARE(m_network->isConnected(), connected);
    QCOMPARE(changed.count(), connected ? 1 : 0);
}

void TestNetwork::repeatedStatusOnlyReannounces_data()
{
    QTest::addColumn<QJsonValue>("ipv4");
    QTest::addColumn<bool>("reapplied");
    QTest::newRow("five texts") << QJsonValue(fiveTexts()) << false;
    QTest::newRow("no ipv4 object") << QJsonValue(QJsonValue::Undefined) << false;
    QJsonObject missing = fiveTexts();
    missing.remove("dns1");
    QTest::newRow("missing key") << QJsonValue(missing) << true;
    QJsonObject extra = fiveTexts();
    extra.insert("prefix", 24);
    QTest::newRow("extra key") << QJsonValue(extra) << true;
    QJsonObject number = fiveTexts();
    number.insert("address", 5);
    QTest::newRow("number for text") << QJsonValue(number) << true;
    QJsonObject null = fiveTexts();
    null.insert("gateway", QJsonValue::Null);
    QTest::newRow("null for text") << QJsonValue(null) << true;
}

// A second identical status emits only primaryConnectionChanged, plus ipv4Changed when the
// service's "ipv4" is not exactly the five keys with text values.
void TestNetwork::repeatedStatusOnlyReannounces()
{
    QFETCH(QJsonValue, ipv4);
    QFETCH(bool, reapplied);
    QJsonObject status = fullStatus();
    QJsonObject primary = status.value("primaryConnection").toObject();
    if (ipv4.isUndefined())
        primary.remove("ipv4");
    else
        primary.insert("ipv4", ipv4);
    status.insert("primaryConnection", primary);
    QVERIFY(deliverStatus(status));

    ChangeLog changes = watchAll();
    QVERIFY(deliverStatus(status));
    QStringList expected = {QStringLiteral("network.primaryConnectionChanged")};
    if (reapplied)
        expected.append(QStringLiteral("primary.ipv4Changed"));
    expected.sort();
    QCOMPARE(changes.fired(), expected);
}

void TestNetwork::statusWithoutUsableMembersClearsTexts_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("empty payload") << QByteArray();
    QTest::newRow("empty object") << QByteArray("{}");
    QTest::newRow("array") << QByteArray("[1, {\"hostname\": \"x\"}]");
    QTest::newRow("wrong types") << QByteArray(
        "{\"stateStr\": 5, \"connectivityStr\": {\"a\": 1}, \"hostname\": null, \"primaryConnection\": [1, 2]}");
    QTest::newRow("huge numbers") << QByteArray("{\"stateStr\": 1e308, \"hostname\": -1e308, \"primaryConnection\": "
                                                "{\"interface\": true, \"typeStr\": 1e308, \"ipv4\": 1e308}}");
}

// A status without usable members (an empty payload included) clears every text and still
// announces the primary connection.
void TestNetwork::statusWithoutUsableMembersClearsTexts()
{
    QFETCH(QByteArray, payload);
    QVERIFY(deliverStatus(fullStatus()));
    QSignalSpy announced(m_network.get(), &Network::primaryConnectionChanged);
    QVERIFY(deliver(StatusTopic, payload, QStringLiteral("[Network] Processing status topic ") + StatusTopic));
    QCOMPARE(announced.count(), 1);
    QCOMPARE(m_network->connectionState(), QString());
    QCOMPARE(m_network->connectivity(), QString());
    QCOMPARE(m_network->hostname(), QString());
    QCOMPARE(m_network->isConnected(), false);
    Connection *primary = m_network->primaryConnection();
    QCOMPARE(primary->interface(), QString());
    QCOMPARE(primary->state(), QString());
    QCOMPARE(primary->type(), QString());
    for (const QVariant &value : primary->ipv4()->toMap())
        QCOMPARE(value.toString(), QString());
    QVERIFY(!m_log->contains(QStringLiteral("Failed to parse")));
}

// Neither a topic below the status topic nor one outside the base is parsed (a bad payload
// there is not ours to report), and neither changes anything.
void TestNetwork::deeperAndForeignTopicsAreIgnored()
{
    const QString deeper = StatusTopic + QStringLiteral("/detail");
    const QString foreign = QStringLiteral("orvo/other/status");
    m_client->subscribe(foreign);
    m_client->subscribe(deeper);
    // The client's requests follow its subscriptions: once they are here, both are in place.
    m_network->ethernet()->reset();
    QVERIFY(m_service->waitFor(ConfigGetTopic));
    QVERIFY(deliverStatus(fullStatus()));
    m_log->clear();

    ChangeLog changes = watchAll();
    QJsonObject other = fullStatus();
    other.insert("hostname", "elsewhere");
    QVERIFY(m_service->publish(deeper, QByteArray("oops")));
    QVERIFY(m_service->publish(deeper, bytes(other)));
    QVERIFY(m_service->publish(foreign, QByteArray("oops")));
    QVERIFY(m_service->publish(foreign, bytes(other)));
    QVERIFY(deliverStatus(fullStatus()));
    QCOMPARE(changes.fired(), QStringList{QStringLiteral("network.primaryConnectionChanged")});
    QCOMPARE(m_network->hostname(), QStringLiteral("validator-17"));
    QVERIFY(!m_log->contains(QStringLiteral("Failed to parse")));
}

void TestNetwork::monitorRefreshesUntilStopped_data()
{
    QTest::addColumn<int>("stop");
    QTest::newRow("zero") << 0;
    QTest::newRow("negative") << -1;
}

// monitor(n) refreshes at once and then every n ms; 0 (or a negative interval) stops it.
void TestNetwork::monitorRefreshesUntilStopped()
{
    QFETCH(int, stop);
    const QString refresh = QStringLiteral("[Network] Refreshing data");
    m_log->clear();
    m_network->monitor(40);
    QCOMPARE(m_log->texts().mid(0, 2),
             (QStringList{QStringLiteral("[Network] Monitor started : 40 msec(s)"), refresh}));
    QTRY_VERIFY(m_log->count(refresh) >= 3);

    m_network->monitor(stop);
    QCOMPARE(m_log->texts().last(), QStringLiteral("[Network] Monitor stopped"));
    const int refreshes = m_log->count(refresh);
    QVERIFY(!waitUntil([&] { return m_log->count(refresh) > refreshes; }, 300));
}

void TestNetwork::badPayloadsChangeNothing_data()
{
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QStringList>("lines");
    const QString network = QStringLiteral("[Network] Failed to parse JSON message: ");
    const QString ethernet = QStringLiteral("[Network][Ethernet] Failed to parse JSON message: ");
    QTest::newRow("status: not JSON") << StatusTopic << QByteArray("not json") << QStringList{network + "illegal value"};
    QTest::newRow("status: cut short") << StatusTopic << QByteArray("{\"stateStr\": \"connected\"")
                                       << QStringList{network + "unterminated string"};
    QTest::newRow("status: invalid UTF-8") << StatusTopic << QByteArray("{\"hostname\": \"\xff\xfe\"}")
                                           << QStringList{network + "invalid UTF8 string"};
    QTest::newRow("status: number too large") << StatusTopic << QByteArray("{\"hostname\": 1e999}")
                                              << QStringList{network + "illegal number"};
    QTest::newRow("status: bare number") << StatusTopic << QByteArray("42") << QStringList{network + "illegal value"};
    QTest::newRow("status: trailing garbage") << StatusTopic << QByteArray("{} }")
                                              << QStringList{network + "garbage at the end of the document"};
    QTest::newRow("info: not JSON") << InfoTopic << QByteArray("<info/>") << QStringList{network + "illegal value"};
    // The ethernet topics below the same base are reported by their owner alone.
    QTest::newRow("state: not JSON") << StateTopic << QByteArray("state") << QStringList{ethernet + "illegal value"};
    QTest::newRow("state: invalid UTF-8") << StateTopic << QByteArray("{\"mac\": \"\xc3\"}")
                                          << QStringList{ethernet + "invalid UTF8 string"};
    QTest::newRow("config: cut short") << ConfigTopic << QByteArray("{\"method\": ")
                                       << QStringList{ethernet + "unterminated object"};
    QTest::newRow("config: bare text") << ConfigTopic << QByteArray("\"manual\"")
                                       << QStringList{ethernet + "illegal value"};
}

// A payload that is not JSON is logged exactly, at critical level, and changes nothing.
void TestNetwork::badPayloadsChangeNothing()
{
    QFETCH(QString, topic);
    QFETCH(QByteArray, payload);
    QFETCH(QStringList, lines);
    QVERIFY(deliverStatus(fullStatus()));
    QVERIFY(deliverState(fullState()));
    QVERIFY(deliverConfig(fullConfig()));
    Ethernet *ethernet = m_network->ethernet();
    ethernet->config()->setAddress(QStringLiteral("10.9.9.9")); // an edit in progress survives

    ChangeLog changes = watchAll();
    for (const QString &line : lines)
        QTest::ignoreMessage(QtCriticalMsg, qPrintable(line));
    QVERIFY(deliver(topic, payload, lines.last()));
    for (const QString &line : lines)
        QCOMPARE(m_log->count(line), 1);
    QCOMPARE(m_log->texts().filter(QStringLiteral("Failed to parse")).size(), lines.size());
    QCOMPARE(changes.fired(), QStringList());
    QCOMPARE(m_network->hostname(), QStringLiteral("validator-17"));
    QCOMPARE(m_network->primaryConnection()->ipv4()->address(), QStringLiteral("10.0.0.5"));
    QCOMPARE(ethernet->mac(), QStringLiteral("02:00:00:aa:bb:cc"));
    QCOMPARE(ethernet->method(), QStringLiteral("manual"));
    QCOMPARE(ethernet->config()->address(), QStringLiteral("10.9.9.9"));
}

// A state message fills the interface's properties, logging each change; the same message
// again changes nothing.
void TestNetwork::stateMirrorsInterfaceAndLogsChanges()
{
    Ethernet *ethernet = m_network->ethernet();
    m_log->clear();
    QVERIFY(deliverState(fullState()));
    QCOMPARE(ethernet->interface(), QStringLiteral("eth0"));
    QCOMPARE(ethernet->type(), QStringLiteral("ethernet"));
    QCOMPARE(ethernet->state(), QStringLiteral("Connected"));
    QCOMPARE(ethernet->reason(), QStringLiteral("carrier-changed"));
    QCOMPARE(ethernet->mac(), QStringLiteral("02:00:00:aa:bb:cc"));
    QCOMPARE(ethernet->ipv4()->toMap(), fiveTexts().toVariantMap());

    QStringList lines;
    for (const QString &text : m_log->texts()) {
        if (text.startsWith(QLatin1String("[Network][Ethernet] ")))
            lines.append(text);
    }
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines.mid(0, 5), (QStringList{
                                  QStringLiteral("[Network][Ethernet] Processing state topic ") + StateTopic,
                                  QStringLiteral("[Network][Ethernet] Interface changed : eth0"),
                                  QStringLiteral("[Network][Ethernet] Type changed : ethernet"),
                                  QStringLiteral("[Network][Ethernet] Reason changed : carrier-changed"),
                                  QStringLiteral("[Network][Ethernet] MAC changed : 02:00:00:aa:bb:cc"),
                              }));
    QVERIFY(lines.at(5).startsWith(QLatin1String("[Network][Ethernet] IPv4 changed : QMap(")));
    QVERIFY(lines.at(5).contains(QLatin1String("255.255.255.0")));

    ChangeLog changes = watchAll();
    QVERIFY(deliverState(fullState()));
    QCOMPARE(changes.fired(), QStringList());
}

void TestNetwork::missingStateMemberClearsIt_data()
{
    QTest::addColumn<QString>("member");
    QTest::addColumn<QString>("signal");
    QTest::newRow("mac") << "mac" << "ethernet.macChanged";
    QTest::newRow("reason") << "reasonStr" << "ethernet.reasonChanged";
    QTest::newRow("type") << "typeStr" << "ethernet.typeChanged";
    QTest::newRow("state") << "stateStr" << "ethernet.stateChanged";
}

// A state message without a member clears that property and emits only its signal.
void TestNetwork::missingStateMemberClearsIt()
{
    QFETCH(QString, member);
    QFETCH(QString, signal);
    QVERIFY(deliverState(fullState()));
    ChangeLog changes = watchAll();
    QJsonObject state = fullState();
    state.remove(member);
    QVERIFY(deliverState(state));
    QCOMPARE(changes.fired(), QStringList{signal});
    QCOMPARE(m_network->ethernet()->property(signal.section('.', 1).remove("Changed").toLatin1()).toString(), QString());
}

void TestNetwork::usb0MessagesChangeNothing_data()
{
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QString>("line");
    QTest::newRow("state") << StateTopic << QStringLiteral("[Network][Ethernet] Processing state topic ") + StateTopic;
    QTest::newRow("config") << ConfigTopic << QStringLiteral("[Network][Ethernet] Processing config topic ") + ConfigTopic;
}

// A message about "usb0" is logged as processed and otherwise ignored.
void TestNetwork::usb0MessagesChangeNothing()
{
    QFETCH(QString, topic);
    QFETCH(QString, line);
    QVERIFY(deliverState(fullState()));
    QVERIFY(deliverConfig(fullConfig()));
    ChangeLog changes = watchAll();
    const QJsonObject usb = {{"interface", "usb0"}, {"typeStr", "gadget"}, {"stateStr", "Disconnected"},
                             {"mac", "02:11:22:33:44:55"}, {"method", "auto"}, {"address", "192.168.7.2"},
                             {"ipv4", QJsonObject{{"address", "192.168.7.2"}}}};
    QVERIFY(deliver(topic, bytes(usb), line));
    QCOMPARE(changes.fired(), QStringList());
    Ethernet *ethernet = m_network->ethernet();
    QCOMPARE(ethernet->interface(), QStringLiteral("eth0"));
    QCOMPARE(ethernet->method(), QStringLiteral("manual"));
    QCOMPARE(ethernet->config()->address(), QStringLiteral("10.0.0.5"));
}

// Every configuration message re-applies the service's values over unsaved edits and emits
// configChanged; only a new method emits methodChanged.
void TestNetwork::everyConfigurationIsApplied()
{
    Ethernet *ethernet = m_network->ethernet();
    {
        ChangeLog changes = watchAll();
        QVERIFY(deliverConfig(fullConfig()));
        QVERIFY(changes.fired().contains(QStringLiteral("ethernet.methodChanged")));
        QCOMPARE(changes.fired().count(QStringLiteral("ethernet.configChanged")), 1);
        QCOMPARE(ethernet->config()->toMap(), fiveTexts().toVariantMap());
        QCOMPARE(m_log->count(QStringLiteral("[Network][Ethernet] Method changed : manual")), 1);
    }
    {
        ChangeLog changes = watchAll();
        QVERIFY(deliverConfig(fullConfig()));
        QCOMPARE(changes.fired(), QStringList{QStringLiteral("ethernet.configChanged")});
    }
    ethernet->config()->setGateway(QStringLiteral("10.0.0.254"));
    QVERIFY(deliverConfig(fullConfig()));
    QCOMPARE(ethernet->config()->gateway(), QStringLiteral("10.0.0.1"));
}

void TestNetwork::saveSendsWhatTheSceneSet_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QStringList>("fields"); // address, mask, gateway, dns0, dns1
    QTest::addColumn<QStringList>("sent");

    const QStringList full = {"10.1.2.3", "255.255.0.0", "10.1.0.1", "1.1.1.1", "9.9.9.9"};
    const QStringList none = {"", "", "", "", ""};
    QTest::newRow("manual") << "manual" << full << full;
    const QStringList partial = {"10.1.2.3", "255.255.0.0", "", "", ""};
    QTest::newRow("manual, gateway and DNS empty") << "manual" << partial << partial;
    QTest::newRow("auto sends empty addresses") << "auto" << full << none;
    QTest::newRow("other method is not manual") << "Manual" << full << none;
    const QStringList hostile = {"\", \"method\": \"auto", "}{", "\\\"\\", "1.2.3.4\n\"dns0\": \"x\"", "\u00e9\u4e2d\U0001F600\t\x01"};
    // Refused before anything is sent: an empty list.
    QTest::newRow("manual, hostile fields") << "manual" << hostile << QStringList();
    QTest::newRow("manual, bad gateway") << "manual" << QStringList{"10.1.2.3", "255.255.0.0", "10.1.0.256", "", ""}
                                         << QStringList();
    QTest::newRow("hostile method") << "auto\", \"address\": \"6.6.6.6" << full << none;
}

// save() sends one JSON object of seven texts: the reported interface, the method and, in
// "manual" only, the five fields exactly as typed; it changes no property. Manual fields that
// are no addresses send nothing, with a warning.
void TestNetwork::saveSendsWhatTheSceneSet()
{
    QFETCH(QString, method);
    QFETCH(QStringList, fields);
    QFETCH(QStringList, sent);
    QVERIFY(deliverState(fullState()));
    Ethernet *ethernet = m_network->ethernet();
    ethernet->setMethod(method);
    IPv4 *config = ethernet->config();
    config->setAddress(fields.at(0));
    config->setMask(fields.at(1));
    config->setGateway(fields.at(2));
    config->setDns0(fields.at(3));
    config->setDns1(fields.at(4));

    ChangeLog changes = watchAll();
    m_service->clear();
    m_log->clear();
    if (sent.isEmpty()) {
        QVERIFY(!ethernet->save());
        const QString failure = IPv4::manualFailure(fields.at(0), fields.at(1), fields.at(2), fields.at(3), fields.at(4));
        QVERIFY(!failure.isEmpty());
        QCOMPARE(m_log->count("[Network][Ethernet] WARN: Configuration not sent : " + failure), 1);
        QVERIFY(!m_service->waitFor(ConfigSetTopic, 1, 300));
        QCOMPARE(changes.fired(), QStringList());
        return;
    }
    QVERIFY(ethernet->save());
    QVERIFY(m_service->waitFor(ConfigSetTopic));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(m_service->payloads(ConfigSetTopic).last(), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QVERIFY(document.isObject());
    const QJsonObject expected = {{"interface", "eth0"}, {"method", method},   {"address", sent.at(0)},
                                  {"netmask", sent.at(1)}, {"gateway", sent.at(2)}, {"dns0", sent.at(3)},
                                  {"dns1", sent.at(4)}};
    QCOMPARE(document.object(), expected);
    QCOMPARE(changes.fired(), QStringList());
    QCOMPARE(m_service->count(ConfigSetTopic), 1);
}

// save() logs the configuration it sends as a framed block.
void TestNetwork::saveLogsTheConfiguration()
{
    Ethernet *ethernet = m_network->ethernet();
    ethernet->setMethod(QStringLiteral("manual"));
    ethernet->config()->fromMap(fiveTexts().toVariantMap());
    m_log->clear();
    ethernet->save();
    const QString tag = QStringLiteral("[Network][Ethernet] ");
    QStringList block;
    for (const QString &text : m_log->texts()) {
        if (text.startsWith(tag))
            block.append(text.mid(tag.size()));
    }
    QCOMPARE(block, (QStringList{
                        "Saving configuration",
                        "-------------------------",
                        "Method  : manual",
                        "Address : 10.0.0.5",
                        "Netmask : 255.255.255.0",
                        "Gateway : 10.0.0.1",
                        "DNS     : 10.0.0.2, 8.8.4.4",
                        "-------------------------",
                    }));
}

// On every broker connection the ethernet object asks for its state and configuration (and
// nothing else is requested of the service); the network proxy only logs a refresh.
void TestNetwork::resetAsksForStateAndConfigOnEveryConnection()
{
    // The first connection's requests were seen in init(); ask once more to see their form.
    m_network->ethernet()->reset();
    QVERIFY(m_service->waitFor(ConfigGetTopic));
    QCOMPARE(m_service->payloads(StateGetTopic), QList<QByteArray>{"{}"});
    QCOMPARE(m_service->payloads(ConfigGetTopic), QList<QByteArray>{"{}"});

    m_log->clear();
    QSignalSpy connected(m_client.get(), &MqttClient::connected);
    QVERIFY(m_broker.restart());
    ServiceDouble service(m_broker.port(), QStringLiteral("network-service-2"));
    QVERIFY(service.start());
    QVERIFY(service.subscribe(Base + QStringLiteral("/#")));
    QVERIFY(connected.wait(10000));
    QVERIFY(service.waitFor(ConfigGetTopic));
    QStringList topics;
    for (const auto &message : service.messages()) {
        QCOMPARE(message.payload, QByteArray("{}"));
        topics.append(message.topic);
    }
    QCOMPARE(topics, (QStringList{StateGetTopic, ConfigGetTopic}));
    QCOMPARE(m_log->count(QStringLiteral("[Network] Refreshing data")), 1);
    QCOMPARE(m_log->count(QStringLiteral("[Network][Ethernet] Refreshing data")), 1);

    // The renewed subscriptions deliver the answers.
    QVERIFY(service.publish(StateTopic, bytes(fullState())));
    QTRY_COMPARE(m_network->ethernet()->mac(), QStringLiteral("02:00:00:aa:bb:cc"));
}

QTEST_GUILESS_MAIN(TestNetwork)
#include "tst_network.moc"
