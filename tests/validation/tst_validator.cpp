#include "brokerfixture.h"
#include "logcapture.h"
#include "servicedouble.h"
#include "waituntil.h"

#include "mqtt/jsonmessage.h"
#include "mqtt/mqttclient.h"
#include "validation/sam.h"
#include "validation/validator.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using manager::MqttClient;
using manager::Validator;

namespace {

// Short enough for a quick reconnection after the broker comes back.
constexpr unsigned RetryMs = 200;
const QString Base = QStringLiteral("orvo/blm");

QJsonObject json(const QByteArray &text)
{
    return QJsonDocument::fromJson(text).object();
}

// A validator proxy on its own client, and a double of the validation service that records
// everything published below "orvo/".
class Harness
{
public:
    explicit Harness(quint16 port)
        : service(port, QStringLiteral("validation-service-double"))
    {
        client.setHostname(QStringLiteral("127.0.0.1"));
        client.setPort(port);
        client.setRetryMillis(RetryMs);
        client.setClientId(QStringLiteral("tst_validator"));
        validator = std::make_unique<Validator>(client, Base);
    }

    // Connects both sides; once a card-found message gets through, every subscription is in
    // place, since the card-found one is issued last.
    bool start()
    {
        QSignalSpy connected(&client, &MqttClient::connected);
        client.connect();
        if (!connected.wait(5000) || !service.start() || !service.subscribe(QStringLiteral("orvo/#")))
            return false;
        return sync();
    }

    // Round-trips a marker through the proxy: everything the service published before it has
    // been handled once it comes back.
    bool sync()
    {
        const QString marker = QStringLiteral("sync-%1").arg(++m_syncs);
        bool seen = false;
        const auto connection = QObject::connect(validator.get(), &Validator::cardDetected,
                                                 [&](const QString &uid) { seen = seen || uid == marker; });
        // Sent again only after a pause, so that few extra markers trail behind.
        bool ok = false;
        for (int attempt = 0; attempt < 20 && !ok; ++attempt) {
            service.publish(QStringLiteral("orvo/rfid/card/found"), QJsonObject{{"uid", marker}});
            ok = waitUntil([&] { return seen; }, 250);
        }
        QObject::disconnect(connection);
        return ok;
    }

    // Publishes and waits until the proxy has handled the message.
    bool send(const QString &suffix, const QByteArray &payload)
    {
        return service.publish(Base + suffix, payload) && sync();
    }

    MqttClient client;
    std::unique_ptr<Validator> validator;
    ServiceDouble service;

private:
    int m_syncs = 0;
};

const QByteArray OnlineStatus = R"({"service": true, "obu": {"vehicleUuid": "V-17"}, "route": {"axisName": "Line 4"},
    "device": {"rfid": {"state": 2, "active": true}, "barcode": {"active": true, "enabled": true}},
    "state": {"init": false, "hasRfid": true, "hasRoute": true, "hasQr": true, "hasObu": true, "hasNtp": true}})";

// Everything the proxy shows, to compare before and after a message that must change nothing.
QVariantMap snapshot(Validator &validator)
{
    return {
        {"status", validator.status()},
        {"reason", validator.reason()},
        {"code", validator.reasonCode()},
        {"version", validator.version()},
        {"route", validator.route()},
        {"vehicle", validator.vehicle()},
        {"obuUrl", validator.config()->obuUrl().toString()},
        {"passbackSecs", validator.config()->passbackSecs()},
        {"passbackQr", validator.config()->passbackQrEnabled()},
        {"rfidState", validator.rfid()->state()},
        {"rfidActive", validator.rfid()->active()},
        {"rfidFirmware", validator.rfid()->firmware()},
        {"rfidSlots", validator.rfid()->numberOfSlots()},
        {"sam", QVariant::fromValue(static_cast<void *>(validator.rfid()->sam()))},
        {"barcodeEnabled", validator.barcode()->enabled()},
        {"barcodeFirmware", validator.barcode()->firmware()},
    };
}

// Counts every signal of the proxy and of its records.
class SignalCounter : public QObject
{
public:
    explicit SignalCounter(Validator &validator)
    {
        watch(&validator);
        watch(validator.config());
        watch(validator.barcode());
        watch(validator.rfid());
    }
    // Signals fired, apart from cardDetected (the sync markers) and any listed.
    QStringList fired(const QStringList &except = {}) const
    {
        QStringList names;
        for (const auto &spy : m_spies) {
            if (spy.second->count() && spy.first != "cardDetected" && !except.contains(spy.first))
                names << spy.first;
        }
        return names;
    }

private:
    void watch(QObject *object)
    {
        const QMetaObject *meta = object->metaObject();
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            const QMetaMethod method = meta->method(i);
            if (method.methodType() == QMetaMethod::Signal)
                m_spies.append({QString::fromLatin1(method.name()),
                                std::make_shared<QSignalSpy>(object, QByteArray("2" + method.methodSignature()).constData())});
        }
    }
    QList<QPair<QString, std::shared_ptr<QSignalSpy>>> m_spies;
};

} // namespace

