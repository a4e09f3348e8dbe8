#include "logcapture.h"
#include "proxyrig.h"

#include "services/inspector.h"

using manager::Inspector;

namespace {
const QString Base = QStringLiteral("orvo/inspector");
const QString Probe = QStringLiteral("orvo/inspector/probe");

QString topic(const char *suffix)
{
    return Base + QLatin1String(suffix);
}

QVariantList snapshot(const Inspector &inspector)
{
    return {inspector.info(), inspector.status(), inspector.memory(), inspector.cpu(), inspector.disks(),
            inspector.audioVolume()};
}
} // namespace

class TestInspector : public ProxyTest
{
    Q_OBJECT

public:
    TestInspector()
        : ProxyTest(Probe, Base + QStringLiteral("/#"))
    {
    }

private slots:
    void refreshesOnConnection();
    void statusFollowsService_data();
    void statusFollowsService();
    void volumeFollowsReportOnly();
    void audioPlayRequest();
    void powerRequestsLeaveAfterDelay_data();
    void powerRequestsLeaveAfterDelay();
    void secondScheduleKeepsFirstDeadline();
    void abortOnlyWhenArmed();
    void abortCancelsRequestInItsDelay();
    void scheduledShutdownRuns();
    void statisticsAreNotInterpreted();
    void monitorRefreshesUntilStopped();
    void badPayloadsChangeNothing_data();
    void badPayloadsChangeNothing();

};

// A connection asks for the audio state and the three statistics with "{}".
void TestInspector::refreshesOnConnection()
{
    LogCapture log;
    Inspector inspector(rig().client, Base);
    QVERIFY(connectOnly());
    for (const char *get : {"/audio/get", "/stats/memory/get", "/stats/disk/get", "/stats/cpu/get"}) {
        QVERIFY(rig().service.waitFor(topic(get)));
        QCOMPARE(rig().service.payloads(topic(get)).first(), QByteArray("{}"));
    }
    QCOMPARE(log.count(QStringLiteral("[Inspector] Refreshing data")), 1);
    QCOMPARE(log.count(QStringLiteral("[Inspector] Subscribing to topics")), 1);
}

// "service" true is online, anything else offline; only a change is logged and signalled.
void TestInspector::statusFollowsService_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("status");
    QTest::newRow("true") << QByteArray("{\"service\":true}") << "online";
    QTest::newRow("false") << QByteArray("{\"service\":false}") << "offline";
    QTest::newRow("absent") << QByteArray("{\"other\":1}") << "offline";
    QTest::newRow("empty payload") << QByteArray() << "offline";
    QTest::newRow("array") << QByteArray("[true]") << "offline";
    QTest::newRow("text") << QByteArray("{\"service\":\"true\"}") << "offline";
}

void TestInspector::statusFollowsService()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, status);
    LogCapture log;
    Inspector inspector(rig().client, Base);
    QVERIFY(start());
    QSignalSpy changed(&inspector, &Inspector::statusChanged);
    QVERIFY(rig().deliver(topic("/status"), payload));
    QVERIFY(rig().deliver(topic("/status"), payload));
    QCOMPARE(inspector.status(), status);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(log.count(QStringLiteral("[Inspector] Status changed : ") + status), 1);
    QCOMPARE(log.count(QStringLiteral("[Inspector] Processing status topic orvo/inspector/status")), 2);
}

// The volume request leaves the property alone; the "/audio" report sets it, and a report
// without "internal" reads as 0.
void TestInspector::volumeFollowsReportOnly()
{
    LogCapture log;
    Inspector inspector(rig().client, Base);
    QVERIFY(start());
    QSignalSpy changed(&inspector, &Inspector::audioVolumeChanged);
    inspector.setAudioVolume(40);
    QVERIFY(rig().service.waitFor(topic("/audio/set")));
    const QByteArray sent = rig().service.payloads(topic("/audio/set")).first();
    QCOMPARE(parsed(sent), (QJsonObject{{"internal", QJsonObject{{"volume", 40}}}}));
    QCOMPARE(sent, QJsonDocument(parsed(sent)).toJson(QJsonDocument::Indented));
    QCOMPARE(log.count(QStringLiteral("[Inspector] Setting 'internal' audio volume : 40%")), 1);
    QCOMPARE(inspector.audioVolume(), 0);

    QVERIFY(rig().deliver(topic("/audio"), QJsonObject{{"internal", QJsonObject{{"volume", 40}}}}));
    QCOMPARE(inspector.audioVolume(), 40);
    QVERIFY(rig().deliver(topic("/audio"), QJsonObject{{"internal", QJsonObject{{"volume", 40}}}}));
    QCOMPARE(changed.count(), 1);
    QVERIFY(rig().deliver(topic("/audio"), QJsonObject{{"external", QJsonObject{{"volume", 10}}}}));
    QCOMPARE(inspector.audioVolume(), 0);
    QCOMPARE(changed.count(), 2);
}

