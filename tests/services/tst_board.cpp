#include "logcapture.h"
#include "proxyrig.h"

#include "services/board.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QTranslator>

using manager::Board;

namespace {
const QString Base = QStringLiteral("orvo/board");
const QString Probe = QStringLiteral("orvo/board/probe");

QString topic(const char *suffix)
{
    return Base + QLatin1String(suffix);
}

QJsonObject onlineStatus(const QJsonObject &device)
{
    QJsonObject full = device;
    full.insert(QStringLiteral("active"), true);
    return QJsonObject{{QStringLiteral("service"), true}, {QStringLiteral("device"), full}};
}

const QJsonObject FullDevice{
    {QStringLiteral("ignition"), true},
    {QStringLiteral("poleId"), QStringLiteral("P-17")},
    {QStringLiteral("temperature"), 41.5},
    {QStringLiteral("voltage"), 24.25},
    {QStringLiteral("uptime"), 3600},
    {QStringLiteral("hardwareStatus"), QJsonObject{{QStringLiteral("rtcFailed"), true}}},
};

// Everything the board proxy exposes, to show a message left it untouched.
QVariantList snapshot(const Board &board)
{
    return {board.status(), board.ignition(), board.poleId(), board.temperature(), board.voltage(),
            board.uptime(), board.rtcFailed(), board.displayBrightness(), board.displayBrightnessMode(),
            board.ambientLightSensor(), board.info(), board.audioEnabled(), board.peripherals(),
            board.delayShutdownFor()};
}

// Counts every change signal of the proxy.
class ChangeSpies
{
public:
    explicit ChangeSpies(Board *board)
    {
        const QMetaObject *meta = board->metaObject();
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            const QMetaMethod method = meta->method(i);
            if (method.methodType() == QMetaMethod::Signal)
                m_spies.append(new QSignalSpy(board, QByteArray("2") + method.methodSignature()));
        }
    }
    ~ChangeSpies() { qDeleteAll(m_spies); }
    QStringList fired() const
    {
        QStringList names;
        for (QSignalSpy *spy : m_spies) {
            if (spy->count())
                names.append(QString::fromLatin1(spy->signal()).section(QLatin1Char('('), 0, 0));
        }
        return names;
    }

private:
    QList<QSignalSpy *> m_spies;
};
} // namespace

class TestBoard : public ProxyTest
{
    Q_OBJECT

public:
    TestBoard()
        : ProxyTest(Probe, Base + QStringLiteral("/#"))
    {
    }

private slots:
    void refreshesOnEveryConnection();
    void offlineAndErrorLeaveValuesAlone_data();
    void offlineAndErrorLeaveValuesAlone();
    void statusSignalsOnlyChanges();
    void missingIgnitionKeepsLastState_data();
    void missingIgnitionKeepsLastState();
    void ignitionEvent_data();
    void ignitionEvent();
    void emptyDisplayResetsValues();
    void powerSkipsNullAndListsPeripherals();
    void peripheralNamesTranslatedOnFirstRead();
    void audioMuteIsNegated();
    void shutdownDelayFollowsEchoOnly();
    void requestsCarryTheirPayloads_data();
    void requestsCarryTheirPayloads();
    void requestsUseIndentedJson();
    void monitorRefreshesUntilStopped();
    void nonJsonIsLoggedAndDropped_data();
    void nonJsonIsLoggedAndDropped();
    void oddJsonShapesDoNotCrash_data();
    void oddJsonShapesDoNotCrash();
    void onlyExactTopicsReachHandlers();
};

// Every connection to the broker, the first and each after a loss, asks for the full state.
void TestBoard::refreshesOnEveryConnection()
{
    LogCapture log;
    Board board(rig().client, Base);
    QVERIFY(connectOnly());
    const QStringList gets = {topic("/status/get"), topic("/display/get"), topic("/power/get"), topic("/audio/get")};
    for (const QString &get : gets) {
        QVERIFY(rig().service.waitFor(get));
        QCOMPARE(rig().service.payloads(get).first(), QByteArray("{}"));
    }
    QCOMPARE(log.count(QStringLiteral("[Board] Subscribing to topics")), 1);
    QCOMPARE(log.count(QStringLiteral("[Board] Refreshing data")), 1);

    BrokerFixture second;
    QVERIFY(second.start());
    ServiceDouble watcher(second.port(), QStringLiteral("watcher"));
    QVERIFY(watcher.start());
    QVERIFY(watcher.subscribe(Base + QStringLiteral("/#")));
    QSignalSpy connected(&rig().client, &manager::MqttClient::connected);
    rig().client.setPort(second.port());
    rig().client.disconnect();
    QVERIFY(connected.wait(10000));
    for (const QString &get : gets)
        QVERIFY(watcher.waitFor(get));
}

