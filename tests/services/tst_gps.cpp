#include "logcapture.h"
#include "proxyrig.h"

#include "services/gpsmanager.h"


using manager::GPSManager;

namespace {
const QString Base = QStringLiteral("orvo/gps");
const QString Probe = QStringLiteral("orvo/gps/probe");

QString topic(const char *suffix)
{
    return Base + QLatin1String(suffix);
}

QList<double> values(const GPSManager::Telemetry &t)
{
    return {t.latitude, t.longitude, t.altitude, t.direction, t.groundSpeed, t.magneticVariation,
            t.verticalSpeed, t.verticalAccuracy, t.horizontalAccuracy};
}
} // namespace

class TestGps : public ProxyTest
{
    Q_OBJECT

public:
    TestGps()
        : ProxyTest(Probe, Base + QStringLiteral("/#"))
    {
    }

private slots:
    void infoReplacesWholeRecord();
    void statusRules_data();
    void statusRules();
    void telemetryReadsNumbersInStrings_data();
    void telemetryReadsNumbersInStrings();
    void telemetryResetsMissingFields();
    void deeperTopicsReachNoHandler();
    void enableAndDisableSendEmptyRequests();
    void badPayloadsAreLoggedRaw_data();
    void badPayloadsAreLoggedRaw();

};

// Every info report replaces every field, absent ones with empty or false, and is announced.
void TestGps::infoReplacesWholeRecord()
{
    GPSManager gps(rig().client, Base);
    QVERIFY(start());
    QSignalSpy changed(&gps, &GPSManager::infoChanged);
    QVERIFY(rig().deliver(topic("/info"),
                           QJsonObject{{"device", QJsonObject{{"firmware", "F1"}, {"manufacturer", "M"}, {"model", "X"},
                                                              {"imei", "3569"}, {"assisted", true}}},
                                       {"service", QJsonObject{{"type", "nmea"}, {"version", "0.9"}}}}));
    QCOMPARE(changed.count(), 1);
    const auto info = changed.first().at(0).value<GPSManager::Info>();
    QCOMPARE(info.imei, QStringLiteral("3569"));
    QVERIFY(info.assisted);
    QCOMPARE(gps.info().version, QStringLiteral("0.9"));
    QCOMPARE(gps.info().type, QStringLiteral("nmea"));

    QVERIFY(rig().deliver(topic("/info"), QJsonObject{{"device", QJsonObject{{"model", "Y"}}}}));
    QCOMPARE(changed.count(), 2);
    QCOMPARE(gps.info().model, QStringLiteral("Y"));
    QCOMPARE(gps.info().firmware, QString());
    QCOMPARE(gps.info().assisted, false);
    QCOMPARE(gps.info().version, QString());
}

// Offline gives fix 0, state -1 and "Manager is offline"; online reads the device, a null
// error reading as empty.
void TestGps::statusRules_data()
{
    QTest::addColumn<QJsonObject>("report");
    QTest::addColumn<int>("fix");
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("simulation");
    QTest::addColumn<QString>("error");
    QTest::newRow("offline") << QJsonObject{{"service", false}, {"simulation", true},
                                            {"device", QJsonObject{{"fix", 3}, {"state", 2}}}}
                             << 0 << -1 << false << "Manager is offline";
    QTest::newRow("no service") << QJsonObject{} << 0 << -1 << false << "Manager is offline";
    QTest::newRow("online") << QJsonObject{{"service", true}, {"simulation", true},
                                           {"device", QJsonObject{{"fix", 3}, {"state", 2}, {"error", "antenna"}}}}
                            << 3 << 2 << true << "antenna";
    QTest::newRow("null error") << QJsonObject{{"service", true}, {"device", QJsonObject{{"error", QJsonValue::Null}}}}
                                << 0 << 0 << false << "";
    QTest::newRow("odd types") << QJsonObject{{"service", true}, {"simulation", "yes"},
                                              {"device", QJsonObject{{"fix", "3"}, {"state", 2.5}, {"error", 4}}}}
                               << 0 << 0 << false << "";
}

void TestGps::statusRules()
{
    QFETCH(QJsonObject, report);
    QFETCH(int, fix);
    QFETCH(int, state);
    QFETCH(bool, simulation);
    QFETCH(QString, error);
    GPSManager gps(rig().client, Base);
    QVERIFY(start());
    QSignalSpy changed(&gps, &GPSManager::statusChanged);
    QVERIFY(rig().deliver(topic("/status"), report));
    QVERIFY(rig().deliver(topic("/status"), report));
    QCOMPARE(changed.count(), 2);
    const auto status = changed.last().at(0).value<GPSManager::Status>();
    QCOMPARE(status.fix, fix);
    QCOMPARE(status.state, state);
    QCOMPARE(status.simulation, simulation);
    QCOMPARE(status.error, error);
    QCOMPARE(gps.status().error, error);
}

// Position values are decimal numbers written in strings; JSON numbers, other text, null and
// absent members read as 0.
void TestGps::telemetryReadsNumbersInStrings_data()
{
    QTest::addColumn<QJsonValue>("latitude");
    QTest::addColumn<double>("expected");
    QTest::newRow("number in string") << QJsonValue("37.9838") << 37.9838;
    QTest::newRow("negative in string") << QJsonValue("-23.5") << -23.5;
    QTest::newRow("exponent in string") << QJsonValue("1.5e1") << 15.0;
    QTest::newRow("JSON number") << QJsonValue(37.9838) << 0.0;
    QTest::newRow("not a number") << QJsonValue("north") << 0.0;
    QTest::newRow("decimal comma") << QJsonValue("37,98") << 0.0;
    QTest::newRow("null") << QJsonValue(QJsonValue::Null) << 0.0;
    QTest::newRow("absent") << QJsonValue(QJsonValue::Undefined) << 0.0;
    QTest::newRow("object") << QJsonValue(QJsonObject{{"deg", "37"}}) << 0.0;
}