// A sound is played on the internal card by its path.
void TestInspector::audioPlayRequest()
{
    LogCapture log;
    Inspector inspector(rig().client, Base);
    QVERIFY(start());
    inspector.audioPlay(QStringLiteral("/opt/orvo/tessivo/Valid.wav"));
    QVERIFY(rig().service.waitFor(topic("/audio/play")));
    QCOMPARE(parsed(rig().service.payloads(topic("/audio/play")).first()),
             (QJsonObject{{"device", "internal"}, {"filepath", "/opt/orvo/tessivo/Valid.wav"}}));
    QCOMPARE(log.count(QStringLiteral("[Inspector] Playing audio file (card='internal') : /opt/orvo/tessivo/Valid.wav")),
             1);
}

// Reboot and shutdown announce themselves at once and send their empty request after the
// delay; two calls send two requests.
void TestInspector::powerRequestsLeaveAfterDelay_data()
{
    QTest::addColumn<bool>("reboot");
    QTest::newRow("reboot") << true;
    QTest::newRow("shutdown") << false;
}

void TestInspector::powerRequestsLeaveAfterDelay()
{
    QFETCH(bool, reboot);
    LogCapture log;
    Inspector inspector(rig().client, Base);
    QVERIFY(start());
    QSignalSpy started(&inspector, reboot ? &Inspector::systemRebootStarted : &Inspector::systemShutdownStarted);
    const QString request = topic(reboot ? "/power/reboot/request/1" : "/power/shutdown/request/1");
    const QString line = reboot ? QStringLiteral("[Inspector] Requesting System reboot")
                                : QStringLiteral("[Inspector] Requesting System shutdown");
    reboot ? inspector.systemReboot() : inspector.systemShutdown();
    QCOMPARE(started.count(), 1);
    QCOMPARE(log.count(line), 1);
    QCOMPARE(rig().service.count(request), 0);
    reboot ? inspector.systemReboot() : inspector.systemShutdown();
    QVERIFY(rig().service.waitFor(request, 2, 6000));
    QCOMPARE(rig().service.payloads(request), (QList<QByteArray>{QByteArray(), QByteArray()}));
    QCOMPARE(started.count(), 2);
}

// A second schedule neither replaces nor logs: the first deadline stands.
void TestInspector::secondScheduleKeepsFirstDeadline()
{
    LogCapture log;
    Inspector inspector(rig().client, Base);
    inspector.scheduleShutdown(30);
    inspector.scheduleShutdown(5);
    QVERIFY(inspector.shutdownScheduled());
    QVERIFY(inspector.shutdownRemainingMs() > 25000);
    QCOMPARE(log.count(QStringLiteral("[Inspector] Scheduling System shutdown in : 30 sec(s)")), 1);
    QVERIFY(!log.contains(QStringLiteral("in : 5 sec(s)")));

    // A delay past the timer's range is held at its longest, not wrapped into a short one.
    inspector.abortShutdown();
    inspector.scheduleShutdown(3000000);
    QVERIFY(inspector.shutdownRemainingMs() > 1900000000);
    inspector.abortShutdown();
}

// Aborting with nothing scheduled is silent; an armed schedule is stopped and logged.
void TestInspector::abortOnlyWhenArmed()
{
    LogCapture log;
    Inspector inspector(rig().client, Base);
    inspector.abortShutdown();
    QVERIFY(!log.contains(QStringLiteral("Aborting")));
    inspector.scheduleShutdown(1);
    inspector.abortShutdown();
    QCOMPARE(log.count(QStringLiteral("[Inspector] Aborting System shutdown")), 1);
    QVERIFY(!inspector.shutdownScheduled());
    QSignalSpy started(&inspector, &Inspector::systemShutdownStarted);
    QVERIFY(!started.wait(1500));
}

// The ignition back on 0.5 s after the schedule ran out, while the request waits for the
// "Shutting down" page: the request is cancelled and never sent.
void TestInspector::abortCancelsRequestInItsDelay()
{
    LogCapture log;
    Inspector inspector(rig().client, Base);
    QVERIFY(start());
    QSignalSpy started(&inspector, &Inspector::systemShutdownStarted);
    inspector.scheduleShutdown(0);
    QVERIFY(started.wait());
    QCOMPARE(log.count(QStringLiteral("[Inspector] Requesting System shutdown")), 1);
    QTest::qWait(500);
    inspector.abortShutdown();
    QCOMPARE(log.count(QStringLiteral("[Inspector] Aborting System shutdown request")), 1);
    // Past the delay; a mark sent after it shows that anything the proxy sent has arrived.
    QTest::qWait(2500);
    QVERIFY(rig().client.publish(QByteArray("mark"), topic("/mark"), 0, false));
    QVERIFY(rig().service.waitFor(topic("/mark")));
    QCOMPARE(rig().service.count(topic("/power/shutdown/request/1")), 0);
}

