#include "logcapture.h"
#include "proxyrig.h"

#include "services/update.h"

using manager::Update;

namespace {
const QString Base = QStringLiteral("orvo/device");
const QString Probe = QStringLiteral("orvo/device/probe");

QString topic(const char *suffix)
{
    return Base + QLatin1String(suffix);
}

QJsonObject deviceStatus(const QJsonValue &software)
{
    return QJsonObject{{"update", QJsonObject{{"software", software}}}};
}

QVariantList snapshot(const Update &update)
{
    return {update.status(), update.state(), update.current(), update.pending(), update.progressMessage(), update.progressPercent()};
}
} // namespace

class TestUpdate : public ProxyTest
{
    Q_OBJECT

public:
    TestUpdate()
        : ProxyTest(Probe, Base + QStringLiteral("/#"))
    {
    }

private slots:
    void refreshesOnConnectionAndWaitsForAnswer();
    void deviceStatusSetsVersions_data();
    void deviceStatusSetsVersions();
    void progressSetsStatus_data();
    void progressSetsStatus();
    void emptyUpdateStatusEmptiesVersions();
    void uncheckedCheckEndsByTimer_data();
    void uncheckedCheckEndsByTimer();
    void progressStopsCheckTimer();
    void installNeedsPendingVersion();
    void disconnectionKeepsVersions();
    void badPayloadsChangeNothing_data();
    void badPayloadsChangeNothing();
    void clockTopicsBelowTheBaseAreNotOurs();

};

// A connection asks for the device status with an empty payload; the status stays
// "Disconnected" until the service answers.
void TestUpdate::refreshesOnConnectionAndWaitsForAnswer()
{
    Update update(rig().client, Base);
    QCOMPARE(update.status(), QStringLiteral("Disconnected"));
    QVERIFY(connectOnly());
    QVERIFY(rig().service.waitFor(topic("/status/get")));
    QCOMPARE(rig().service.payloads(topic("/status/get")).first(), QByteArray());
    QCOMPARE(update.status(), QStringLiteral("Disconnected"));
    QVERIFY(rig().deliver(topic("/status"), QJsonObject{}));
    QCOMPARE(update.status(), QStringLiteral("No pending updates"));
}

// "software" as text sets only the current version, as an object both; the status follows
// pending and the progress returns to "Idle" and 0.
void TestUpdate::deviceStatusSetsVersions_data()
{
    QTest::addColumn<QJsonObject>("report");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("pending");
    QTest::addColumn<QString>("status");
    QTest::newRow("text keeps pending") << deviceStatus("1.4.0") << "1.4.0" << "1.5.0" << "Ready to install";
    QTest::newRow("object with pending") << deviceStatus(QJsonObject{{"current", "1.4.1"}, {"pending", "1.6.0"}})
                                         << "1.4.1" << "1.6.0" << "Ready to install";
    QTest::newRow("object without pending") << deviceStatus(QJsonObject{{"current", "1.5.0"}}) << "1.5.0" << ""
                                            << "No pending updates";
    QTest::newRow("no update member") << QJsonObject{{"uptime", 5}} << "1.0.0" << "1.5.0" << "Ready to install";
    QTest::newRow("software a number") << deviceStatus(7) << "1.0.0" << "1.5.0" << "Ready to install";
}

void TestUpdate::deviceStatusSetsVersions()
{
    QFETCH(QJsonObject, report);
    QFETCH(QString, current);
    QFETCH(QString, pending);
    QFETCH(QString, status);
    Update update(rig().client, Base);
    QVERIFY(start());
    QVERIFY(rig().deliver(topic("/update/software/status"), QJsonObject{{"current", "1.0.0"}, {"pending", "1.5.0"}}));
    QVERIFY(rig().deliver(topic("/update/software/progress"), QJsonObject{{"message", "Step"}, {"progress", 40},
                                                                           {"version", "1.5.0"}}));
    QCOMPARE(update.progressPercent(), 40);
    QVERIFY(rig().deliver(topic("/status"), report));
    QCOMPARE(update.current(), current);
    QCOMPARE(update.pending(), pending);
    QCOMPARE(update.status(), status);
    QCOMPARE(update.progressMessage(), QStringLiteral("Idle"));
    QCOMPARE(update.progressPercent(), 0);
}