class TestValidator : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void statusDecision_data();
    void statusDecision();
    void serviceDownKeepsVehicleAndRoute();
    void repeatedStatusChangesNothing();
    void statusIsSetBeforeReason();
    void mqttLossGoesOfflineUntilNextStatus();
    void infoFeedsRecordsAndVersion();
    void configBuildsUrl_data();
    void configBuildsUrl();
    void configLogLinesLeaveOutThePassword();
    void saveConfigPublishesTheRecord();
    void refreshConfigAsksTheService();
    void readerCommandsFollowTheRecords_data();
    void readerCommandsFollowTheRecords();
    void cardFoundNamesTheType();
    void cardTypeNames_data();
    void cardTypeNames();
    void cardRemovedIgnoresThePayload();
    void retryNeedsAParsablePayload();
    void scannedResultReachesReceiversAsOwnCopy_data();
    void scannedResultReachesReceiversAsOwnCopy();
    void maintenanceBarcodeIsHandedOn();
    void statusReplacesSamsWithoutDangling();
    void badJsonChangesNothing_data();
    void badJsonChangesNothing();
    void foreignTopicsAreNotParsed();
    void randomPayloadsNeitherCrashNorChangeState();

private:
    BrokerFixture m_broker;
};

void TestValidator::initTestCase()
{
    QVERIFY2(!BrokerFixture::mosquittoPath().isEmpty(), "mosquitto is not installed");
    QVERIFY(m_broker.start());
}

void TestValidator::statusDecision_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("code");

    auto row = [](const char *name, const char *state, const char *status, const char *reason, const char *code,
                  const char *rfidState = "2") {
        QTest::newRow(name) << QByteArray(R"({"service": true, "device": {"rfid": {"state": )") + rfidState
                                   + R"(}}, "state": )" + state + "}"
                            << status << reason << code;
    };
    row("all available, no hasNtp",
        R"({"init": false, "hasRfid": true, "hasRoute": true, "hasQr": true, "hasObu": true})", "online", "", "");
    row("no OBC, no barcode",
        R"({"hasRfid": true, "hasRoute": true, "hasQr": false, "hasObu": false})", "degraded",
        "OBC lost,Barcode not operational", "#0005");
    row("no barcode", R"({"hasRfid": true, "hasRoute": true, "hasQr": false, "hasObu": true})", "degraded",
        "Barcode not operational", "#0005");
    row("no OBC", R"({"hasRfid": true, "hasRoute": true, "hasQr": true})", "degraded", "OBC lost", "#0005");
    row("no route", R"({"hasRfid": true, "hasRoute": false, "hasQr": true, "hasObu": true})", "out-of-service",
        "No route", "#0006");
    row("clock beats route", R"({"hasRfid": true, "hasNtp": false, "hasRoute": false, "hasQr": false})", "offline",
        "NTP not synchronized", "#0007");
    row("hasNtp not a bool", R"({"hasRfid": true, "hasNtp": null, "hasRoute": true, "hasQr": true, "hasObu": true})",
        "offline", "NTP not synchronized", "#0007");
    row("reader beats clock", R"({"hasRfid": false, "hasNtp": false})", "offline", "RFID is not operational", "#0004");
    row("reader updating", R"({"hasRfid": false})", "offline", "RFID firmware is updating", "#0003", "4");
    row("reader in error", R"({"hasRfid": false})", "offline", "RFID is not operational", "#0004", "5");
    row("hasRfid as text", R"({"hasRfid": "true", "hasRoute": true, "hasQr": true, "hasObu": true})", "offline",
        "RFID is not operational", "#0004");
    row("init beats everything", R"({"init": true, "hasRfid": false, "hasNtp": false})", "init", "", "");
    row("state not an object", R"([1, 2])", "offline", "RFID is not operational", "#0004");
    QTest::newRow("no state at all") << QByteArray(R"({"service": true})") << "offline" << "RFID is not operational"
                                     << "#0004";
    QTest::newRow("service down beats init")
            << QByteArray(R"({"service": false, "state": {"init": true}})") << "offline" << "BLM service down" << "#0002";
    QTest::newRow("service as text") << QByteArray(R"({"service": "true", "state": {"init": true}})") << "offline"
                                     << "BLM service down" << "#0002";
    QTest::newRow("empty payload") << QByteArray() << "offline" << "BLM service down" << "#0002";
}

