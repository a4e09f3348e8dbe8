#include "brokerfixture.h"
#include "logcapture.h"
#include "servicedouble.h"
#include "waituntil.h"

#include "mqtt/mqttclient.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using manager::MqttClient;
using manager::MqttSubscription;
using manager::MqttTransport;

namespace {
// Short enough to keep the suite quick, long enough to tell one retry from several.
constexpr unsigned RetryMs = 300;
}

class TestMqttClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void subscriptionsWaitForConnectionAndComeBackInOrder();
    void subscriptionFromConnectedReceiverIsIssuedOncePerConnection();
    void reconnectsEveryRetryIntervalWhileBrokerIsDown();
    void settingsChangesWhileBrokerIsDownKeepOneRetry();
    void publishIsRefusedSilentlyWhileNotConnected();
    void receivedCarriesPayloadAndTopic();
    void topicMatchesFilter_data();
    void topicMatchesFilter();
    void subscriptionsBringOnlyTheirMessages();
    void retainAndQosReachTheBroker();
    void refusedCredentialsAreLoggedAndRetried();
    void rightCredentialsConnect();
    void lastWillReachesOthersOnUnexpectedLoss();
    void watchdogEndsHungAttempt();
    void hostNamesAreLookedUpAside();
    void deadFirstAddressGivesWayToTheNext_data();
    void deadFirstAddressGivesWayToTheNext();
    void connectAgainMovesToNewSettings();
    void passwordIsNeverLogged();

private:
    static void configure(MqttClient &client, quint16 port)
    {
        client.setHostname(QStringLiteral("127.0.0.1"));
        client.setPort(port);
        client.setRetryMillis(RetryMs);
        client.setClientId(QStringLiteral("tst_mqttclient"));
    }
};

void TestMqttClient::initTestCase()
{
    QVERIFY2(!BrokerFixture::mosquittoPath().isEmpty(), "mosquitto is not installed");
}

// Subscriptions made before the first connection are issued once it is up, and all of them
// again after the broker comes back: in call order, each filter once.
void TestMqttClient::subscriptionsWaitForConnectionAndComeBackInOrder()
{
    BrokerFixture broker;
    QVERIFY(broker.start());
    LogCapture log;

    MqttClient client;
    configure(client, broker.port());
    client.subscribe(QStringLiteral("t/a"));
    client.subscribe(QStringLiteral("t/b"), 1);
    client.subscribe(QStringLiteral("t/a"));
    QSignalSpy connected(&client, &MqttClient::connected);
    client.connect();
    QVERIFY(connected.wait());

    const QStringList expected = {
        QStringLiteral("[MqttClient] Subscribing to 't/a' with QoS = 0"),
        QStringLiteral("[MqttClient] Subscribing to 't/b' with QoS = 1"),
    };
    auto subscribeLines = [&log] {
        QStringList lines;
        for (const QString &text : log.texts()) {
            if (text.contains(QLatin1String("Subscribing")))
                lines.append(text);
        }
        return lines;
    };
    QCOMPARE(subscribeLines(), expected);

    log.clear();
    QSignalSpy disconnected(&client, &MqttClient::disconnected);
    QVERIFY(broker.restart());
    QVERIFY(disconnected.count() || disconnected.wait());
    QVERIFY(connected.wait(10000));
    QCOMPARE(subscribeLines(), expected);

    // The renewed subscriptions really deliver.
    ServiceDouble service(broker.port());
    QVERIFY(service.start());
    QSignalSpy received(&client, &MqttClient::received);
    QTRY_VERIFY(service.publish(QStringLiteral("t/b"), QByteArray("{}")) && (received.count() || received.wait(200)));
    QCOMPARE(received.first().at(1).toByteArray(), QByteArray("t/b"));
}