void TestGps::telemetryReadsNumbersInStrings()
{
    QFETCH(QJsonValue, latitude);
    QFETCH(double, expected);
    GPSManager gps(rig().client, Base);
    QVERIFY(start());
    QSignalSpy changed(&gps, &GPSManager::telemetryChanged);
    QJsonObject report{{"longitude", "23.7275"}};
    if (!latitude.isUndefined())
        report.insert(QStringLiteral("latitude"), latitude);
    QVERIFY(rig().deliver(topic("/data"), report));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.first().at(0).value<GPSManager::Telemetry>().latitude, expected);
    QCOMPARE(gps.telemetry().longitude, 23.7275);
    QVERIFY(!gps.telemetry().timestamp.isValid());
}

// Each report replaces the whole record: a field it leaves out goes back to 0.
void TestGps::telemetryResetsMissingFields()
{
    GPSManager gps(rig().client, Base);
    QVERIFY(start());
    QJsonObject full;
    const char *names[] = {"latitude", "longitude", "altitude", "direction", "groundSpeed",
                           "magneticVariation", "verticalSpeed", "verticalAccuracy", "horizontalAccuracy"};
    for (int i = 0; i < 9; ++i)
        full.insert(QLatin1String(names[i]), QString::number(i + 1));
    QVERIFY(rig().deliver(topic("/data"), full));
    QCOMPARE(values(gps.telemetry()), (QList<double>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    QVERIFY(rig().deliver(topic("/data"), QJsonObject{{"altitude", "120.5"}}));
    QCOMPARE(values(gps.telemetry()), (QList<double>{0, 0, 120.5, 0, 0, 0, 0, 0, 0}));
}

// Messages below the three known topics are parsed under the wildcard but handled by none.
void TestGps::deeperTopicsReachNoHandler()
{
    GPSManager gps(rig().client, Base);
    QVERIFY(start());
    QSignalSpy telemetry(&gps, &GPSManager::telemetryChanged);
    QSignalSpy status(&gps, &GPSManager::statusChanged);
    QVERIFY(rig().deliver(topic("/data/raw"), QJsonObject{{"latitude", "1"}}));
    QVERIFY(rig().deliver(topic("/status/extra"), QJsonObject{{"service", true}}));
    // Not a topic we read, so not ours to parse either.
    LogCapture log;
    QVERIFY(rig().deliver(topic("/data/nmea"), QByteArray("$GPGGA,1")));
    QVERIFY(!log.contains(QStringLiteral("Failed to parse")));
    QCOMPARE(telemetry.count() + status.count(), 0);
    QCOMPARE(gps.telemetry().latitude, 0.0);
}

// The receiver is switched with empty requests; the result is the client's publish result.
void TestGps::enableAndDisableSendEmptyRequests()
{
    GPSManager gps(rig().client, Base);
    QVERIFY(!gps.enable()); // not connected yet
    QVERIFY(start());
    QVERIFY(gps.enable());
    QVERIFY(gps.disable());
    QVERIFY(rig().service.waitFor(topic("/enable")));
    QVERIFY(rig().service.waitFor(topic("/disable")));
    QCOMPARE(rig().service.payloads(topic("/enable")), QList<QByteArray>{QByteArray()});
    QCOMPARE(rig().service.payloads(topic("/disable")), QList<QByteArray>{QByteArray()});
}

// Non-JSON, zero bytes included, is logged with the raw payload and announces nothing.
void TestGps::badPayloadsAreLoggedRaw_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QByteArray>("payload");
    for (const char *suffix : {"/info", "/status", "/data"}) {
        QTest::addRow("%s empty", suffix) << QString::fromLatin1(suffix) << QByteArray();
        QTest::addRow("%s text", suffix) << QString::fromLatin1(suffix) << QByteArray("lat=37.9");
        QTest::addRow("%s truncated", suffix) << QString::fromLatin1(suffix) << QByteArray("{\"latitude\":\"3");
    }
}

void TestGps::badPayloadsAreLoggedRaw()
{
    QFETCH(QString, suffix);
    QFETCH(QByteArray, payload);
    GPSManager gps(rig().client, Base);
    QVERIFY(start());
    QVERIFY(rig().deliver(topic("/data"), QJsonObject{{"latitude", "37.5"}}));
    QSignalSpy info(&gps, &GPSManager::infoChanged);
    QSignalSpy status(&gps, &GPSManager::statusChanged);
    QSignalSpy telemetry(&gps, &GPSManager::telemetryChanged);
    QTest::ignoreMessage(QtCriticalMsg, qPrintable("Failed to parse JSON message: " + QString::fromUtf8(payload)));
    QVERIFY(rig().deliver(Base + suffix, payload));
    QCOMPARE(info.count() + status.count() + telemetry.count(), 0);
    QCOMPARE(gps.telemetry().latitude, 37.5);

    // Invalid UTF-8 is logged too and breaks nothing.
    LogCapture log;
    QVERIFY(rig().deliver(Base + suffix, QByteArray("\xff\xfe")));
    QVERIFY(log.contains(QStringLiteral("Failed to parse JSON message: ")));
    QCOMPARE(gps.telemetry().latitude, 37.5);
}

QTEST_GUILESS_MAIN(TestGps)
#include "tst_gps.moc"