// A status message sets status, reason and code by the first rule that applies.
void TestValidator::statusDecision()
{
    QFETCH(QByteArray, message);
    QFETCH(QString, status);
    QFETCH(QString, reason);
    QFETCH(QString, code);
    Harness harness(m_broker.port());
    QVERIFY(harness.start());
    QSignalSpy statusChanged(harness.validator.get(), &Validator::statusChanged);
    QVERIFY(harness.send("/status", message));
    QCOMPARE(harness.validator->status(), status);
    QCOMPARE(harness.validator->reason(), reason);
    QCOMPARE(harness.validator->reasonCode(), code);
    QCOMPARE(statusChanged.count(), 1);
}

// With the service down, vehicle and route keep what the last running status said.
void TestValidator::serviceDownKeepsVehicleAndRoute()
{
    Harness harness(m_broker.port());
    QVERIFY(harness.start());
    QVERIFY(harness.send("/status", OnlineStatus));
    QCOMPARE(harness.validator->vehicle(), QString("V-17"));
    QCOMPARE(harness.validator->route(), QString("Line 4"));
    SignalCounter signalsFired(*harness.validator);
    QVERIFY(harness.send("/status", R"({"service": false, "obu": {"vehicleUuid": "V-99"}, "route": {"axisName": "X"}})"));
    QCOMPARE(harness.validator->status(), QString("offline"));
    QCOMPARE(harness.validator->vehicle(), QString("V-17"));
    QCOMPARE(harness.validator->route(), QString("Line 4"));
    QCOMPARE(signalsFired.fired(), QStringList({"statusChanged", "reasonChanged"}));
}

// The same status twice announces each property once; the second changes nothing.
void TestValidator::repeatedStatusChangesNothing()
{
    Harness harness(m_broker.port());
    QVERIFY(harness.start());
    const QByteArray degraded = R"({"service": true, "obu": {"vehicleUuid": "V-17"}, "route": {"axisName": "Line 4"},
        "state": {"hasRfid": true, "hasRoute": true, "hasQr": false, "hasObu": true}})";
    QSignalSpy status(harness.validator.get(), &Validator::statusChanged);
    QSignalSpy reason(harness.validator.get(), &Validator::reasonChanged);
    QSignalSpy vehicle(harness.validator.get(), &Validator::vehicleChanged);
    QSignalSpy route(harness.validator.get(), &Validator::routeChanged);
    QTest::ignoreMessage(QtWarningMsg, "[Validator] Validator status is : degraded");
    QVERIFY(harness.send("/status", degraded));
    QVERIFY(harness.send("/status", degraded));
    QCOMPARE(status.count(), 1);
    QCOMPARE(reason.count(), 1);
    QCOMPARE(vehicle.count(), 1);
    QCOMPARE(route.count(), 1);
}

// Receivers of statusChanged still see the previous reason; the new one follows.
void TestValidator::statusIsSetBeforeReason()
{
    Harness harness(m_broker.port());
    QVERIFY(harness.start());
    QVERIFY(harness.send("/status", R"({"service": false})"));
    QString reasonAtStatus;
    connect(harness.validator.get(), &Validator::statusChanged, this,
            [&] { reasonAtStatus = harness.validator->reasonCode(); });
    QVERIFY(harness.send("/status", R"({"service": true, "state": {"hasRfid": true, "hasRoute": false}})"));
    QCOMPARE(reasonAtStatus, QString("#0002"));
    QCOMPARE(harness.validator->reasonCode(), QString("#0006"));
}

// Losing the broker forces "offline"/"#0001" until the first status after reconnection.
void TestValidator::mqttLossGoesOfflineUntilNextStatus()
{
    BrokerFixture broker;
    QVERIFY(broker.start());
    auto harness = std::make_unique<Harness>(broker.port());
    QVERIFY(harness->start());
    QVERIFY(harness->send("/status", OnlineStatus));
    QCOMPARE(harness->validator->status(), QString("online"));

    QSignalSpy connected(&harness->client, &MqttClient::connected);
    broker.kill();
    QTRY_COMPARE(harness->validator->status(), QString("offline"));
    QCOMPARE(harness->validator->reason(), QString("MQTT Disconnected"));
    QCOMPARE(harness->validator->reasonCode(), QString("#0001"));

    QVERIFY(broker.start());
    QVERIFY(connected.count() || connected.wait(5000));
    QCOMPARE(harness->validator->reasonCode(), QString("#0001"));
    ServiceDouble service(broker.port(), QStringLiteral("validation-service-after"));
    QVERIFY(service.start());
    QVERIFY(waitUntil([&] {
        service.publish(Base + "/status", OnlineStatus);
        return harness->validator->status() == QLatin1String("online");
    }));
    QCOMPARE(harness->validator->reasonCode(), QString());
}

