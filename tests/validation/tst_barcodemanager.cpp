#include "brokerfixture.h"
#include "logcapture.h"
#include "servicedouble.h"
#include "waituntil.h"

#include "mqtt/mqttclient.h"
#include "validation/barcodemanager.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

using manager::BarcodeManager;
using manager::MqttClient;

namespace {

const QString Base = QStringLiteral("orvo/barcode");

// A barcode reader proxy on its own client, and a double of the reader service.
class Harness
{
public:
    explicit Harness(quint16 port)
        : service(port, QStringLiteral("barcode-service-double"))
    {
        client.setHostname(QStringLiteral("127.0.0.1"));
        client.setPort(port);
        client.setClientId(QStringLiteral("tst_barcodemanager"));
        barcode = std::make_unique<BarcodeManager>(client, Base);
    }

    bool start()
    {
        QSignalSpy connected(&client, &MqttClient::connected);
        client.connect();
        if (!connected.wait(5000) || !service.start() || !service.subscribe(Base + QStringLiteral("/#")))
            return false;
        return sync();
    }

    // Round-trips a scanned marker: what the service published before it has been handled.
    bool sync()
    {
        const QString marker = QStringLiteral("sync-%1").arg(++m_syncs);
        bool seen = false;
        const auto connection = QObject::connect(barcode.get(), &BarcodeManager::barcodeScanned,
                                                 [&](const QString &data) { seen = seen || data == marker; });
        // Sent again only after a pause, so that few extra markers trail behind.
        bool ok = false;
        for (int attempt = 0; attempt < 20 && !ok; ++attempt) {
            service.publish(Base + QStringLiteral("/barcode"), QJsonObject{{"data", marker}});
            ok = waitUntil([&] { return seen; }, 250);
        }
        QObject::disconnect(connection);
        return ok;
    }

    bool send(const QString &suffix, const QByteArray &payload)
    {
        return service.publish(Base + suffix, payload) && sync();
    }

    MqttClient client;
    std::unique_ptr<BarcodeManager> barcode;
    ServiceDouble service;

private:
    int m_syncs = 0;
};

} // namespace

class TestBarcodeManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void statusRules_data();
    void statusRules();
    void repeatedStatusEmitsOnce();
    void infoIsKept();
    void everyScanIsForwarded();
    void commandsPublishEmptyPayloads();
    void badJsonOnOwnTopicsChangesNothing_data();
    void badJsonOnOwnTopicsChangesNothing();
    void otherTopicsAreNotParsed();

private:
    BrokerFixture m_broker;
};

void TestBarcodeManager::initTestCase()
{
    QVERIFY2(!BrokerFixture::mosquittoPath().isEmpty(), "mosquitto is not installed");
    QVERIFY(m_broker.start());
}

void TestBarcodeManager::statusRules_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("status");
    QTest::newRow("enabled") << QByteArray(R"({"service": true, "device": {"active": true, "enabled": true}})")
                             << "enabled";
    QTest::newRow("disabled") << QByteArray(R"({"service": true, "device": {"active": true, "enabled": false}})")
                              << "disabled";
    QTest::newRow("not active") << QByteArray(R"({"service": true, "device": {"active": false, "enabled": true}})")
                                << "error";
    QTest::newRow("no device") << QByteArray(R"({"service": true})") << "error";
    QTest::newRow("service down") << QByteArray(R"({"service": false, "device": {"active": true, "enabled": true}})")
                                  << "offline";
    QTest::newRow("service missing") << QByteArray(R"({"device": {"active": true, "enabled": true}})") << "offline";
    QTest::newRow("array") << QByteArray("[true]") << "offline";
}

// The service flag decides "offline", then the reader's active flag "error", then enabled or not.
void TestBarcodeManager::statusRules()
{
    QFETCH(QByteArray, message);
    QFETCH(QString, status);
    Harness harness(m_broker.port());
    QVERIFY(harness.start());
    QSignalSpy changed(harness.barcode.get(), &BarcodeManager::statusChanged);
    QVERIFY(harness.send("/status", message));
    QCOMPARE(harness.barcode->status(), status);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.first().at(0).toString(), status);
}

// A repeated status is logged and announced once.
void TestBarcodeManager::repeatedStatusEmitsOnce()
{
    Harness harness(m_broker.port());
    QVERIFY(harness.start());
    QSignalSpy changed(harness.barcode.get(), &BarcodeManager::statusChanged);
    QTest::ignoreMessage(QtWarningMsg, "Barcode status is : disabled");
    const QByteArray disabled = R"({"service": true, "device": {"active": true, "enabled": false}})";
    QVERIFY(harness.send("/status", disabled));
    QVERIFY(harness.send("/status", disabled));
    QCOMPARE(changed.count(), 1);
}