// "service" false reads as offline, an inactive board as error; neither touches the values.
void TestBoard::offlineAndErrorLeaveValuesAlone_data()
{
    QTest::addColumn<QJsonObject>("message");
    QTest::addColumn<QString>("status");
    QTest::newRow("service false") << QJsonObject{{"service", false}, {"device", onlineStatus({})}} << "offline";
    QTest::newRow("service absent") << QJsonObject{{"device", FullDevice}} << "offline";
    QTest::newRow("service not a bool") << QJsonObject{{"service", 1}} << "offline";
    QTest::newRow("board inactive") << QJsonObject{{"service", true}, {"device", QJsonObject{{"active", false}}}}
                                    << "error";
    QTest::newRow("no device") << QJsonObject{{"service", true}} << "error";
}

void TestBoard::offlineAndErrorLeaveValuesAlone()
{
    QFETCH(QJsonObject, message);
    QFETCH(QString, status);
    Board board(rig().client, Base);
    QVERIFY(start());
    QJsonObject device = FullDevice;
    device.insert(QStringLiteral("ignition"), false);
    QVERIFY(rig().deliver(topic("/status"), onlineStatus(device)));
    QTRY_COMPARE(board.status(), QStringLiteral("online"));
    const QVariantList before = snapshot(board);

    QSignalSpy statusChanged(&board, &Board::statusChanged);
    ChangeSpies spies(&board);
    QVERIFY(rig().deliver(topic("/status"), message));
    QCOMPARE(board.status(), status);
    QCOMPARE(spies.fired(), QStringList{QStringLiteral("statusChanged")});
    QVariantList after = snapshot(board);
    after[0] = before[0];
    QCOMPARE(after, before);
}

// A repeated report changes nothing and signals nothing; each value signals only its change.
void TestBoard::statusSignalsOnlyChanges()
{
    LogCapture log;
    Board board(rig().client, Base);
    QVERIFY(start());
    {
        ChangeSpies spies(&board);
        QVERIFY(rig().deliver(topic("/status"), onlineStatus(FullDevice)));
        QCOMPARE(spies.fired(), (QStringList{"statusChanged", "poleIdChanged", "temperatureChanged",
                                             "voltageChanged", "uptimeChanged", "rtcFailedChanged"}));
    }
    QCOMPARE(board.poleId(), QStringLiteral("P-17"));
    QCOMPARE(board.temperature(), 41.5);
    QCOMPARE(board.voltage(), 24.25);
    QCOMPARE(board.uptime(), 3600);
    QVERIFY(board.rtcFailed());
    QVERIFY(log.contains(QStringLiteral("[Board] Status changed : online")));
    QVERIFY(log.contains(QStringLiteral("[Board] RTC Status changed : FAIL")));
    QVERIFY(log.contains(QStringLiteral("[Board] Pole Id changed : P-17")));
    {
        ChangeSpies spies(&board);
        QVERIFY(rig().deliver(topic("/status"), onlineStatus(FullDevice)));
        QCOMPARE(spies.fired(), QStringList());
    }
    QJsonObject device = FullDevice;
    device.insert(QStringLiteral("uptime"), 3601);
    ChangeSpies spies(&board);
    QVERIFY(rig().deliver(topic("/status"), onlineStatus(device)));
    QCOMPARE(spies.fired(), QStringList{QStringLiteral("uptimeChanged")});
}

// A report without "ignition" keeps the last state (no logout, no power-off); a reported value
// sets it, null and other non-bools reading as off.
void TestBoard::missingIgnitionKeepsLastState_data()
{
    QTest::addColumn<QJsonValue>("ignition");
    QTest::addColumn<bool>("expected");
    QTest::addColumn<bool>("signalled");
    QTest::newRow("absent") << QJsonValue(QJsonValue::Undefined) << true << false;
    QTest::newRow("false") << QJsonValue(false) << false << true;
    QTest::newRow("true") << QJsonValue(true) << true << false;
    QTest::newRow("null") << QJsonValue(QJsonValue::Null) << false << true;
    QTest::newRow("string") << QJsonValue("1") << false << true;
}