// The info message feeds both reader records and the service version.
void TestValidator::infoFeedsRecordsAndVersion()
{
    Harness harness(m_broker.port());
    QVERIFY(harness.start());
    QSignalSpy version(harness.validator.get(), &Validator::versionChanged);
    const QByteArray info = R"({"service": {"version": "2.4.1"}, "device": {
        "rfid": {"firmware": "3.1", "model": "R1", "manufacturer": "Acme", "uid": "04AB"},
        "barcode": {"firmware": "B-7", "model": "Q2", "manufacturer": "Scan"}}})";
    QVERIFY(harness.send("/info", info));
    QVERIFY(harness.send("/info", info));
    QCOMPARE(harness.validator->version(), QString("2.4.1"));
    QCOMPARE(version.count(), 1);
    QCOMPARE(harness.validator->rfid()->deviceUid(), QString("04AB"));
    QCOMPARE(harness.validator->rfid()->manufacturer(), QString("Acme"));
    QCOMPARE(harness.validator->barcode()->firmware(), QString("B-7"));
    QCOMPARE(harness.validator->barcode()->model(), QString("Q2"));
}

void TestValidator::configBuildsUrl_data()
{
    QTest::addColumn<QJsonValue>("port");
    QTest::addColumn<QJsonValue>("passback");
    QTest::addColumn<QJsonValue>("qr");
    QTest::addColumn<int>("expectedPort");
    QTest::addColumn<int>("expectedSecs");
    QTest::addColumn<bool>("expectedQr");
    QTest::newRow("texts") << QJsonValue("8883") << QJsonValue("30") << QJsonValue("true") << 8883 << 30 << true;
    QTest::newRow("numbers read as empty") << QJsonValue(8883) << QJsonValue(30) << QJsonValue(true) << 0 << 0 << false;
    QTest::newRow("not numeric") << QJsonValue("mqtt") << QJsonValue("half") << QJsonValue("True") << 0 << 0 << false;
    QTest::newRow("empty") << QJsonValue("") << QJsonValue("") << QJsonValue("") << 0 << 0 << false;
    QTest::newRow("port out of range") << QJsonValue("70000") << QJsonValue("-5") << QJsonValue("false") << 0 << -5 << false;
}

// The settings arrive as texts: the port and seconds in base 10, the QR flag as "true".
void TestValidator::configBuildsUrl()
{
    QFETCH(QJsonValue, port);
    QFETCH(QJsonValue, passback);
    QFETCH(QJsonValue, qr);
    QFETCH(int, expectedPort);
    QFETCH(int, expectedSecs);
    QFETCH(bool, expectedQr);
    Harness harness(m_broker.port());
    QVERIFY(harness.start());
    QSignalSpy configChanged(harness.validator.get(), &Validator::configChanged);
    const QJsonObject config{
        {"blm", QJsonObject{{"obu_host", "obu.local"}, {"obu_username", "driver"}, {"obu_password", "s3cret"},
                            {"obu_port", port}}},
        {"validator", QJsonObject{{"passbackTime", passback}, {"qr_passback", qr}}},
    };
    QVERIFY(harness.send("/config", QJsonDocument(config).toJson()));
    const QUrl url = harness.validator->config()->obuUrl();
    QVERIFY(url.isValid());
    QCOMPARE(url.scheme(), QString("mqtt"));
    QCOMPARE(url.host(), QString("obu.local"));
    QCOMPARE(url.userName(), QString("driver"));
    QCOMPARE(url.password(), QString("s3cret"));
    QCOMPARE(url.port(), expectedPort);
    QCOMPARE(harness.validator->config()->passbackSecs(), expectedSecs);
    QCOMPARE(harness.validator->config()->passbackQrEnabled(), expectedQr);
    QCOMPARE(configChanged.count(), 1);
}

// A settings report is logged in four lines; the OBU password never reaches the log.
void TestValidator::configLogLinesLeaveOutThePassword()
{
    Harness harness(m_broker.port());
    QVERIFY(harness.start());
    QTest::ignoreMessage(QtWarningMsg, "[Validator] Config received : ");
    QTest::ignoreMessage(QtWarningMsg, "[Validator] OBU URL         : mqtt://driver@obu.local:1883");
    QTest::ignoreMessage(QtWarningMsg, "[Validator] Passback Time   : 45 sec(s)");
    QTest::ignoreMessage(QtWarningMsg, "[Validator] Passback QR En  : true");
    QVERIFY(harness.send("/config", R"({"blm": {"obu_host": "obu.local", "obu_username": "driver",
        "obu_password": "s3cret", "obu_port": "1883"}, "validator": {"passbackTime": "45", "qr_passback": "true"}})"));
}