// A receiver of connected() that subscribes on every connection (as the controller does for
// its own topics) gets its topic issued once per connection, however many connections there
// were; a QoS change is issued again, an unsubscribed filter no more.
void TestMqttClient::subscriptionFromConnectedReceiverIsIssuedOncePerConnection()
{
    BrokerFixture broker;
    QVERIFY(broker.start());
    LogCapture log;
    MqttClient client;
    configure(client, broker.port());
    client.subscribe(QStringLiteral("early/topic"));
    connect(&client, &MqttClient::connected, &client, [&client] { client.subscribe(QStringLiteral("late/topic")); });
    QSignalSpy connected(&client, &MqttClient::connected);
    client.connect();
    QVERIFY(connected.wait());
    for (int connection = 2; connection <= 4; ++connection) {
        QVERIFY(broker.restart());
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), connection, 10000);
        QTRY_COMPARE(log.count(QStringLiteral("[MqttClient] Connected to broker 127.0.0.1")), connection);
    }
    QCOMPARE(log.count(QStringLiteral("[MqttClient] Subscribing to 'late/topic' with QoS = 0")), 4);
    QCOMPARE(log.count(QStringLiteral("[MqttClient] Subscribing to 'early/topic' with QoS = 0")), 4);

    log.clear();
    client.subscribe(QStringLiteral("early/topic"), 1);
    QCOMPARE(log.count(QStringLiteral("[MqttClient] Subscribing to 'early/topic' with QoS = 1")), 1);
    client.unsubscribe(QStringLiteral("early/topic"));
    QCOMPARE(log.count(QStringLiteral("[MqttClient] Unsubscribing from 'early/topic'")), 1);
    ServiceDouble service(broker.port());
    QVERIFY(service.start());
    QSignalSpy received(&client, &MqttClient::received);
    QTRY_VERIFY(service.publish(QStringLiteral("late/topic"), "x") && (received.count() || received.wait(100)));
    QVERIFY(service.publish(QStringLiteral("early/topic"), "x"));
    QVERIFY(service.publish(QStringLiteral("late/topic"), "y"));
    QTRY_COMPARE(received.last().at(0).toByteArray(), QByteArray("y"));
    for (const auto &message : received)
        QCOMPARE(message.at(1).toByteArray(), QByteArray("late/topic"));

    log.clear();
    QVERIFY(broker.restart());
    QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 5, 10000);
    QTRY_VERIFY(log.contains(QStringLiteral("[MqttClient] Subscribing to 'late/topic'")));
    QVERIFY(!log.contains(QStringLiteral("early/topic")));
}

// With no broker, attempts follow each other at the retry interval, each one logging the
// connection line and the configuration dump; no error stops them.
void TestMqttClient::reconnectsEveryRetryIntervalWhileBrokerIsDown()
{
    LogCapture log;
    MqttClient client;
    configure(client, BrokerFixture::freePort());
    QSignalSpy errors(&client, &MqttClient::error);
    client.connect();
    QTRY_VERIFY_WITH_TIMEOUT(log.count(QStringLiteral("[MqttClient] Connecting to host")) >= 4, 10000);
    QVERIFY(log.count(QStringLiteral("[MqttClient] Port    : ") + QString::number(0)) == 0);
    QVERIFY(log.contains(QStringLiteral("[MqttClient] Retry interval millis: 300")));
    QVERIFY(errors.count() >= 3);
    QCOMPARE(errors.first().at(0).toString(), QStringLiteral("Mqtt client error"));
    QVERIFY(log.contains(QStringLiteral("[MqttClient] Transport invalid: The underlying transport caused an error. "
                                        "For example, the connection might have been interrupted unexpectedly.")));

    // A broker that appears is found by the next attempt.
    BrokerFixture broker;
    client.setPort(broker.port());
    QVERIFY(broker.start());
    QSignalSpy connected(&client, &MqttClient::connected);
    QVERIFY(connected.wait(10000));
}