void TestBoard::missingIgnitionKeepsLastState()
{
    QFETCH(QJsonValue, ignition);
    QFETCH(bool, expected);
    QFETCH(bool, signalled);
    LogCapture log;
    Board board(rig().client, Base);
    QVERIFY(start());
    QJsonObject device = FullDevice;
    device.remove(QStringLiteral("ignition"));
    if (!ignition.isUndefined())
        device.insert(QStringLiteral("ignition"), ignition);
    QSignalSpy ignitionChanged(&board, &Board::ignitionChanged);
    QVERIFY(rig().deliver(topic("/status"), onlineStatus(device)));
    QTRY_COMPARE(board.status(), QStringLiteral("online"));
    QCOMPARE(board.ignition(), expected);
    QCOMPARE(ignitionChanged.count(), signalled ? 1 : 0);
    QCOMPARE(log.count(QStringLiteral("[Board] Ignition changed : false")), signalled ? 1 : 0);
}

// The ignition event: "data" that reads as the text "0" means off, anything else on. Only a
// real change signals: the board reports one edge in its status and as this event.
void TestBoard::ignitionEvent_data()
{
    QTest::addColumn<QJsonObject>("event");
    QTest::addColumn<bool>("expected");
    QTest::addColumn<QString>("line");
    QTest::newRow("number 0") << QJsonObject{{"name", "IgnitionChanged"}, {"data", 0}} << false
                              << "[Board] Event received : IgnitionChanged [0]";
    QTest::newRow("text 0") << QJsonObject{{"name", "IgnitionChanged"}, {"data", "0"}} << false
                            << "[Board] Event received : IgnitionChanged [\"0\"]";
    QTest::newRow("text 1") << QJsonObject{{"name", "IgnitionChanged"}, {"data", "1"}} << true
                            << "[Board] Event received : IgnitionChanged [\"1\"]";
    QTest::newRow("true") << QJsonObject{{"name", "IgnitionChanged"}, {"data", true}} << true
                          << "[Board] Event received : IgnitionChanged [true]";
    QTest::newRow("false") << QJsonObject{{"name", "IgnitionChanged"}, {"data", false}} << true
                           << "[Board] Event received : IgnitionChanged [false]";
    QTest::newRow("no data") << QJsonObject{{"name", "IgnitionChanged"}} << true
                             << "[Board] Event received : IgnitionChanged [null]";
}

void TestBoard::ignitionEvent()
{
    QFETCH(QJsonObject, event);
    QFETCH(bool, expected);
    QFETCH(QString, line);
    LogCapture log;
    Board board(rig().client, Base);
    QVERIFY(start());
    QSignalSpy ignitionChanged(&board, &Board::ignitionChanged);
    // Before any report the ignition reads on.
    const int edges = expected ? 0 : 1;
    QVERIFY(rig().deliver(topic("/event"), event));
    QCOMPARE(board.ignition(), expected);
    QCOMPARE(ignitionChanged.count(), edges);
    QVERIFY(log.contains(line));
    QVERIFY(rig().deliver(topic("/event"), event));
    QJsonObject device = FullDevice;
    device.insert(QStringLiteral("ignition"), expected);
    QVERIFY(rig().deliver(topic("/status"), onlineStatus(device)));
    QTRY_COMPARE(board.status(), QStringLiteral("online"));
    QCOMPARE(ignitionChanged.count(), edges);

    // Other events are only logged.
    QVERIFY(rig().deliver(topic("/event"), QJsonObject{{"name", "ignitionchanged"}, {"data", !expected}}));
    QCOMPARE(board.ignition(), expected);
    QCOMPARE(ignitionChanged.count(), edges);
}

// A zero-byte display message reads as an empty object and resets the three values.
void TestBoard::emptyDisplayResetsValues()
{
    Board board(rig().client, Base);
    QVERIFY(start());
    QVERIFY(rig().deliver(topic("/display"), QJsonObject{{"brightness", 80}, {"sensor", 312}, {"mode", "auto"}}));
    QCOMPARE(board.displayBrightness(), 80);
    QCOMPARE(board.ambientLightSensor(), 312);
    QCOMPARE(board.displayBrightnessMode(), QStringLiteral("auto"));

    ChangeSpies spies(&board);
    QVERIFY(rig().deliver(topic("/display"), QByteArray()));
    QCOMPARE(board.displayBrightness(), 0);
    QCOMPARE(board.ambientLightSensor(), 0);
    QCOMPARE(board.displayBrightnessMode(), QString());
    QCOMPARE(spies.fired(),
             (QStringList{"displayBrightnessChanged", "displayBrightnessModeChanged", "ambientLightSensorChanged"}));
}