// Saving publishes the record as it stands, decoded, with the port and seconds as numbers.
void TestValidator::saveConfigPublishesTheRecord()
{
    Harness harness(m_broker.port());
    QVERIFY(harness.start());
    ValidatorConfig *config = harness.validator->config();
    QUrl url;
    url.setScheme("mqtt");
    url.setHost("10.0.0.7");
    url.setUserName("dri ver@depot", QUrl::DecodedMode);
    url.setPassword("p%ss:w/rd", QUrl::DecodedMode);
    url.setPort(8883);
    config->setObuUrl(url);
    config->setPassbackSecs(120);
    config->setPassbackQrEnabled(true);
    harness.validator->saveConfig();
    QVERIFY(harness.service.waitFor(Base + "/config/set"));

    const QJsonObject expected{
        {"blm", QJsonObject{{"obu_username", "dri ver@depot"}, {"obu_password", "p%ss:w/rd"},
                            {"obu_host", "10.0.0.7"}, {"obu_port", 8883}}},
        {"validator", QJsonObject{{"passbackTime", 120}, {"qr_passback", true}}},
    };
    QCOMPARE(harness.service.payloads(Base + "/config/set").last(), manager::requestBody(expected));

    // Without a port the service is told -1; saving leaves the record as it was.
    url.setPort(-1);
    config->setObuUrl(url);
    QSignalSpy urlChanged(config, &ValidatorConfig::obuUrlChanged);
    harness.validator->saveConfig();
    QVERIFY(harness.service.waitFor(Base + "/config/set", 2));
    const QJsonObject blm = harness.service.lastJson(Base + "/config/set").value("blm").toObject();
    QCOMPARE(blm.value("obu_port").toInt(), -1);
    QCOMPARE(urlChanged.count(), 0);
}

// Asking for the settings publishes the three bytes "{ }".
void TestValidator::refreshConfigAsksTheService()
{
    Harness harness(m_broker.port());
    QVERIFY(harness.start());
    harness.validator->refreshConfig();
    QVERIFY(harness.service.waitFor(Base + "/config/get"));
    QCOMPARE(harness.service.payloads(Base + "/config/get"), QList<QByteArray>({"{ }"}));
}

void TestValidator::readerCommandsFollowTheRecords_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("device");
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("published");
    const QByteArray autoread = manager::requestBody({{"autoread", true}});
    QTest::newRow("enable idle reader") << "enableRfid" << QByteArray(R"({"rfid": {"state": 1}})")
                                        << "orvo/rfid/enable" << autoread << true;
    QTest::newRow("enable searching reader") << "enableRfid" << QByteArray(R"({"rfid": {"state": 2}})")
                                             << "orvo/rfid/enable" << QByteArray() << false;
    QTest::newRow("disable reader holding a card") << "disableRfid" << QByteArray(R"({"rfid": {"state": 3}})")
                                                   << "orvo/rfid/disable" << QByteArray() << true;
    QTest::newRow("disable updating reader") << "disableRfid" << QByteArray(R"({"rfid": {"state": 4}})")
                                             << "orvo/rfid/disable" << QByteArray() << false;
    QTest::newRow("enable disabled barcode") << "enableBarcode" << QByteArray(R"({"barcode": {"enabled": false}})")
                                             << "orvo/barcode/enable" << QByteArray() << true;
    QTest::newRow("enable enabled barcode") << "enableBarcode" << QByteArray(R"({"barcode": {"enabled": true}})")
                                            << "orvo/barcode/enable" << QByteArray() << false;
    QTest::newRow("disable enabled barcode") << "disableBarcode" << QByteArray(R"({"barcode": {"enabled": true}})")
                                             << "orvo/barcode/disable" << QByteArray() << true;
    QTest::newRow("disable disabled barcode") << "disableBarcode" << QByteArray(R"({"barcode": {}})")
                                              << "orvo/barcode/disable" << QByteArray() << false;
}

// A reader command goes out on its fixed topic only when the record says it is needed, and
// the record waits for the service to report the change.
void TestValidator::readerCommandsFollowTheRecords()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, device);
    QFETCH(QString, topic);
    QFETCH(QByteArray, payload);
    QFETCH(bool, published);
    Harness harness(m_broker.port());
    QVERIFY(harness.start());
    QVERIFY(harness.send("/status", R"({"service": false, "device": )" + device + "}"));
    const bool rfidEnabled = harness.validator->rfid()->enabled();
    const bool barcodeEnabled = harness.validator->barcode()->enabled();

    QVERIFY(QMetaObject::invokeMethod(harness.validator.get(), command.toLatin1().constData()));
    // Publications of one client arrive in order: once this one is in, the command's would be.
    harness.validator->refreshConfig();
    QVERIFY(harness.service.waitFor(Base + "/config/get"));
    QCOMPARE(harness.service.payloads(topic), published ? QList<QByteArray>({payload}) : QList<QByteArray>());
    QCOMPARE(harness.validator->rfid()->enabled(), rfidEnabled);
    QCOMPARE(harness.validator->barcode()->enabled(), barcodeEnabled);
}