// A progress message with a slash means downloading, without one installing; both spellings
// of the topic are handled; a report without "version" empties pending.
void TestUpdate::progressSetsStatus_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QJsonObject>("report");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("pending");
    QTest::addColumn<int>("percent");
    const QJsonObject download{{"message", "Downloading 3/10"}, {"progress", 30}, {"version", "2.0"}};
    const QJsonObject install{{"message", "Writing image"}, {"progress", 80}, {"version", "2.0"}};
    QTest::newRow("download") << "/update/software/progress" << download << "Downloading" << "2.0" << 30;
    QTest::newRow("install") << "/update/software/progress" << install << "Installing" << "2.0" << 80;
    QTest::newRow("other spelling") << "/update/software/progess" << download << "Downloading" << "2.0" << 30;
    QTest::newRow("no version") << "/update/software/progess" << QJsonObject{{"message", "x"}, {"progress", 5}}
                                << "Installing" << "" << 5;
    QTest::newRow("odd types") << "/update/software/progress"
                               << QJsonObject{{"message", 1}, {"progress", "50"}, {"version", false}}
                               << "Installing" << "" << 0;
}

void TestUpdate::progressSetsStatus()
{
    QFETCH(QString, suffix);
    QFETCH(QJsonObject, report);
    QFETCH(QString, status);
    QFETCH(QString, pending);
    QFETCH(int, percent);
    Update update(rig().client, Base);
    QVERIFY(start());
    QVERIFY(rig().deliver(topic("/update/software/status"), QJsonObject{{"current", "1.0"}, {"pending", "1.9"}}));
    QVERIFY(rig().deliver(Base + suffix, report));
    QCOMPARE(update.status(), status);
    QCOMPARE(update.pending(), pending);
    QCOMPARE(update.progressPercent(), percent);
    QCOMPARE(update.progressMessage(), report.value(QStringLiteral("message")).toString());
    QCOMPARE(update.current(), QStringLiteral("1.0"));
}

// An empty payload on the update status reads as no versions at all; the status is untouched.
void TestUpdate::emptyUpdateStatusEmptiesVersions()
{
    Update update(rig().client, Base);
    QVERIFY(start());
    QVERIFY(rig().deliver(topic("/update/software/status"), QJsonObject{{"current", "1.0"}, {"pending", "1.9"}}));
    QSignalSpy current(&update, &Update::currentChanged);
    QSignalSpy pending(&update, &Update::pendingChanged);
    QVERIFY(rig().deliver(topic("/update/software/status"), QByteArray()));
    QCOMPARE(update.current(), QString());
    QCOMPARE(update.pending(), QString());
    QCOMPARE(current.count(), 1);
    QCOMPARE(pending.count(), 1);
    QCOMPARE(update.status(), QStringLiteral("Disconnected"));
}

// A check that nobody answers ends with its log line and a status from the pending version.
void TestUpdate::uncheckedCheckEndsByTimer_data()
{
    QTest::addColumn<QString>("pending");
    QTest::addColumn<QString>("status");
    QTest::newRow("nothing pending") << "" << "No pending updates";
    QTest::newRow("pending known") << "3.1" << "Ready to install";
}

void TestUpdate::uncheckedCheckEndsByTimer()
{
    QFETCH(QString, pending);
    QFETCH(QString, status);
    LogCapture log;
    Update update(rig().client, Base);
    update.setCheckInterval(200);
    QVERIFY(start());
    QVERIFY(rig().deliver(topic("/update/software/status"), QJsonObject{{"pending", pending}}));
    QSignalSpy statusChanged(&update, &Update::statusChanged);
    update.check();
    QCOMPARE(update.status(), QStringLiteral("Checking for updates"));
    QCOMPARE(log.count(QStringLiteral("[Update] Checking for updates")), 1);
    QVERIFY(rig().service.waitFor(topic("/software/check")));
    QCOMPARE(rig().service.payloads(topic("/software/check")).first(), QByteArray());
    QTRY_COMPARE(update.status(), status);
    QCOMPARE(log.count(QStringLiteral("[Update] No pedning updates")), 1);
    QCOMPARE(statusChanged.count(), 2);
}

// A progress report during a check stops its timer: the report's status stays.
void TestUpdate::progressStopsCheckTimer()
{
    LogCapture log;
    Update update(rig().client, Base);
    update.setCheckInterval(300);
    QVERIFY(start());
    update.check();
    QVERIFY(rig().deliver(topic("/update/software/progress"), QJsonObject{{"message", "1/4"}, {"version", "2.0"}}));
    QCOMPARE(update.status(), QStringLiteral("Downloading"));
    QSignalSpy statusChanged(&update, &Update::statusChanged);
    QVERIFY(!statusChanged.wait(900));
    QVERIFY(!log.contains(QStringLiteral("No pedning updates")));
}