// When the schedule runs out the shutdown starts, and its request follows after the delay.
void TestInspector::scheduledShutdownRuns()
{
    LogCapture log;
    Inspector inspector(rig().client, Base);
    QVERIFY(start());
    QSignalSpy started(&inspector, &Inspector::systemShutdownStarted);
    inspector.scheduleShutdown(0);
    QVERIFY(inspector.shutdownScheduled());
    QVERIFY(started.wait());
    QVERIFY(!inspector.shutdownScheduled());
    QCOMPARE(log.count(QStringLiteral("[Inspector] Requesting System shutdown")), 1);
    QVERIFY(rig().service.waitFor(topic("/power/shutdown/request/1"), 1, 6000));

    // Once run, a new schedule is accepted again.
    inspector.scheduleShutdown(1);
    QVERIFY(started.wait());
    QCOMPARE(started.count(), 2);
}

// The statistics topics are parsed (a bad one is logged) but never fill the maps.
void TestInspector::statisticsAreNotInterpreted()
{
    Inspector inspector(rig().client, Base);
    QVERIFY(start());
    QSignalSpy cpu(&inspector, &Inspector::cpuChanged);
    QSignalSpy memory(&inspector, &Inspector::memoryChanged);
    QSignalSpy disks(&inspector, &Inspector::disksChanged);
    QTest::ignoreMessage(QtCriticalMsg, qPrintable("[Inspector] Failed to parse JSON message: " + parserError("cpu!")));
    QVERIFY(rig().deliver(topic("/stats/cpu"), QByteArray("cpu!")));
    QVERIFY(rig().deliver(topic("/stats/cpu"), QJsonObject{{"load", 0.5}}));
    QVERIFY(rig().deliver(topic("/stats/memory"), QJsonObject{{"free", 100}}));
    QVERIFY(rig().deliver(topic("/stats/disk"), QJsonObject{{"root", QJsonObject{{"used", 3}}}}));
    QVERIFY(inspector.cpu().isEmpty() && inspector.memory().isEmpty() && inspector.disks().isEmpty());
    QCOMPARE(cpu.count() + memory.count() + disks.count(), 0);
}

// Monitoring refreshes at once and at every interval until stopped with 0.
void TestInspector::monitorRefreshesUntilStopped()
{
    LogCapture log;
    Inspector inspector(rig().client, Base);
    QVERIFY(start());
    inspector.monitor(100);
    QCOMPARE(log.count(QStringLiteral("[Inspector] Monitor started : 100 msec(s)")), 1);
    QVERIFY(rig().service.waitFor(topic("/stats/cpu/get"), 3));
    inspector.monitor(0);
    QCOMPARE(log.count(QStringLiteral("[Inspector] Monitor stopped")), 1);
    const int refreshes = log.count(QStringLiteral("[Inspector] Refreshing data"));
    QSignalSpy never(&inspector, &Inspector::statusChanged);
    never.wait(400);
    QCOMPARE(log.count(QStringLiteral("[Inspector] Refreshing data")), refreshes);
}

// Non-JSON on any subscribed topic is logged with the parser's complaint and changes nothing.
void TestInspector::badPayloadsChangeNothing_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QByteArray>("payload");
    for (const char *suffix : {"/info", "/status", "/audio", "/stats/cpu", "/stats/memory", "/stats/disk"}) {
        for (const auto &bad : nonJsonPayloads())
            QTest::addRow("%s %s", suffix, bad.first) << QString::fromLatin1(suffix) << bad.second;
    }
}

void TestInspector::badPayloadsChangeNothing()
{
    QFETCH(QString, suffix);
    QFETCH(QByteArray, payload);
    Inspector inspector(rig().client, Base);
    QVERIFY(start());
    QVERIFY(rig().deliver(topic("/status"), QJsonObject{{"service", true}}));
    QVERIFY(rig().deliver(topic("/audio"), QJsonObject{{"internal", QJsonObject{{"volume", 70}}}}));
    QVERIFY(rig().deliver(topic("/info"), QJsonObject{{"service", QJsonObject{{"version", "2.1"}}}}));
    QCOMPARE(inspector.info().value(QStringLiteral("version")).toString(), QStringLiteral("2.1"));
    const QVariantList before = snapshot(inspector);
    QTest::ignoreMessage(QtCriticalMsg, qPrintable("[Inspector] Failed to parse JSON message: " + parserError(payload)));
    QVERIFY(rig().deliver(Base + suffix, payload));
    QCOMPARE(snapshot(inspector), before);
}

QTEST_GUILESS_MAIN(TestInspector)
#include "tst_inspector.moc"