// A card found on the reader is announced with its uid and type name.
void TestValidator::cardFoundNamesTheType()
{
    Harness harness(m_broker.port());
    QVERIFY(harness.start());
    QSignalSpy detected(harness.validator.get(), &Validator::cardDetected);
    harness.service.publish("orvo/rfid/card/found", QByteArray(R"({"uid": "04A1B2C3", "type": 256})"));
    QTRY_VERIFY(!detected.isEmpty() && detected.last().at(0) == "04A1B2C3");
    QCOMPARE(detected.last().at(1).toString(), QString("MIFARE DESFire"));
}

void TestValidator::cardTypeNames_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("name");
    QTest::newRow("0") << 0 << "Unknown";
    QTest::newRow("1") << 1 << "ISO14443-4A";
    QTest::newRow("4") << 4 << "MIFARE Classic 1K";
    QTest::newRow("512") << 512 << "EMV";
    QTest::newRow("32768") << 32768 << "Other";
    QTest::newRow("3, two bits") << 3 << "Unknown";
    QTest::newRow("1024") << 1024 << "Unknown";
    QTest::newRow("negative") << -1 << "Unknown";
}

// Card types are single bits named by the table; anything else is "Unknown".
void TestValidator::cardTypeNames()
{
    QFETCH(int, type);
    QFETCH(QString, name);
    QCOMPARE(Validator::mapCardType(type), name);
}

// The card is gone whatever the removal message carries, and nothing is logged about it.
void TestValidator::cardRemovedIgnoresThePayload()
{
    Harness harness(m_broker.port());
    QVERIFY(harness.start());
    QSignalSpy removed(harness.validator.get(), &Validator::cardRemoved);
    LogCapture log;
    harness.service.publish("orvo/rfid/card/removed", QByteArray("{not json"));
    QVERIFY(harness.sync());
    QCOMPARE(removed.count(), 1);
    QVERIFY(!log.contains("Failed to parse JSON message"));
}

// "Present the card again" is announced for any parsable payload, an empty one included.
void TestValidator::retryNeedsAParsablePayload()
{
    Harness harness(m_broker.port());
    QVERIFY(harness.start());
    QSignalSpy retry(harness.validator.get(), &Validator::cardRetry);
    QTest::ignoreMessage(QtCriticalMsg, "[Validator] Failed to parse JSON message: unterminated object");
    QVERIFY(harness.send("/rfid/retry", "{bad"));
    QCOMPARE(retry.count(), 0);
    QVERIFY(harness.send("/rfid/retry", QByteArray()));
    QCOMPARE(retry.count(), 1);
}

void TestValidator::scannedResultReachesReceiversAsOwnCopy_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::newRow("card") << "/rfid/scanned";
    QTest::newRow("barcode") << "/barcode/scanned";
}

// Each validation result becomes a record every receiver holds on its own, after the
// emission is over too (queued receivers).
void TestValidator::scannedResultReachesReceiversAsOwnCopy()
{
    QFETCH(QString, suffix);
    Harness harness(m_broker.port());
    QVERIFY(harness.start());
    QList<QVariantMap> direct;
    QList<Transaction> queued;
    connect(harness.validator.get(), &Validator::ticketValidated, this,
            [&](const Transaction &transaction) { direct << transaction.toMap(); });
    connect(harness.validator.get(), &Validator::ticketValidated, this,
            [&](const Transaction &transaction) { queued << transaction; }, Qt::QueuedConnection);
    QVERIFY(harness.send(suffix, R"({"transaction": {"result": false, "type": 2, "denyReason": {"id": 207},
        "fareProductName": "Stored value", "card": {"balanceBefore": 1000, "balanceAfter": 880}}})"));
    QTRY_COMPARE(queued.size(), 1);
    QCOMPARE(direct.size(), 1);
    QCOMPARE(direct.first().value("denyReason").toString(), QString("The card has already been validated"));
    QCOMPARE(queued.first().denyReasonId(), 207);
    QCOMPARE(queued.first().fareProduct(), QString("Stored value"));
    QCOMPARE(queued.first().details().value("remaining").toDouble(), 8.8);

    // A result without a "transaction" member is an empty record, not a dropped one.
    QVERIFY(harness.send(suffix, R"({"transaction": 5})"));
    QTRY_COMPARE(queued.size(), 2);
    QCOMPARE(queued.last().valid(), false);
    QCOMPARE(queued.last().denyReason(), QString("Unknown Error"));
}

// A technician's barcode is handed on as the object received.
void TestValidator::maintenanceBarcodeIsHandedOn()
{
    Harness harness(m_broker.port());
    QVERIFY(harness.start());
    QSignalSpy scanned(harness.validator.get(), &Validator::maintenanceBarcodeScanned);
    QVERIFY(harness.send("/barcode/maintenance/scanned", R"({"data": "PIN:1234", "kind": 3})"));
    QCOMPARE(scanned.count(), 1);
    QCOMPARE(scanned.first().at(0).toJsonObject(), json(R"({"data": "PIN:1234", "kind": 3})"));
}