// Null power states are skipped; each real change signals once, the list once per message;
// the list comes in key order with display names, empty for keys the table does not know.
void TestBoard::powerSkipsNullAndListsPeripherals()
{
    LogCapture log;
    Board board(rig().client, Base);
    QVERIFY(start());
    QVERIFY(rig().deliver(topic("/power"), QJsonObject{{"usbHub", true}, {"display", true}}));
    QCOMPARE(board.peripheralPower(QStringLiteral("usbHub")), true);

    QSignalSpy power(&board, &Board::peripheralPowerChanged);
    QSignalSpy list(&board, &Board::peripheralsChanged);
    QVERIFY(rig().deliver(topic("/power"), QJsonObject{{"touch", true}, {"usbHub", QJsonValue::Null},
                                                        {"display", true}, {"gsmModem", false}}));
    QCOMPARE(power.count(), 2);
    QCOMPARE(power.at(0), (QVariantList{"gsmModem", false}));
    QCOMPARE(power.at(1), (QVariantList{"touch", true}));
    QCOMPARE(list.count(), 1);
    QVERIFY(log.contains(QStringLiteral("[Board] Peripheral power changed 'touch' : true")));
    QCOMPARE(board.peripheralPower(QStringLiteral("usbHub")), true);
    QCOMPARE(board.peripheralPower(QStringLiteral("mPCIe1")), false);

    const QVariantList expected = {
        QVariantMap{{"item", "display"}, {"descr", "Display"}, {"value", true}},
        QVariantMap{{"item", "gsmModem"}, {"descr", ""}, {"value", false}},
        QVariantMap{{"item", "touch"}, {"descr", "Touch"}, {"value", true}},
        QVariantMap{{"item", "usbHub"}, {"descr", "USB Hub"}, {"value", true}},
    };
    QCOMPARE(board.peripherals(), expected);

    // The same states again change nothing.
    QVERIFY(rig().deliver(topic("/power"), QJsonObject{{"touch", true}, {"display", true}}));
    QCOMPARE(list.count(), 1);

    // A write from the scene is only recorded.
    board.setPeripherals({});
    QCOMPARE(board.peripherals(), expected);

    // Endless new names keep the newest 64, the known peripherals among them, with one warning
    // per message that dropped any.
    log.clear();
    for (int batch = 0; batch < 4; ++batch) {
        QJsonObject names;
        for (int i = 0; i < 50; ++i)
            names.insert(QStringLiteral("junk%1").arg(batch * 50 + i, 3, 10, QLatin1Char('0')), true);
        QVERIFY(rig().deliver(topic("/power"), names));
    }
    QCOMPARE(board.peripherals().size(), 64);
    QCOMPARE(board.peripheralPower(QStringLiteral("display")), true);
    QCOMPARE(board.peripheralPower(QStringLiteral("junk199")), true);
    QCOMPARE(board.peripheralPower(QStringLiteral("junk100")), false);
    QCOMPARE(log.count(QStringLiteral("[Board] WARN: More than 64 peripherals reported, dropped the oldest : 50")), 2);
}

// Display names are translated in the board's context at the first read of the list, and
// kept in that language afterwards.
void TestBoard::peripheralNamesTranslatedOnFirstRead()
{
    class Greek : public QTranslator
    {
    public:
        QString translate(const char *context, const char *source, const char *, int) const override
        {
            if (QByteArray(context) == "manager::Board" && QByteArray(source) == "Display")
                return QString::fromUtf8("Οθόνη");
            return QString();
        }
        bool isEmpty() const override { return false; }
    };
    Greek greek;
    QCoreApplication::installTranslator(&greek);
    Board board(rig().client, Base);
    QVERIFY(start());
    QVERIFY(rig().deliver(topic("/power"), QJsonObject{{"display", true}, {"touch", false}}));
    auto names = [&board] {
        QStringList result;
        for (const QVariant &entry : board.peripherals())
            result.append(entry.toMap().value(QStringLiteral("descr")).toString());
        return result;
    };
    QCOMPARE(names(), (QStringList{QString::fromUtf8("Οθόνη"), "Touch"}));
    QCoreApplication::removeTranslator(&greek);
    QCOMPARE(names(), (QStringList{QString::fromUtf8("Οθόνη"), "Touch"}));
}

