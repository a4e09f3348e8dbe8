#include "brokerfixture.h"
#include "servicedouble.h"
#include "waituntil.h"

#include "mqtt/mqttclient.h"
#include "network/ethernet.h"
#include "network/ipv4.h"
#include "network/network.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {
// Pauses of the simulated services shrink twenty-fold: an NTP synchronisation takes 75 ms.
const QString Speed = QStringLiteral("20");
constexpr int StartMs = 5000;

// The member at a slash-separated path, e.g. "device/rfid/state".
QJsonValue at(const QJsonObject &object, const QString &path)
{
    QJsonValue value = object;
    const QStringList keys = path.split(QLatin1Char('/'));
    for (const QString &key : keys)
        value = value.toObject().value(key);
    return value;
}

QByteArray bytes(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
} // namespace

class TestSimulator : public QObject
{
    Q_OBJECT

private:
    bool startSimulator(const QStringList &arguments = {QStringLiteral("--scenario"), QStringLiteral("interactive")})
    {
        m_simulator = std::make_unique<QProcess>();
        m_simulator->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_simulator->start(QStringLiteral(TESSIVO_SIMULATOR),
                           QStringList{"--host", m_broker.host(), "--port", QString::number(m_broker.port()),
                                       "--speed", Speed}
                                   + arguments);
        if (!m_simulator->waitForStarted())
            return false;
        return waitUntil([this] { return output().contains("services online"); }, StartMs);
    }

    QByteArray output()
    {
        m_output += m_simulator->readAllStandardOutput();
        return m_output;
    }

    void command(const QByteArray &line) { m_simulator->write(line + '\n'); }

    std::unique_ptr<ServiceDouble> watch(const QString &filter = QStringLiteral("orvo/#"))
    {
        auto service = std::make_unique<ServiceDouble>(m_broker.port(), QStringLiteral("double-%1").arg(++m_doubles));
        if (!service->start() || !service->subscribe(filter))
            return nullptr;
        return service;
    }