// A status replaces the SAMs; the previous one stays readable until the event loop frees it.
void TestValidator::statusReplacesSamsWithoutDangling()
{
    Harness harness(m_broker.port());
    QVERIFY(harness.start());
    QVERIFY(harness.send("/status", R"({"service": false, "device": {"rfid": {"state": 2,
        "sams": [{"slot": 1, "uid": "S-1", "production": "2021-06-30"}]}}})"));
    QPointer<SAM> held = harness.validator->rfid()->sam();
    QVERIFY(held);
    QCOMPARE(held->uid(), QString("S-1"));
    QSignalSpy samChanged(harness.validator->rfid(), &ValidatorRfid::samChanged);
    QVERIFY(harness.send("/status", R"({"service": false, "device": {"rfid": {"state": 2,
        "sams": [{"slot": 1, "uid": "S-2"}]}}})"));
    QCOMPARE(samChanged.count(), 1);
    QTRY_VERIFY(held.isNull());
    QCOMPARE(harness.validator->rfid()->sam()->uid(), QString("S-2"));
}

void TestValidator::badJsonChangesNothing_data()
{
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("error");
    const QStringList topics = {Base + "/info", Base + "/status", Base + "/config", Base + "/rfid/retry",
                                Base + "/rfid/removed", Base + "/rfid/scanned", Base + "/barcode/scanned",
                                Base + "/barcode/maintenance/scanned", "orvo/rfid/card/found"};
    for (const QString &topic : topics) {
        const QByteArray name = topic.toLatin1();
        QTest::newRow(name + " truncated") << topic << QByteArray(R"({"service": tr)") << "illegal value";
        QTest::newRow(name + " unterminated") << topic << QByteArray(R"({"service": {})") << "unterminated object";
    }
    QTest::newRow("status, invalid UTF-8") << Base + "/status" << QByteArray("{\"service\": \"\xff\"}")
                                           << "invalid UTF8 string";
    QTest::newRow("config, trailing garbage") << Base + "/config" << QByteArray("{}}")
                                              << "garbage at the end of the document";
    QTest::newRow("info, not JSON") << Base + "/info" << QByteArray("\xfe\xff") << "illegal value";
}

// An unparsable message is logged once under the proxy's tag and changes nothing.
void TestValidator::badJsonChangesNothing()
{
    QFETCH(QString, topic);
    QFETCH(QByteArray, payload);
    QFETCH(QString, error);
    Harness harness(m_broker.port());
    QVERIFY(harness.start());
    QVERIFY(harness.send("/status", OnlineStatus));
    QVERIFY(harness.send("/info", R"({"service": {"version": "2.4.1"}, "device": {"rfid": {"firmware": "3.1"}}})"));
    QVERIFY(harness.send("/config", R"({"blm": {"obu_host": "obu.local", "obu_port": "1883"}})"));
    const QVariantMap before = snapshot(*harness.validator);
    SignalCounter signalsFired(*harness.validator);

    QTest::ignoreMessage(QtCriticalMsg, qPrintable("[Validator] Failed to parse JSON message: " + error));
    harness.service.publish(topic, payload);
    QVERIFY(harness.sync());
    QCOMPARE(snapshot(*harness.validator), before);
    QCOMPARE(signalsFired.fired(), QStringList());
}

// Other services' topics are left alone, even with a payload we could not parse.
void TestValidator::foreignTopicsAreNotParsed()
{
    Harness harness(m_broker.port());
    QVERIFY(harness.service.start());
    QVERIFY(harness.start());
    harness.client.subscribe("orvo/board/#");
    QSignalSpy received(&harness.client, &MqttClient::received);
    LogCapture log;
    QVERIFY(waitUntil([&] {
        harness.service.publish("orvo/board/status", QByteArray("{bad"));
        return received.count() > 0;
    }));
    QVERIFY(harness.service.publish(Base + "/statusx", QByteArray("{bad")));
    QVERIFY(harness.service.publish(Base, QByteArray("{bad")));
    QVERIFY(harness.sync());
    QVERIFY(!log.contains("Failed to parse JSON message"));
    QCOMPARE(harness.validator->status(), QString());
}