// audioEnabled is the negation of the reported mute, true until a mute arrives; the setter
// asks for the negated mute and waits for the echo.
void TestBoard::audioMuteIsNegated()
{
    Board board(rig().client, Base);
    QVERIFY(start());
    QVERIFY(board.audioEnabled());
    QSignalSpy changed(&board, &Board::audioEnabledChanged);
    board.setAudioEnabled(false);
    QVERIFY(rig().service.waitFor(topic("/audio/set")));
    QCOMPARE(parsed(rig().service.payloads(topic("/audio/set")).last()), (QJsonObject{{"mute", true}}));
    QVERIFY(board.audioEnabled());

    QVERIFY(rig().deliver(topic("/audio"), QJsonObject{{"mute", true}}));
    QCOMPARE(board.audioEnabled(), false);
    QCOMPARE(changed.count(), 1);
    QVERIFY(rig().deliver(topic("/audio"), QJsonObject{{"mute", true}}));
    QCOMPARE(changed.count(), 1);
    QVERIFY(rig().deliver(topic("/audio"), QJsonObject{}));
    QCOMPARE(board.audioEnabled(), true);
    QCOMPARE(changed.count(), 2);
}

// The shutdown delay changes only with the board's "/config" echo; asking for the current
// value sends nothing at all.
void TestBoard::shutdownDelayFollowsEchoOnly()
{
    LogCapture log;
    Board board(rig().client, Base);
    QVERIFY(start());
    QSignalSpy changed(&board, &Board::delayShutdownForChanged);
    board.setDelayShutdownFor(0);
    board.setDelayShutdownFor(360);
    QVERIFY(rig().service.waitFor(topic("/config/set")));
    QCOMPARE(rig().service.count(topic("/config/set")), 1);
    QCOMPARE(parsed(rig().service.payloads(topic("/config/set")).first()),
             (QJsonObject{{"device", QJsonObject{{"delayShutdownFor", 360}}}}));
    QCOMPARE(log.count(QStringLiteral("[Board] Setting board shutdown delay : 360 sec(s)")), 1);
    QCOMPARE(board.delayShutdownFor(), 0);

    QVERIFY(rig().deliver(topic("/config"), QJsonObject{{"device", QJsonObject{{"delayShutdownFor", 360}}}}));
    QCOMPARE(board.delayShutdownFor(), 360);
    QCOMPARE(changed.count(), 1);
    QVERIFY(log.contains(QStringLiteral("[Board] Board shutdown delay changed : 360 sec(s)")));

    rig().service.clear();
    board.setDelayShutdownFor(360);
    board.setLedOff(); // a later request, to show the first one never left
    QVERIFY(rig().service.waitFor(topic("/led/off/request/1")));
    QCOMPARE(rig().service.count(topic("/config/set")), 0);
}

// Each request goes to its topic with its body and its log line.
void TestBoard::requestsCarryTheirPayloads_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("line");

    auto step = [](int r, int g, int b, int duration) {
        return QJsonObject{{"color", QJsonObject{{"r", r}, {"g", g}, {"b", b}}}, {"duration", duration}};
    };
    auto json = [](const QJsonObject &object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); };
    QTest::newRow("valid") << "ledValid" << "/led/play/request/1"
                           << json({{"repeat", 3}, {"steps", QJsonArray{step(0, 255, 0, 100), step(0, 0, 0, 50)}}})
                           << "[Board] Setting LEDs to : VALID";
    QTest::newRow("invalid") << "ledInvalid" << "/led/play/request/1"
                             << json({{"repeat", 3}, {"steps", QJsonArray{step(255, 0, 0, 100), step(0, 0, 0, 50)}}})
                             << "[Board] Setting LEDs to : INVALID";
    QTest::newRow("test") << "ledTest" << "/led/play/request/1"
                          << json({{"repeat", 30},
                                   {"steps", QJsonArray{step(255, 0, 0, 1000), step(0, 0, 0, 200),
                                                        step(0, 255, 0, 1000), step(0, 0, 0, 200)}}})
                          << "[Board] Setting LEDs to : TEST";
    QTest::newRow("off") << "ledOff" << "/led/off/request/1" << QByteArray() << "";
    QTest::newRow("buzzer") << "buzzer" << "/buzzer/play/request/1"
                            << json({{"onMsec", 100}, {"offMsec", 200}, {"repeat", 3}})
                            << "[Board] Playing buzzer : on=100 msec, off=200 msec, repeat=3";
    QTest::newRow("buzzer default repeat") << "buzzer2" << "/buzzer/play/request/1"
                                           << json({{"onMsec", 50}, {"offMsec", 10}, {"repeat", 0}})
                                           << "[Board] Playing buzzer : on=50 msec, off=10 msec, repeat=0";
    QTest::newRow("brightness") << "brightness" << "/display/set" << json({{"brightness", 70}})
                                << "[Board] Setting display brightness : 70";
    QTest::newRow("mode") << "mode" << "/display/set" << json({{"mode", "manual"}})
                          << "[Board] Setting display brightness mode : manual";
    QTest::newRow("power") << "power" << "/power/set" << json({{"display", false}})
                           << "[Board] Setting peripheral power: display (false)";
    QTest::newRow("audio on") << "audio" << "/audio/set" << json({{"mute", false}})
                              << "[Board] Setting audio enabled : true";
}