// Identification is kept from the info message; `info()` gives the firmware.
void TestBarcodeManager::infoIsKept()
{
    Harness harness(m_broker.port());
    QVERIFY(harness.start());
    QVERIFY(harness.send("/info", R"({"device": {"firmware": "B-7", "manufacturer": "Scan", "model": "Q2"},
        "service": {"version": "1.3", "type": "2d"}})"));
    QCOMPARE(harness.barcode->info(), QString("B-7"));
    QCOMPARE(harness.barcode->manufacturer(), QString("Scan"));
    QCOMPARE(harness.barcode->model(), QString("Q2"));
    QCOMPARE(harness.barcode->version(), QString("1.3"));
    QCOMPARE(harness.barcode->type(), QString("2d"));
}

// Every scanned code is handed on as text, repeats included; a missing "data" gives "".
void TestBarcodeManager::everyScanIsForwarded()
{
    Harness harness(m_broker.port());
    QVERIFY(harness.start());
    QStringList scans;
    connect(harness.barcode.get(), &BarcodeManager::barcodeScanned, this, [&](const QString &data) {
        if (!data.startsWith("sync-"))
            scans << data;
    });
    QVERIFY(harness.send("/barcode", R"({"data": "TKT-1"})"));
    QVERIFY(harness.send("/barcode", R"({"data": "TKT-1"})"));
    QVERIFY(harness.send("/barcode", R"({"data": 42})"));
    QCOMPARE(scans, QStringList({"TKT-1", "TKT-1", ""}));
}

// Enable and disable publish empty payloads, and their echo is not taken for a bad message.
void TestBarcodeManager::commandsPublishEmptyPayloads()
{
    Harness harness(m_broker.port());
    QVERIFY(harness.start());
    LogCapture log;
    QVERIFY(harness.barcode->enable());
    QVERIFY(harness.barcode->disable());
    QVERIFY(harness.service.waitFor(Base + "/disable"));
    QCOMPARE(harness.service.payloads(Base + "/enable"), QList<QByteArray>({QByteArray()}));
    QCOMPARE(harness.service.payloads(Base + "/disable"), QList<QByteArray>({QByteArray()}));
    QVERIFY(harness.sync());
    QVERIFY(!log.contains("Failed to parse JSON message"));
}

void TestBarcodeManager::badJsonOnOwnTopicsChangesNothing_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("status") << "/status" << QByteArray(R"({"service": fal)");
    QTest::newRow("status, empty") << "/status" << QByteArray();
    QTest::newRow("info") << "/info" << QByteArray(R"({"device": {"firmware": "X")");
    QTest::newRow("barcode") << "/barcode" << QByteArray(R"({"data": "TKT)");
}

// An unparsable message on one of the three topics read is logged with its raw payload and dropped.
void TestBarcodeManager::badJsonOnOwnTopicsChangesNothing()
{
    QFETCH(QString, suffix);
    QFETCH(QByteArray, payload);
    Harness harness(m_broker.port());
    QVERIFY(harness.start());
    QVERIFY(harness.send("/status", R"({"service": true, "device": {"active": true, "enabled": true}})"));
    QVERIFY(harness.send("/info", R"({"device": {"firmware": "B-7"}})"));
    QSignalSpy changed(harness.barcode.get(), &BarcodeManager::statusChanged);
    QStringList scans;
    connect(harness.barcode.get(), &BarcodeManager::barcodeScanned, this, [&](const QString &data) {
        if (!data.startsWith("sync-"))
            scans << data;
    });

    QTest::ignoreMessage(QtCriticalMsg, ("Failed to parse JSON message: " + payload).constData());
    QVERIFY(harness.send(suffix, payload));
    QCOMPARE(harness.barcode->status(), QString("enabled"));
    QCOMPARE(harness.barcode->info(), QString("B-7"));
    QCOMPARE(changed.count(), 0);
    QCOMPARE(scans, QStringList());
}

// Topics outside the base, and other topics below it, are not parsed.
void TestBarcodeManager::otherTopicsAreNotParsed()
{
    Harness harness(m_broker.port());
    QVERIFY(harness.start());
    harness.client.subscribe("orvo/blm/#");
    QSignalSpy received(&harness.client, &MqttClient::received);
    LogCapture log;
    QVERIFY(waitUntil([&] {
        harness.service.publish("orvo/blm/barcode/status", QByteArray("{bad"));
        return received.count() > 0;
    }));
    QVERIFY(harness.send("/statistics", "{bad"));
    QVERIFY(!log.contains("Failed to parse JSON message"));
    QCOMPARE(harness.barcode->status(), QString());
}

QTEST_GUILESS_MAIN(TestBarcodeManager)
#include "tst_barcodemanager.moc"