// Every change of the settings makes a connect(); with the broker away, four of them, each
// at another moment of the retry interval, still leave one attempt per interval, not a chain each.
void TestMqttClient::settingsChangesWhileBrokerIsDownKeepOneRetry()
{
    LogCapture log;
    MqttClient client;
    configure(client, BrokerFixture::freePort());
    client.connect();
    for (int edit = 1; edit <= 4; ++edit) {
        QTest::qWait(int(RetryMs) / 5);
        client.setUsername(QStringLiteral("user%1").arg(edit));
        client.connect();
    }
    QTRY_VERIFY(log.count(QStringLiteral("[MqttClient] Connecting to host")) >= 6);
    const int before = log.count(QStringLiteral("[MqttClient] Connecting to host"));
    QTest::qWait(int(RetryMs) * 10);
    const int attempts = log.count(QStringLiteral("[MqttClient] Connecting to host")) - before;
    QVERIFY2(attempts >= 5 && attempts <= 12, qPrintable(QString::number(attempts)));
}

// Publishing while not connected returns false, logs nothing and signals nothing.
void TestMqttClient::publishIsRefusedSilentlyWhileNotConnected()
{
    MqttClient client;
    QSignalSpy errors(&client, &MqttClient::error);
    LogCapture log;
    QVERIFY(!client.publish("x", QStringLiteral("a/b")));
    configure(client, BrokerFixture::freePort());
    client.connect(); // Connecting, and no broker there
    QVERIFY(!client.publish("x", QStringLiteral("a/b"), 1, true));
    QVERIFY(!log.contains(QStringLiteral("Publishing")));
    QCOMPARE(errors.count(), 0);
}

// Payloads arrive byte for byte, whatever they hold; the topic comes as UTF-8 bytes.
void TestMqttClient::receivedCarriesPayloadAndTopic()
{
    BrokerFixture broker;
    QVERIFY(broker.start());
    MqttClient client;
    configure(client, broker.port());
    const QString topic = QStringLiteral("orvo/τεστ/#");
    client.subscribe(topic);
    QSignalSpy connected(&client, &MqttClient::connected);
    client.connect();
    QVERIFY(connected.wait());

    ServiceDouble service(broker.port());
    QVERIFY(service.start());
    QSignalSpy received(&client, &MqttClient::received);
    QByteArray binary("\x00\xff{not json", 11);
    binary.append(QByteArray(1 << 20, 'x')); // a 1 MiB body passes whole
    // The subscription may still be on its way to the broker: publish until one arrives.
    QTRY_VERIFY(service.publish(QStringLiteral("orvo/τεστ/x"), binary) && (received.count() || received.wait(100)));
    QCOMPARE(received.first().at(0).toByteArray(), binary);
    QCOMPARE(received.first().at(1).toByteArray(), QStringLiteral("orvo/τεστ/x").toUtf8());
}

// Filters match as the broker matches them: "+" one level, a final "#" the rest and the level
// above it, and no leading wildcard reaches a "$" topic.
void TestMqttClient::topicMatchesFilter_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("topic");
    QTest::addColumn<bool>("matches");
    QTest::newRow("same") << "orvo/blm/status" << "orvo/blm/status" << true;
    QTest::newRow("longer topic") << "orvo/blm/status" << "orvo/blm/status/get" << false;
    QTest::newRow("shorter topic") << "orvo/blm/status" << "orvo/blm" << false;
    QTest::newRow("contains, not equal") << "orvo/blm" << "site/orvo/blm" << false;
    QTest::newRow("level prefix") << "orvo/board" << "orvo/boardx" << false;
    QTest::newRow("+ one level") << "fleet/+/status" << "fleet/K1/status" << true;
    QTest::newRow("+ not two") << "fleet/+/status" << "fleet/K1/x/status" << false;
    QTest::newRow("+ empty level") << "fleet/+/status" << "fleet//status" << true;
    QTest::newRow("+ last") << "orvo/+" << "orvo/gps" << true;
    QTest::newRow("+ needs the level") << "orvo/+" << "orvo" << false;
    QTest::newRow("# below") << "orvo/gps/#" << "orvo/gps/data/raw" << true;
    QTest::newRow("# parent") << "orvo/gps/#" << "orvo/gps" << true;
    QTest::newRow("# other base") << "orvo/gps/#" << "orvo/gpsx/data" << false;
    QTest::newRow("# alone") << "#" << "a/b" << true;
    QTest::newRow("# alone, $ topic") << "#" << "$SYS/broker/uptime" << false;
    QTest::newRow("+ first, $ topic") << "+/broker/uptime" << "$SYS/broker/uptime" << false;
    QTest::newRow("$ filter") << "$SYS/#" << "$SYS/broker/uptime" << true;
    QTest::newRow("+ and #") << "+/+/#" << "orvo/blm" << true;
}