void TestBoard::requestsCarryTheirPayloads()
{
    QFETCH(QString, request);
    QFETCH(QString, suffix);
    QFETCH(QByteArray, payload);
    QFETCH(QString, line);
    LogCapture log;
    Board board(rig().client, Base);
    QVERIFY(start());
    if (request == QLatin1String("ledValid"))
        board.setLedValid();
    else if (request == QLatin1String("ledInvalid"))
        board.setLedInvalid();
    else if (request == QLatin1String("ledTest"))
        board.setLedTestPattern();
    else if (request == QLatin1String("ledOff"))
        board.setLedOff();
    else if (request == QLatin1String("buzzer"))
        board.playBuzzer(100, 200, 3);
    else if (request == QLatin1String("buzzer2"))
        board.playBuzzer(50, 10);
    else if (request == QLatin1String("brightness"))
        board.setDisplayBrightness(70);
    else if (request == QLatin1String("mode"))
        board.setDisplayBrightnessMode(QStringLiteral("manual"));
    else if (request == QLatin1String("power"))
        board.setPeripheralPower(QStringLiteral("display"), false);
    else if (request == QLatin1String("audio"))
        board.setAudioEnabled(true);

    QVERIFY(rig().service.waitFor(Base + suffix));
    const QByteArray sent = rig().service.payloads(Base + suffix).first();
    if (payload.isEmpty())
        QCOMPARE(sent, QByteArray());
    else
        QCOMPARE(parsed(sent), parsed(payload));
    if (!line.isEmpty())
        QCOMPARE(log.count(line), 1);
    // Requests never change what the proxy shows.
    QCOMPARE(board.displayBrightness(), 0);
    QVERIFY(board.peripherals().isEmpty());
}

// Bodies are written in the JSON writer's indented layout.
void TestBoard::requestsUseIndentedJson()
{
    Board board(rig().client, Base);
    QVERIFY(start());
    board.setDisplayBrightness(5);
    QVERIFY(rig().service.waitFor(topic("/display/set")));
    QCOMPARE(rig().service.payloads(topic("/display/set")).first(), QByteArray("{\n    \"brightness\": 5\n}\n"));
}

// While monitoring, the state is asked for at once and at every interval; 0 stops it and
// logs so even when nothing ran.
void TestBoard::monitorRefreshesUntilStopped()
{
    LogCapture log;
    Board board(rig().client, Base);
    QVERIFY(start());
    board.monitor(0);
    QCOMPARE(log.count(QStringLiteral("[Board] Monitor stopped")), 1);

    board.monitor(100);
    QCOMPARE(log.count(QStringLiteral("[Board] Monitor started : 100 msec(s)")), 1);
    QVERIFY(rig().service.waitFor(topic("/audio/get"), 3));
    board.monitor(0);
    QCOMPARE(log.count(QStringLiteral("[Board] Monitor stopped")), 2);
    // Several intervals pass without another refresh.
    const int refreshes = log.count(QStringLiteral("[Board] Refreshing data"));
    QSignalSpy never(&board, &Board::statusChanged);
    never.wait(400);
    QCOMPARE(log.count(QStringLiteral("[Board] Refreshing data")), refreshes);
}

