#include "brokerfixture.h"
#include "logcapture.h"
#include "pki.h"
#include "servicedouble.h"
#include "waituntil.h"

#include "mqtt/mqttclient.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using manager::MqttClient;
using manager::MqttTransport;

namespace {
constexpr unsigned RetryMs = 300;

// A listener that wants a certificate of our CA from every client.
QByteArray tlsListener(const QString &ca, const Pki::Files &server)
{
    return QStringLiteral("cafile %1\ncertfile %2\nkeyfile %3\nrequire_certificate true\nuse_identity_as_username true\n")
            .arg(ca, server.cert, server.key)
            .toUtf8();
}
} // namespace

// The broker connection over TLS, as the depot console and the bridges use it.
class TestFleetTls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void connectsOnlyWithTrustOnBothSides_data();
    void connectsOnlyWithTrustOnBothSides();
    void burstOverTlsArrivesWhole();

private:
    std::unique_ptr<Pki> m_pki;
    std::unique_ptr<Pki> m_rogue;
    std::unique_ptr<BrokerFixture> m_named;    // certificate for 127.0.0.1
    std::unique_ptr<BrokerFixture> m_misnamed; // certificate for another host
    Pki::Files m_client;
    Pki::Files m_rogueClient;
    QString m_lockedKey;
};

void TestFleetTls::initTestCase()
{
    QVERIFY2(!BrokerFixture::mosquittoPath().isEmpty(), "mosquitto is not installed");
    QVERIFY2(Pki::opensslFound(), "openssl is not installed");
    m_pki = std::make_unique<Pki>();
    m_rogue = std::make_unique<Pki>(QStringLiteral("rogue"));
    QVERIFY(m_pki->isValid() && m_rogue->isValid());
    m_client = m_pki->client(QStringLiteral("K0001"));
    m_rogueClient = m_rogue->client(QStringLiteral("K0001"));
    QVERIFY(!m_client.cert.isEmpty() && !m_rogueClient.cert.isEmpty());

    m_named = std::make_unique<BrokerFixture>(tlsListener(m_pki->caFile(), m_pki->server()));
    m_misnamed = std::make_unique<BrokerFixture>(tlsListener(m_pki->caFile(), m_pki->server("DNS:depot.invalid")));
    QVERIFY(m_named->start() && m_misnamed->start());

    // The same key, locked with a pass phrase nobody will type.
    m_lockedKey = m_pki->path(QStringLiteral("locked.key"));
    QCOMPARE(QProcess::execute(QStringLiteral("openssl"),
                               {"ec", "-in", m_client.key, "-out", m_lockedKey, "-aes256", "-passout", "pass:secret"}),
             0);
}

// The client connects only with the broker's CA, its own certificate of that CA, and the
// broker's name in the broker's certificate; otherwise it is refused and keeps trying.
void TestFleetTls::connectsOnlyWithTrustOnBothSides_data()
{
    QTest::addColumn<bool>("misnamed");
    QTest::addColumn<QString>("ca");
    QTest::addColumn<QString>("client");
    QTest::addColumn<bool>("insecure");
    QTest::addColumn<bool>("connects");

    QTest::newRow("trusted both ways") << false << "ours" << "ours" << false << true;
    QTest::newRow("client certificate of another CA") << false << "ours" << "rogue" << false << false;
    QTest::newRow("no client certificate") << false << "ours" << "none" << false << false;
    QTest::newRow("broker certificate of another CA") << false << "rogue" << "ours" << false << false;
    QTest::newRow("CA file missing") << false << "missing" << "ours" << false << false;
    QTest::newRow("key locked with a pass phrase") << false << "ours" << "locked" << false << false;
    QTest::newRow("broker certificate for another name") << true << "ours" << "ours" << false << false;
    QTest::newRow("another name, name check off") << true << "ours" << "ours" << true << true;
}

void TestFleetTls::connectsOnlyWithTrustOnBothSides()
{
    QFETCH(bool, misnamed);
    QFETCH(QString, ca);
    QFETCH(QString, client);
    QFETCH(bool, insecure);
    QFETCH(bool, connects);

    MqttTransport::TlsSettings tls;
    tls.caFile = ca == "ours" ? m_pki->caFile() : ca == "rogue" ? m_rogue->caFile() : m_pki->path("missing.crt");
    if (client != "none") {
        const Pki::Files &files = client == "rogue" ? m_rogueClient : m_client;
        tls.certFile = files.cert;
        tls.keyFile = client == "locked" ? m_lockedKey : files.key;
    }
    tls.insecure = insecure;

    LogCapture log;
    MqttClient mqtt;
    mqtt.setHostname(QStringLiteral("127.0.0.1"));
    mqtt.setPort((misnamed ? m_misnamed : m_named)->port());
    mqtt.setRetryMillis(RetryMs);
    mqtt.setClientId(QStringLiteral("tst_fleettls"));
    mqtt.setTls(tls);
    QSignalSpy connected(&mqtt, &MqttClient::connected);
    QSignalSpy errors(&mqtt, &MqttClient::error);
    mqtt.connect();

    if (connects) {
        QVERIFY(connected.wait(5000));
        return;
    }
    // Refused, and tried again: a wrong certificate is no reason to give up on the broker.
    QVERIFY(waitUntil([&] { return log.count(QStringLiteral("[MqttClient] Connecting to host")) >= 3; }, 10000));
    QCOMPARE(connected.count(), 0);
    QVERIFY(errors.count() >= 1);
    QCOMPARE(errors.first().at(0).toString(), QStringLiteral("Mqtt client error"));
}

// TLS records can hold several messages at once; all of a burst is handed on without
// waiting for more traffic.
void TestFleetTls::burstOverTlsArrivesWhole()
{
    constexpr int Burst = 500;
    MqttTransport::TlsSettings tls;
    tls.caFile = m_pki->caFile();
    tls.certFile = m_client.cert;
    tls.keyFile = m_client.key;

    MqttClient mqtt;
    mqtt.setHostname(QStringLiteral("127.0.0.1"));
    mqtt.setPort(m_named->port());
    mqtt.setClientId(QStringLiteral("tst_fleettls-receiver"));
    mqtt.setTls(tls);
    mqtt.subscribe(QStringLiteral("fleet/K0001/#"));
    QSignalSpy connected(&mqtt, &MqttClient::connected);
    QSignalSpy received(&mqtt, &MqttClient::received);
    mqtt.connect();
    QVERIFY(connected.wait(5000));

    ServiceDouble sender(m_named->port(), QStringLiteral("tst_fleettls-sender"));
    sender.transport().setTls(tls);
    QVERIFY(sender.start());
    // The subscription is issued after connected(); a first message shows it is in place.
    QTRY_VERIFY_WITH_TIMEOUT(sender.publish("fleet/K0001/probe", "x") && (received.count() || received.wait(100)), 5000);
    const QString topic = QStringLiteral("fleet/K0001/orvo/ui/status");
    const auto burst = [&] {
        QList<QByteArray> payloads;
        for (const QList<QVariant> &args : received) {
            if (args.at(1).toByteArray() == topic.toUtf8())
                payloads << args.at(0).toByteArray();
        }
        return payloads;
    };
    for (int i = 0; i < Burst; ++i)
        QVERIFY(sender.publish(topic, QByteArray::number(i)));
    QTRY_COMPARE_WITH_TIMEOUT(burst().size(), Burst, 10000);
    QCOMPARE(burst().last(), QByteArray::number(Burst - 1));
}

QTEST_GUILESS_MAIN(TestFleetTls)
#include "tst_fleettls.moc"