void TestMqttClient::topicMatchesFilter()
{
    QFETCH(QString, filter);
    QFETCH(QString, topic);
    QFETCH(bool, matches);
    QCOMPARE(manager::topicMatches(filter, topic), matches);
}

// Receivers of one filter share its one subscription on the broker, which is given up when
// the last of them lets go; each message goes only to the subscriptions it matches, then to
// received().
void TestMqttClient::subscriptionsBringOnlyTheirMessages()
{
    BrokerFixture broker;
    QVERIFY(broker.start());
    LogCapture log;
    MqttClient client;
    configure(client, broker.port());
    QObject first;
    QObject second;
    MqttSubscription *exact = client.subscribe(QStringLiteral("r/a"), 0, &first);
    QCOMPARE(client.subscribe(QStringLiteral("r/a"), 0, &second), exact);
    MqttSubscription *below = client.subscribe(QStringLiteral("r/#"), 0, &second);
    QCOMPARE(below->topic(), QStringLiteral("r/#"));
    QCOMPARE(client.subscriptions(), (QStringList{QStringLiteral("r/a"), QStringLiteral("r/#")}));
    QSignalSpy exactMessages(exact, &MqttSubscription::messageReceived);
    QSignalSpy belowMessages(below, &MqttSubscription::messageReceived);
    QSignalSpy received(&client, &MqttClient::received);
    QSignalSpy connected(&client, &MqttClient::connected);
    client.connect();
    QVERIFY(connected.wait());
    QCOMPARE(log.count(QStringLiteral("[MqttClient] Subscribing to 'r/a' with QoS = 0")), 1);

    ServiceDouble service(broker.port());
    QVERIFY(service.start());
    QTRY_VERIFY(service.publish(QStringLiteral("r/a"), "1") && (exactMessages.count() || exactMessages.wait(100)));
    QCOMPARE(exactMessages.first(), (QVariantList{QByteArray("1"), QStringLiteral("r/a")}));
    QVERIFY(service.publish(QStringLiteral("r/b"), "2"));
    QTRY_COMPARE(received.last().at(0).toByteArray(), QByteArray("2"));
    for (const QVariantList &message : qAsConst(exactMessages))
        QCOMPARE(message.at(1).toString(), QStringLiteral("r/a"));
    QCOMPARE(belowMessages.last(), (QVariantList{QByteArray("2"), QStringLiteral("r/b")}));

    client.unsubscribe(QStringLiteral("r/a"), &first);
    QVERIFY(!log.contains(QStringLiteral("Unsubscribing")));
    client.unsubscribe(QStringLiteral("r/a"), &second);
    QCOMPARE(log.count(QStringLiteral("[MqttClient] Unsubscribing from 'r/a'")), 1);
    QCOMPARE(client.subscriptions(), QStringList{QStringLiteral("r/#")});
}

// Retained messages stay on the broker for later subscribers.
void TestMqttClient::retainAndQosReachTheBroker()
{
    BrokerFixture broker;
    QVERIFY(broker.start());
    MqttClient client;
    configure(client, broker.port());
    QSignalSpy connected(&client, &MqttClient::connected);
    client.connect();
    QVERIFY(connected.wait());
    QVERIFY(client.publish("{\"kept\":true}", QStringLiteral("r/t"), 1, true));

    ServiceDouble late(broker.port());
    QVERIFY(late.start());
    QVERIFY(late.subscribe(QStringLiteral("r/t")));
    QVERIFY(late.waitFor(QStringLiteral("r/t")));
    QCOMPARE(late.payloads(QStringLiteral("r/t")).first(), QByteArray("{\"kept\":true}"));
}