// Without a pending version the install is refused here; with one it is requested and the
// status waits for the service's progress.
void TestUpdate::installNeedsPendingVersion()
{
    LogCapture log;
    Update update(rig().client, Base);
    QVERIFY(start());
    QTest::ignoreMessage(QtWarningMsg, "[Update] WARN: Cannot install. There are no pending versions");
    update.install();
    QVERIFY(rig().deliver(topic("/status"), deviceStatus(QJsonObject{{"current", "1"}, {"pending", "2"}})));
    QCOMPARE(rig().service.count(topic("/update/software/install")), 0);

    update.install();
    QVERIFY(rig().service.waitFor(topic("/update/software/install")));
    QCOMPARE(rig().service.payloads(topic("/update/software/install")), QList<QByteArray>{QByteArray()});
    QCOMPARE(log.count(QStringLiteral("[Update] Installing pending update : 2")), 1);
    QCOMPARE(update.status(), QStringLiteral("Ready to install"));
    QCOMPARE(update.state(), Update::ReadyToInstall);
}

// Losing the broker shows "Disconnected" and keeps the versions and the progress.
void TestUpdate::disconnectionKeepsVersions()
{
    BrokerFixture own;
    QVERIFY(own.start());
    ProxyRig rig(own.port());
    Update update(rig.client, Base);
    QVERIFY(rig.connect(Probe, Base + QStringLiteral("/#")));
    QVERIFY(rig.deliver(topic("/status"), deviceStatus(QJsonObject{{"current", "1"}, {"pending", "2"}})));
    QCOMPARE(update.status(), QStringLiteral("Ready to install"));
    QSignalSpy disconnected(&rig.client, &manager::MqttClient::disconnected);
    own.kill();
    QVERIFY(disconnected.count() || disconnected.wait(10000));
    QCOMPARE(update.status(), QStringLiteral("Disconnected"));
    QCOMPARE(update.current(), QStringLiteral("1"));
    QCOMPARE(update.pending(), QStringLiteral("2"));
    QCOMPARE(update.progressMessage(), QStringLiteral("Idle"));
}

// Non-JSON on any of the four topics is logged with the parser's complaint and changes nothing.
void TestUpdate::badPayloadsChangeNothing_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QByteArray>("payload");
    for (const char *suffix : {"/status", "/update/software/status", "/update/software/progress",
                               "/update/software/progess"}) {
        for (const auto &bad : nonJsonPayloads())
            QTest::addRow("%s %s", suffix, bad.first) << QString::fromLatin1(suffix) << bad.second;
    }
}

void TestUpdate::badPayloadsChangeNothing()
{
    QFETCH(QString, suffix);
    QFETCH(QByteArray, payload);
    Update update(rig().client, Base);
    QVERIFY(start());
    QVERIFY(rig().deliver(topic("/status"), deviceStatus(QJsonObject{{"current", "1"}, {"pending", "2"}})));
    const QVariantList before = snapshot(update);
    QTest::ignoreMessage(QtCriticalMsg, qPrintable("[Update] Failed to parse JSON message: " + parserError(payload)));
    QVERIFY(rig().deliver(Base + suffix, payload));
    QCOMPARE(snapshot(update), before);
}

// The clock's NTP topics share the device base: their payloads are the clock's to parse and
// report, never ours.
void TestUpdate::clockTopicsBelowTheBaseAreNotOurs()
{
    const QStringList ntp = {topic("/clock/ntp/status"), topic("/clock/ntp/config")};
    for (const QString &clockTopic : ntp)
        rig().client.subscribe(clockTopic);
    Update update(rig().client, Base);
    QVERIFY(start());
    QVERIFY(rig().deliver(topic("/status"), deviceStatus(QJsonObject{{"current", "1"}, {"pending", "2"}})));
    const QVariantList before = snapshot(update);
    LogCapture log;
    for (const QString &clockTopic : ntp) {
        QVERIFY(rig().deliver(clockTopic, QByteArray("not json")));
        QVERIFY(rig().deliver(clockTopic, deviceStatus(QJsonObject{{"current", "9"}})));
    }
    QVERIFY(!log.contains(QStringLiteral("[Update]")));
    QCOMPARE(snapshot(update), before);
}

QTEST_GUILESS_MAIN(TestUpdate)
#include "tst_update.moc"