    int runProbe()
    {
        QProcess process;
        process.start(QStringLiteral(TESSIVO_SIMULATOR),
                      {"--probe", "--host", m_broker.host(), "--port", QString::number(m_broker.port())});
        if (!process.waitForFinished(5000))
            return -1;
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    BrokerFixture m_broker;
    std::unique_ptr<QProcess> m_simulator;
    QByteArray m_output;
    int m_doubles = 0;

private slots:
    void initTestCase() { QVERIFY(m_broker.start()); }

    void cleanup()
    {
        if (m_simulator && m_simulator->state() != QProcess::NotRunning) {
            m_simulator->terminate();
            if (!m_simulator->waitForFinished(3000))
                m_simulator->kill();
        }
        m_simulator.reset();
        m_output.clear();
    }

    // On start every service announces its state, retained for whoever connects later.
    void announcesStateOnStart_data()
    {
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QJsonValue>("expected");
        QTest::newRow("validator online") << "orvo/blm/status" << "state/hasRoute" << QJsonValue(true);
        QTest::newRow("validator service") << "orvo/blm/status" << "service" << QJsonValue(true);
        QTest::newRow("validator config") << "orvo/blm/config" << "validator/passbackTime" << QJsonValue("30");
        QTest::newRow("board active") << "orvo/board/status" << "device/active" << QJsonValue(true);
        QTest::newRow("ignition on") << "orvo/board/status" << "device/ignition" << QJsonValue(true);
        QTest::newRow("inspector") << "orvo/inspector/status" << "service" << QJsonValue(true);
        QTest::newRow("ethernet") << "orvo/network/ethernet/state" << "interface" << QJsonValue("eth0");
        QTest::newRow("ntp server") << "orvo/device/clock/ntp/config" << "server" << QJsonValue("pool.ntp.org");
        QTest::newRow("software") << "orvo/device/status" << "update/software/current" << QJsonValue("2.4.1");
    }
    void announcesStateOnStart()
    {
        QFETCH(QString, topic);
        QFETCH(QString, path);
        QFETCH(QJsonValue, expected);
        QVERIFY(startSimulator());
        // Subscribed only after the announcement: what arrives was retained.
        const auto service = watch();
        QVERIFY(service);
        QVERIFY(service->waitFor(topic));
        QCOMPARE(at(service->lastJson(topic), path), expected);
    }

    // Each interactive command publishes what the real service would on that occasion.
    void commandsPublishEvents_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QJsonValue>("expected");
        QTest::newRow("valid pass") << QByteArray("valid 8") << "orvo/blm/rfid/scanned" << "transaction/type" << QJsonValue(8);
        QTest::newRow("valid result") << QByteArray("valid 8") << "orvo/blm/rfid/scanned" << "transaction/result" << QJsonValue(true);
        QTest::newRow("valid ticket") << QByteArray("valid 0") << "orvo/blm/barcode/scanned" << "transaction/result" << QJsonValue(true);
        QTest::newRow("card already validated") << QByteArray("deny 207") << "orvo/blm/rfid/scanned" << "transaction/denyReason/id" << QJsonValue(207);
        QTest::newRow("ticket already validated") << QByteArray("deny 103") << "orvo/blm/barcode/scanned" << "transaction/denyReason/id" << QJsonValue(103);
        QTest::newRow("card found first") << QByteArray("valid 2") << "orvo/rfid/card/found" << "type" << QJsonValue(256);
        QTest::newRow("retry") << QByteArray("retry") << "orvo/blm/rfid/retry" << "" << QJsonValue(QJsonObject());
        QTest::newRow("degraded") << QByteArray("status degraded") << "orvo/blm/status" << "state/hasObu" << QJsonValue(false);
        QTest::newRow("reader fault") << QByteArray("status offline 0004") << "orvo/blm/status" << "state/hasRfid" << QJsonValue(false);
        QTest::newRow("service down") << QByteArray("status offline #0002") << "orvo/blm/status" << "service" << QJsonValue(false);
        QTest::newRow("no route") << QByteArray("status out-of-service") << "orvo/blm/status" << "state/hasRoute" << QJsonValue(false);
        QTest::newRow("init") << QByteArray("status init") << "orvo/blm/status" << "state/init" << QJsonValue(true);
        QTest::newRow("ignition off") << QByteArray("ignition off") << "orvo/board/event" << "data" << QJsonValue(0);
    }
    void commandsPublishEvents()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, topic);
        QFETCH(QString, path);
        QFETCH(QJsonValue, expected);
        QVERIFY(startSimulator());
        const auto service = watch();
        QVERIFY(service);
        QVERIFY(service->waitFor(QStringLiteral("orvo/blm/status")));
        service->clear();
        command(line);
        QVERIFY(service->waitFor(topic));
        QCOMPARE(path.isEmpty() ? QJsonValue(service->lastJson(topic)) : at(service->lastJson(topic), path), expected);
    }

    // A request is answered with the changed state on the service's state topic.
    void requestsAreEchoed_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QJsonValue>("expected");
        const QByteArray config = bytes({{"blm", QJsonObject{{"obu_host", "10.1.1.9"}, {"obu_username", "obu"},
                                                            {"obu_password", "x"}, {"obu_port", 8883}}},
                                         {"validator", QJsonObject{{"passbackTime", 45}, {"qr_passback", false}}}});
        const QByteArray manual = bytes({{"interface", "eth0"}, {"method", "manual"}, {"address", "192.168.5.20"},
                                         {"netmask", "255.255.255.0"}, {"gateway", "192.168.5.1"},
                                         {"dns0", "192.168.5.1"}, {"dns1", ""}});
        QTest::newRow("reader on") << "orvo/rfid/enable" << QByteArray("{\n    \"autoread\": true\n}\n")
                                   << "orvo/blm/status" << "device/rfid/state" << QJsonValue(2);
        QTest::newRow("barcode on") << "orvo/barcode/enable" << QByteArray() << "orvo/blm/status"
                                    << "device/barcode/enabled" << QJsonValue(true);
        QTest::newRow("obu port as text") << "orvo/blm/config/set" << config << "orvo/blm/config" << "blm/obu_port" << QJsonValue("8883");
        QTest::newRow("qr passback as text") << "orvo/blm/config/set" << config << "orvo/blm/config" << "validator/qr_passback" << QJsonValue("false");
        QTest::newRow("power") << "orvo/board/power/set" << bytes({{"display", false}}) << "orvo/board/power" << "display" << QJsonValue(false);
        QTest::newRow("brightness") << "orvo/board/display/set" << bytes({{"brightness", 40}}) << "orvo/board/display" << "brightness" << QJsonValue(40);
        QTest::newRow("mute") << "orvo/board/audio/set" << bytes({{"mute", true}}) << "orvo/board/audio" << "mute" << QJsonValue(true);
        QTest::newRow("shutdown delay") << "orvo/board/config/set" << bytes({{"device", QJsonObject{{"delayShutdownFor", 420}}}})
                                        << "orvo/board/config" << "device/delayShutdownFor" << QJsonValue(420);
        QTest::newRow("volume") << "orvo/inspector/audio/set" << bytes({{"internal", QJsonObject{{"volume", 35}}}})
                                << "orvo/inspector/audio" << "internal/volume" << QJsonValue(35);
        QTest::newRow("ntp server") << "orvo/device/clock/ntp/config/set" << bytes({{"enabled", true}, {"server", "gr.pool.ntp.org"}})
                                    << "orvo/device/clock/ntp/config" << "server" << QJsonValue("gr.pool.ntp.org");
        QTest::newRow("ntp sync") << "orvo/device/clock/ntp/sync" << QByteArray() << "orvo/device/clock/ntp/status" << "synced" << QJsonValue(true);
        QTest::newRow("ethernet manual") << "orvo/network/ethernet/config/set" << manual << "orvo/network/ethernet/state"
                                         << "ipv4/address" << QJsonValue("192.168.5.20");
        QTest::newRow("update check") << "orvo/device/software/check" << QByteArray() << "orvo/device/status"
                                      << "update/software/pending" << QJsonValue("2.5.0");
    }
    void requestsAreEchoed()
    {
        QFETCH(QString, request);
        QFETCH(QByteArray, payload);
        QFETCH(QString, topic);
        QFETCH(QString, path);
        QFETCH(QJsonValue, expected);
        QVERIFY(startSimulator());
        const auto service = watch();
        QVERIFY(service);
        QVERIFY(service->waitFor(topic));
        service->clear();
        QVERIFY(service->publish(request, payload));
        QVERIFY(service->waitFor(topic));
        QTRY_COMPARE(at(service->lastJson(topic), path), expected);
    }

    // A malformed or out-of-range request changes nothing: the next "get" shows the old state.
    void badRequestsLeaveStateAlone_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("get");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QJsonValue>("expected");
        const QString display = QStringLiteral("orvo/board/display");
        QTest::newRow("not JSON") << display + "/set" << QByteArray("brightness=5") << display << "brightness" << QJsonValue(80);
        QTest::newRow("invalid UTF-8") << display + "/set" << QByteArray("\xff\xfe{") << display << "brightness" << QJsonValue(80);
        QTest::newRow("array") << display + "/set" << QByteArray("[40]") << display << "brightness" << QJsonValue(80);
        QTest::newRow("text") << display + "/set" << bytes({{"brightness", "loud"}}) << display << "brightness" << QJsonValue(80);
        QTest::newRow("huge") << display + "/set" << QByteArray("{\"brightness\": 1e300}") << display << "brightness" << QJsonValue(80);
        QTest::newRow("null mode") << display + "/set" << QByteArray("{\"mode\": null}") << display << "mode" << QJsonValue("auto");
        QTest::newRow("unknown peripheral") << "orvo/board/power/set" << bytes({{"display", "off"}, {"warp", true}})
                                            << "orvo/board/power" << "display" << QJsonValue(true);
        QTest::newRow("negative volume") << "orvo/inspector/audio/set" << bytes({{"internal", QJsonObject{{"volume", -5}}}})
                                         << "orvo/inspector/audio" << "internal/volume" << QJsonValue(70);
        QTest::newRow("bad address") << "orvo/network/ethernet/config/set"
                                     << bytes({{"interface", "eth0"}, {"method", "manual"}, {"address", "300.1.1.1"}, {"netmask", "255.255.255.0"}})
                                     << "orvo/network/ethernet/config" << "method" << QJsonValue("auto");
        QTest::newRow("bad ntp server") << "orvo/device/clock/ntp/config/set" << bytes({{"server", "no such host!"}})
                                        << "orvo/device/clock/ntp/config" << "server" << QJsonValue("pool.ntp.org");
        QTest::newRow("bad obu port") << "orvo/blm/config/set" << bytes({{"blm", QJsonObject{{"obu_port", "abc"}}}})
                                      << "orvo/blm/config" << "blm/obu_port" << QJsonValue("1883");
    }
    void badRequestsLeaveStateAlone()
    {
        QFETCH(QString, request);
        QFETCH(QByteArray, payload);
        QFETCH(QString, get);
        QFETCH(QString, path);
        QFETCH(QJsonValue, expected);
        QVERIFY(startSimulator());
        const auto service = watch();
        QVERIFY(service);
        QVERIFY(service->waitFor(get));
        QVERIFY(service->publish(request, payload));
        QVERIFY(service->publish(get + "/get", QByteArray("{}")));
        // The "get" is answered after the bad request was handled: the last answer tells.
        const int before = service->count(get);
        QVERIFY(service->waitFor(get, before + 1));
        QCOMPARE(at(service->lastJson(get), path), expected);
        QCOMPARE(m_simulator->state(), QProcess::Running);
    }

    // A maintenance barcode carries the JSON of the named file unchanged.
    void maintenanceBarcodeCarriesFile()
    {
        QTemporaryDir dir;
        const QJsonObject content{{"validator", QJsonObject{{"obc", "mqtt://obu@192.168.10.1:1883"}}}};
        QFile file(dir.filePath("barcode.json"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(content).toJson());
        file.close();
        QVERIFY(startSimulator());
        const auto service = watch();
        QVERIFY(service);
        command("maintenance-barcode " + dir.filePath("missing.json").toUtf8());
        command("maintenance-barcode " + file.fileName().toUtf8());
        const QString topic = QStringLiteral("orvo/blm/barcode/maintenance/scanned");
        QVERIFY(service->waitFor(topic));
        QCOMPARE(service->lastJson(topic), content);
        QCOMPARE(service->count(topic), 1);
        QVERIFY(output().contains("maintenance barcode not scanned: "));
    }

    // The application's own network proxy reads the simulated state and sees its saved
    // ethernet configuration come back from the service.
    void networkProxyRoundTrip()
    {
        QVERIFY(startSimulator());
        manager::MqttClient client;
        client.setHostname(m_broker.host());
        client.setPort(m_broker.port());
        manager::Network network(client, QStringLiteral("orvo/network"));
        client.connect();
        manager::Ethernet *ethernet = network.ethernet();
        QTRY_COMPARE(network.hostname(), QStringLiteral("orvo-validator-0142"));
        QTRY_COMPARE(ethernet->interface(), QStringLiteral("eth0"));
        QCOMPARE(ethernet->method(), QStringLiteral("auto"));
        QCOMPARE(ethernet->ipv4()->address(), QStringLiteral("192.168.1.142"));

        ethernet->setMethod(QStringLiteral("manual"));
        ethernet->config()->setAddress(QStringLiteral("192.168.7.30"));
        ethernet->config()->setMask(QStringLiteral("255.255.255.0"));
        ethernet->config()->setGateway(QStringLiteral("192.168.7.1"));
        ethernet->save();
        QTRY_COMPARE(ethernet->ipv4()->address(), QStringLiteral("192.168.7.30"));
        QTRY_COMPARE(network.primaryConnection()->ipv4()->address(), QStringLiteral("192.168.7.30"));
    }

    // The demo passes through results, faults, out-of-service and the ignition, and goes on.
    void demoCyclesThroughScreens()
    {
        const auto service = watch();
        QVERIFY(service);
        QVERIFY(startSimulator({"--scenario", "demo", "--speed", "40"}));
        QTRY_VERIFY_WITH_TIMEOUT(service->count("orvo/board/event") >= 2, 10000);
        QSet<QString> seen;
        for (const QByteArray &payload : service->payloads("orvo/blm/status")) {
            const QJsonObject status = QJsonDocument::fromJson(payload).object();
            const QJsonObject state = status.value("state").toObject();
            if (state.value("init").toBool())
                seen << "init";
            else if (!state.value("hasRfid").toBool(true))
                seen << "offline";
            else if (!state.value("hasRoute").toBool(true))
                seen << "out-of-service";
            else if (!state.value("hasObu").toBool(true))
                seen << "degraded";
            else
                seen << "online";
        }
        QCOMPARE(seen, (QSet<QString>{"online", "degraded", "offline", "out-of-service", "init"}));
        QVERIFY(service->count("orvo/blm/rfid/scanned") >= 4);
        QVERIFY(service->count("orvo/blm/barcode/scanned") >= 2);
        QCOMPARE(service->count("orvo/blm/rfid/retry"), 1);
        // Round the loop again.
        QTRY_VERIFY_WITH_TIMEOUT(service->count("orvo/blm/rfid/retry") >= 2, 10000);
    }

    // However the simulator ends, it leaves no retained service state behind.
    void stoppingClearsRetainedState_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("quit") << "quit";
        QTest::newRow("end of input") << "eof";
        QTest::newRow("SIGTERM") << "term";
    }
    void stoppingClearsRetainedState()
    {
        QFETCH(QString, how);
        QVERIFY(startSimulator());
        if (how == "quit")
            command("quit");
        else if (how == "eof")
            m_simulator->closeWriteChannel();
        else
            m_simulator->terminate();
        QVERIFY(m_simulator->waitForFinished(5000));
        QCOMPARE(m_simulator->exitCode(), 0);
        const auto service = watch();
        QVERIFY(service);
        // Retained messages arrive right after the subscription, so before our own marker.
        QVERIFY(service->publish("orvo/marker", QByteArray("{}")));
        QVERIFY(service->waitFor("orvo/marker"));
        QCOMPARE(service->messages().size(), 1);
    }

    // The probe tells whether services keep a status on the broker.
    void probe_data()
    {
        QTest::addColumn<QByteArray>("retained");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("empty broker") << QByteArray() << 1;
        QTest::newRow("validator status") << QByteArray("{\"service\": true}") << 0;
    }
    void probe()
    {
        QFETCH(QByteArray, retained);
        QFETCH(int, exitCode);
        const auto service = watch(QStringLiteral("orvo/test/none"));
        QVERIFY(service);
        if (!retained.isEmpty())
            QVERIFY(service->publish("orvo/blm/status", retained, true));
        QCOMPARE(runProbe(), exitCode);
        service->publish("orvo/blm/status", QByteArray(), true);
    }
};

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