// A few thousand random and cut-off payloads on every topic: wrong shapes are taken without
// a crash, and no unparsable one changes what the proxy shows.
void TestValidator::randomPayloadsNeitherCrashNorChangeState()
{
    Harness harness(m_broker.port());
    QVERIFY(harness.start());
    const QStringList topics = {Base + "/info", Base + "/status", Base + "/config", Base + "/rfid/retry",
                                Base + "/rfid/removed", Base + "/rfid/scanned", Base + "/barcode/scanned",
                                Base + "/barcode/maintenance/scanned", "orvo/rfid/card/found",
                                "orvo/rfid/card/removed"};
    const QList<QByteArray> samples = {
        OnlineStatus,
        R"({"service": {"version": "2.4.1"}, "device": {"rfid": {"firmware": "3.1", "state": 3, "slots": [true],
            "sams": [{"slot": 1, "production": "2021-06-30"}]}, "barcode": {"enabled": true}}})",
        R"({"blm": {"obu_host": "obu.local", "obu_username": "u", "obu_password": "p", "obu_port": "1883"},
            "validator": {"passbackTime": "30", "qr_passback": "true"}})",
        R"({"transaction": {"result": true, "type": 8, "card": {"periodPass": {"remainingMinutes": null,
            "remainingDays": 1e300, "activationTimestamp": "2024-02-04T10:41:23Z"}}}})",
        R"({"uid": "04AB", "type": 1e40})",
    };
    QRandomGenerator random(20240204);

    // Parsable nonsense first: wrong types, nulls, arrays, huge numbers.
    const QList<QJsonValue> oddValues = {QJsonValue(), QJsonValue(1e308), QJsonValue(-1), QJsonValue("x"),
                                         QJsonValue(QJsonArray{1, "a"}), QJsonValue(true), QJsonValue(QJsonObject{})};
    const QStringList keys = {"service", "device", "state", "rfid", "barcode", "obu", "route", "blm", "validator",
                              "transaction", "uid", "type", "sams", "slots", "card", "periodPass", "hasRfid"};
    std::function<QJsonValue(int)> oddValue = [&](int depth) -> QJsonValue {
        if (depth > 3 || random.bounded(3) == 0)
            return oddValues.at(random.bounded(oddValues.size()));
        QJsonObject object;
        for (int i = random.bounded(4); i >= 0; --i)
            object.insert(keys.at(random.bounded(keys.size())), oddValue(depth + 1));
        return object;
    };
    for (int i = 0; i < 500; ++i) {
        const QJsonValue value = oddValue(0);
        const QByteArray payload = value.isObject() ? QJsonDocument(value.toObject()).toJson()
                                                    : QJsonDocument(QJsonArray{value}).toJson();
        harness.service.publish(topics.at(random.bounded(topics.size())), payload);
    }
    QVERIFY(harness.sync());

    // Then settle on a known state and throw only unparsable payloads at it.
    QVERIFY(harness.send("/status", OnlineStatus));
    QVERIFY(harness.send("/info", samples.at(1)));
    QVERIFY(harness.send("/config", samples.at(2)));
    const QVariantMap before = snapshot(*harness.validator);
    SignalCounter signalsFired(*harness.validator);

    int parseFailures = 0;
    const QtMessageHandler previous = qInstallMessageHandler(nullptr);
    static int *failures = nullptr;
    failures = &parseFailures;
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type == QtCriticalMsg && text.startsWith(QLatin1String("[Validator] Failed to parse JSON message: ")))
            ++*failures;
    });

    QElapsedTimer elapsed;
    elapsed.start();
    int sent = 0;
    int removals = 0;
    for (int batch = 0; batch < 30; ++batch) {
        int expected = parseFailures;
        for (int i = 0; i < 100; ++i) {
            QByteArray payload;
            const QByteArray sample = samples.at(random.bounded(samples.size()));
            switch (random.bounded(3)) {
            case 0:
                payload = sample.left(1 + random.bounded(sample.size() - 1));
                break;
            case 1:
                payload = sample;
                payload[random.bounded(payload.size())] = char(random.bounded(256));
                break;
            default:
                for (int n = 1 + random.bounded(64); n > 0; --n)
                    payload.append(char(random.bounded(256)));
            }
            QJsonParseError error;
            QJsonDocument::fromJson(payload, &error);
            if (error.error == QJsonParseError::NoError)
                continue;
            const QString topic = topics.at(random.bounded(topics.size()));
            if (topic == QLatin1String("orvo/rfid/card/removed"))
                ++removals;
            else
                ++expected;
            harness.service.publish(topic, payload);
            ++sent;
        }
        // Kept in batches so the broker never has to queue more than a hundred for us.
        if (!waitUntil([&] { return parseFailures >= expected; }, 10000))
            break;
    }
    const bool synced = harness.sync();
    qInstallMessageHandler(previous);
    QVERIFY(synced);
    QVERIFY2(sent > 2500, qPrintable(QString::number(sent)));
    QCOMPARE(parseFailures, sent - removals);
    QCOMPARE(snapshot(*harness.validator), before);
    QCOMPARE(signalsFired.fired({"cardRemoved"}), QStringList());
    qInfo("%d unparsable payloads in %lld ms", sent, elapsed.elapsed());
}

QTEST_GUILESS_MAIN(TestValidator)
#include "tst_validator.moc"