// Payloads that are not JSON are logged with the parser's complaint on any of the seven
// topics and change nothing.
void TestBoard::nonJsonIsLoggedAndDropped_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QByteArray>("payload");
    for (const char *suffix : {"/info", "/status", "/config", "/display", "/power", "/audio", "/event"}) {
        for (const auto &bad : nonJsonPayloads())
            QTest::addRow("%s %s", suffix, bad.first) << QString::fromLatin1(suffix) << bad.second;
    }
}

void TestBoard::nonJsonIsLoggedAndDropped()
{
    QFETCH(QString, suffix);
    QFETCH(QByteArray, payload);
    Board board(rig().client, Base);
    QVERIFY(start());
    QVERIFY(rig().deliver(topic("/status"), onlineStatus(FullDevice)));
    QVERIFY(rig().deliver(topic("/power"), QJsonObject{{"touch", true}}));
    QVERIFY(rig().deliver(topic("/display"), QJsonObject{{"brightness", 9}}));
    const QVariantList before = snapshot(board);
    ChangeSpies spies(&board);
    QTest::ignoreMessage(QtCriticalMsg, qPrintable("[Board] Failed to parse JSON message: " + parserError(payload)));
    QVERIFY(rig().deliver(Base + suffix, payload));
    QCOMPARE(snapshot(board), before);
    QCOMPARE(spies.fired(), QStringList());
}

// Valid JSON of any other shape reads missing or mistyped members as false, 0 or empty text.
void TestBoard::oddJsonShapesDoNotCrash_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QByteArray>("payload");
    const QList<QByteArray> shapes = {
        "[]", "[1,2,3]", "{}",
        "{\"service\":true,\"device\":{\"active\":true,\"ignition\":[],\"poleId\":7,\"temperature\":\"hot\","
        "\"voltage\":1e308,\"uptime\":9e30,\"hardwareStatus\":[true]}}",
        "{\"device\":\"x\",\"service\":{\"version\":5},\"brightness\":1.5,\"sensor\":-1e300,\"mode\":{},"
        "\"mute\":\"yes\",\"name\":[\"IgnitionChanged\"],\"data\":{\"a\":1}}",
        "{\"touch\":\"on\",\"display\":[],\"x\":{}}",
    };
    for (const char *suffix : {"/info", "/status", "/config", "/display", "/power", "/audio", "/event"}) {
        for (int i = 0; i < shapes.size(); ++i)
            QTest::addRow("%s %d", suffix, i) << QString::fromLatin1(suffix) << shapes.at(i);
    }
}

void TestBoard::oddJsonShapesDoNotCrash()
{
    QFETCH(QString, suffix);
    QFETCH(QByteArray, payload);
    LogCapture log;
    Board board(rig().client, Base);
    QVERIFY(start());
    QVERIFY(rig().deliver(Base + suffix, payload));
    QVERIFY(!log.contains(QStringLiteral("Failed to parse")));
    // Whatever came, the proxy still reads and still answers the next good report.
    snapshot(board);
    QVERIFY(rig().deliver(topic("/status"), onlineStatus(FullDevice)));
    QCOMPARE(board.status(), QStringLiteral("online"));
    QCOMPARE(board.poleId(), QStringLiteral("P-17"));
}

// A topic that merely contains the base topic, or lies below one of ours, is neither parsed
// (a bad payload there is not ours to report) nor handled.
void TestBoard::onlyExactTopicsReachHandlers()
{
    const QString longer = QStringLiteral("site/orvo/board/status");
    rig().client.subscribe(longer);
    rig().client.subscribe(QStringLiteral("orvo/boardx/status"));
    rig().client.subscribe(topic("/status/extra"));
    Board board(rig().client, Base);
    QVERIFY(start());
    LogCapture log;
    QVERIFY(rig().deliver(longer, QByteArray("{")));
    QVERIFY(rig().deliver(topic("/status/extra"), QByteArray("{")));
    QVERIFY(rig().deliver(longer, onlineStatus(FullDevice)));
    QVERIFY(rig().deliver(QStringLiteral("orvo/boardx/status"), onlineStatus(FullDevice)));
    QVERIFY(rig().deliver(topic("/status/extra"), onlineStatus(FullDevice)));
    QCOMPARE(board.status(), QString());
    QCOMPARE(board.poleId(), QString());
    QVERIFY(!log.contains(QStringLiteral("Failed to parse")));
}

QTEST_GUILESS_MAIN(TestBoard)
#include "tst_board.moc"