// A broker that refuses the credentials: the warning for the broker's refusal code, the
// generic error signal, and the attempts go on. mosquitto answers a wrong password with
// "not authorized" (code 5), which is what the line must then say.
void TestMqttClient::refusedCredentialsAreLoggedAndRetried()
{
    BrokerFixture broker({QStringLiteral("tech"), QStringLiteral("s3cret")});
    QVERIFY(broker.start());
    LogCapture log;
    MqttClient client;
    configure(client, broker.port());
    client.setUsername(QStringLiteral("tech"));
    client.setPassword(QStringLiteral("wrong"));
    QSignalSpy errors(&client, &MqttClient::error);
    client.connect();
    const QString line = QStringLiteral("[MqttClient] Not authorized: tst_mqttclient. "
                                        "The client is not authorized to connect.");
    QTRY_VERIFY_WITH_TIMEOUT(log.count(line) >= 2, 10000);
    QCOMPARE(errors.first().at(0).toString(), QStringLiteral("Mqtt client error"));
    QVERIFY(log.count(QStringLiteral("[MqttClient] Connecting to host")) >= 2);
    QVERIFY(client.state() != MqttTransport::Connected);
}

void TestMqttClient::rightCredentialsConnect()
{
    BrokerFixture broker({QStringLiteral("tech"), QStringLiteral("s3cret")});
    QVERIFY(broker.start());
    MqttClient client;
    configure(client, broker.port());
    client.setUsername(QStringLiteral("tech"));
    client.setPassword(QStringLiteral("s3cret"));
    QSignalSpy connected(&client, &MqttClient::connected);
    client.connect();
    QVERIFY(connected.wait());
}

// When the connection breaks without a clean disconnect, the broker hands the last will,
// retained, to the other clients.
void TestMqttClient::lastWillReachesOthersOnUnexpectedLoss()
{
    BrokerFixture broker;
    QVERIFY(broker.start());
    ServiceDouble watcher(broker.port(), QStringLiteral("watcher"));
    QVERIFY(watcher.start());
    QVERIFY(watcher.subscribe(QStringLiteral("orvo/ui/status")));

    {
        MqttClient client;
        configure(client, broker.port());
        client.setWillTopic(QStringLiteral("orvo/ui/status"));
        client.setWillMessage("{\"service\": false}");
        QSignalSpy connected(&client, &MqttClient::connected);
        client.connect();
        QVERIFY(connected.wait());
    } // destroyed without a DISCONNECT packet, as a crash would leave it

    QVERIFY(watcher.waitFor(QStringLiteral("orvo/ui/status")));
    QCOMPARE(watcher.payloads(QStringLiteral("orvo/ui/status")).first(), QByteArray("{\"service\": false}"));

    // Retained: a client that subscribes later is told too.
    ServiceDouble late(broker.port(), QStringLiteral("late"));
    QVERIFY(late.start());
    QVERIFY(late.subscribe(QStringLiteral("orvo/ui/status")));
    QVERIFY(late.waitFor(QStringLiteral("orvo/ui/status")));
}

// A peer that accepts the TCP connection but never answers: the watchdog closes the
// transport after the retry interval and the attempts go on.
void TestMqttClient::watchdogEndsHungAttempt()
{
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    LogCapture log;
    MqttClient client;
    configure(client, silent.serverPort());
    client.connect();
    QTRY_VERIFY_WITH_TIMEOUT(log.count(QStringLiteral("[MqttClient] Connecting to host")) >= 3, 10000);
    QVERIFY(log.contains(QStringLiteral("[MqttClient] Transport invalid: ")));
    QVERIFY(log.count(QStringLiteral("[MqttClient] State is Connecting.")) >= 3);
}

// A host name is looked up beside the event loop, never inside the connect call: "localhost"
// connects; a name that does not resolve is logged and tried again like a refused connection.
void TestMqttClient::hostNamesAreLookedUpAside()
{
    BrokerFixture broker;
    QVERIFY(broker.start());
    LogCapture log;
    MqttClient client;
    configure(client, broker.port());
    client.setHostname(QStringLiteral("localhost"));
    QSignalSpy connected(&client, &MqttClient::connected);
    client.connect();
    QCOMPARE(client.state(), MqttTransport::Connecting);
    QVERIFY(connected.wait());

    MqttClient lost;
    configure(lost, broker.port());
    lost.setHostname(QStringLiteral("no-such-broker.invalid"));
    lost.connect();
    QTRY_VERIFY_WITH_TIMEOUT(
        log.texts().filter(QStringLiteral("[MqttClient] Host lookup failed : no-such-broker.invalid (")).size() >= 2, 10000);
    QVERIFY(log.contains(QStringLiteral("[MqttClient] Transport invalid: ")));
}

// A host with two addresses whose first one fails, at once or only after the connect is under
// way (a refusal that a non-blocking connect hears late, a peer that closes before the broker's
// answer, one that never answers until the watchdog's time-out): the next one is tried.
void TestMqttClient::deadFirstAddressGivesWayToTheNext_data()
{
    QTest::addColumn<int>("firstAddress");
    QTest::newRow("nothing listens") << 0;
    QTest::newRow("closes at once") << 1;
    QTest::newRow("never answers") << 2;
}

void TestMqttClient::deadFirstAddressGivesWayToTheNext()
{
    QFETCH(int, firstAddress);
    BrokerFixture broker;
    QVERIFY(broker.start());
    QTcpServer first;
    if (firstAddress > 0)
        QVERIFY(first.listen(QHostAddress(QStringLiteral("127.0.0.2")), broker.port()));
    if (firstAddress == 1)
        QObject::connect(&first, &QTcpServer::newConnection, &first, [&first] { delete first.nextPendingConnection(); });
    MqttTransport::setHostTable({{QStringLiteral("two.test"), {QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.1")}}});
    MqttClient client;
    configure(client, broker.port());
    client.setHostname(QStringLiteral("two.test"));
    QSignalSpy connected(&client, &MqttClient::connected);
    client.connect();
    const bool up = connected.wait(5000);
    MqttTransport::setHostTable({});
    QVERIFY(up);
}

// connect() while connected applies new settings: the client moves to the other broker.
void TestMqttClient::connectAgainMovesToNewSettings()
{
    BrokerFixture first;
    BrokerFixture second;
    QVERIFY(first.start());
    QVERIFY(second.start());
    MqttClient client;
    configure(client, first.port());
    client.subscribe(QStringLiteral("s/#"));
    QSignalSpy connected(&client, &MqttClient::connected);
    client.connect();
    QVERIFY(connected.wait());

    client.setPort(second.port());
    client.connect();
    QTRY_COMPARE(connected.count(), 2);
    QTRY_COMPARE(client.state(), MqttTransport::Connected);

    ServiceDouble service(second.port());
    QVERIFY(service.start());
    QSignalSpy received(&client, &MqttClient::received);
    QTRY_VERIFY(service.publish(QStringLiteral("s/1"), "x") && (received.count() || received.wait(100)));
    // The pending reconnect of the first session does not start a third one.
    QTest::qWait(int(RetryMs) * 2);
    QCOMPARE(connected.count(), 2);
}

// Not even the debug configuration dump carries the password.
void TestMqttClient::passwordIsNeverLogged()
{
    BrokerFixture broker({QStringLiteral("tech"), QStringLiteral("pa55-word")});
    QVERIFY(broker.start());
    LogCapture log;
    MqttClient client;
    configure(client, broker.port());
    client.setUsername(QStringLiteral("tech"));
    client.setPassword(QStringLiteral("pa55-word"));
    QSignalSpy connected(&client, &MqttClient::connected);
    client.connect();
    QVERIFY(connected.wait());
    QVERIFY(log.contains(QStringLiteral("[MqttClient] Username: tech")));
    QVERIFY(!log.contains(QStringLiteral("pa55-word")));
}

QTEST_GUILESS_MAIN(TestMqttClient)
#include "tst_mqttclient.moc"
