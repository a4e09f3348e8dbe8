#include "brokerfixture.h"
#include "controllerfixture.h"
#include "servicedouble.h"
#include "waituntil.h"

#include "console.h"
#include "exporter.h"
#include "fleet.h"
#include "rollout.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <memory>

using fleet::Fleet;

namespace {

using Message = QPair<QString, QByteArray>; // topic below fleet/K1/, payload
using Messages = QList<Message>;

const QByteArray Online = R"({"service": true, "state": {"hasRfid": true, "hasRoute": true, "hasQr": true, "hasObu": true}})";
const QByteArray Up = R"({"service": true, "technician": false})";

Messages wellK1()
{
    return {{"bridge", "1"}, {"orvo/ui/status", Up}, {"orvo/ui/info", R"({"version": "1.0.21"})"},
            {"orvo/blm/status", Online}};
}

struct Result
{
    int exitCode = -1;
    QString out;
    QString err;
};

// One request to the exporter as a scraper sends it; the whole response.
QByteArray httpRequest(quint16 port, const QByteArray &request)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(5000))
        return QByteArray();
    socket.write(request);
    QByteArray response;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(10000))
        response += socket.readAll();
    return response + socket.readAll();
}

QByteArray scrape(quint16 port)
{
    return httpRequest(port, "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
}

// promtool's lint of a scrape: empty when it passes.
QString promtoolProblems(const QByteArray &metrics)
{
    QProcess promtool;
    promtool.setProcessChannelMode(QProcess::MergedChannels);
    promtool.start(QStringLiteral(TESSIVO_PROMTOOL), {"check", "metrics"});
    promtool.write(metrics);
    promtool.closeWriteChannel();
    promtool.waitForFinished(30000);
    return promtool.exitCode() == 0 ? QString() : QString::fromUtf8(promtool.readAll());
}

} // namespace

Q_DECLARE_METATYPE(Messages)

// The depot console: what it makes of the depot's messages, and the program itself against a
// real application whose base topic is the one its bridge would give it on the depot.
class TestFleetConsole : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void stateOfEachValidator_data();
    void stateOfEachValidator();
    void hostileMessageIsSkippedWithOneLine_data();
    void hostileMessageIsSkippedWithOneLine();
    void valueTakesTheSettingsType_data();
    void valueTakesTheSettingsType();
    void newestVersionFollowsEachReport();
    void metricsFollowTheTable();

    void setIsReadBackFromTheApplication_data();
    void setIsReadBackFromTheApplication();
    void baseChangesNeedForce();
    void statusAndGetAskTheValidators();
    void unreachableDepotIsNamedWithoutThePassword_data();
    void unreachableDepotIsNamedWithoutThePassword();
    void exitStatusAsTheHelpSays_data();
    void exitStatusAsTheHelpSays();
    void depotsMergeIntoOneTable();
    void exporterStaysLiveUnderAFlood();
    void statusOfThousandsOfValidators_data();
    void statusOfThousandsOfValidators();
    void waveSizeFromCountOrShare_data();
    void waveSizeFromCountOrShare();
    void installRefusedWhileATechnicianIsLoggedIn();

private:
    Result run(quint16 port, const QStringList &arguments);
    // The application as validator K0001 on the depot broker, with the validation service online.
    bool startValidator();

    std::unique_ptr<BrokerFixture> m_depot;
    std::unique_ptr<ControllerFixture> m_validator;
    std::unique_ptr<ServiceDouble> m_bridge; // plays what the bridges put on the depot
};

void TestFleetConsole::initTestCase()
{
    ControllerFixture::initProcess();
    QVERIFY2(!BrokerFixture::mosquittoPath().isEmpty(), "mosquitto is not installed");
}

// The one-word state and the columns follow what the depot holds, most serious first.
void TestFleetConsole::stateOfEachValidator_data()
{
    QTest::addColumn<Messages>("messages");
    QTest::addColumn<bool>("live");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QStringList>("shown");

    QTest::newRow("all well") << wellK1() << true << "up" << QStringList{"yes", "up", "no", "online", "1.0.21"};
    QTest::newRow("bridge lost") << wellK1() + Messages{{"bridge", "0"}} << true << "unreachable" << QStringList{" no "};
    QTest::newRow("application's will") << wellK1() + Messages{{"orvo/ui/status", R"({"service": false})"}} << true
                                        << "application down" << QStringList{"down"};
    QTest::newRow("technician at work")
            << wellK1() + Messages{{"orvo/ui/status", R"({"service": true, "technician": true})"}} << true
            << "maintenance" << QStringList{"yes"};
    QTest::newRow("reader down") << wellK1() + Messages{{"orvo/blm/status", R"({"service": true, "state": {"hasRoute": true}})"}}
                                 << true << "out of order" << QStringList{"offline #0004"};
    QTest::newRow("validation service down") << wellK1() + Messages{{"orvo/blm/status", R"({"service": false})"}}
                                             << true << "out of order" << QStringList{"offline #0002"};
    QTest::newRow("degraded still validates")
            << wellK1() + Messages{{"orvo/blm/status", R"({"service": true, "state": {"hasRfid": true, "hasRoute": true, "hasObu": true}})"}}
            << true << "up" << QStringList{"degraded #0005"};
    QTest::newRow("retained state only") << wellK1() << false << "up" << QStringList{" -"};
    QTest::newRow("status cleared") << wellK1() + Messages{{"orvo/ui/status", ""}} << true << "unknown" << QStringList{};
    QTest::newRow("escape sequence in the version")
            << wellK1() + Messages{{"orvo/ui/info", "{\"version\": \"1.0.21\\u001b[2J\"}"}} << true << "up"
            << QStringList{"1.0.21?[2J"};
    QTest::newRow("1 MB version") << wellK1() + Messages{{"orvo/ui/info", R"({"version": ")" + QByteArray(1 << 20, '7') + R"("})"}}
                                  << true << "up" << QStringList{QString(40, '7') + "..."};
    QTest::newRow("never seen") << Messages{} << true << "never seen" << QStringList{"?"};
}

void TestFleetConsole::stateOfEachValidator()
{
    QFETCH(Messages, messages);
    QFETCH(bool, live);
    QFETCH(QString, state);
    QFETCH(QStringList, shown);

    Fleet fleet;
    fleet.expect({QStringLiteral("K1")});
    QSignalSpy skipped(&fleet, &Fleet::skipped);
    for (const Message &message : messages)
        fleet.handle("fleet/K1/" + message.first.toUtf8(), message.second, live);
    const fleet::Validator &validator = *fleet.find(QStringLiteral("K1"));
    QCOMPARE(fleet.state(validator), state);
    const QString row = fleet.row(validator);
    for (const QString &text : shown)
        QVERIFY2(row.contains(text), qPrintable(row));
    QVERIFY2(row.size() < 200 && !row.contains(QLatin1Char('\x1b')), qPrintable(row.left(200)));
    QCOMPARE(skipped.count(), 0);
}

// The newest version is kept with each report, older ones counted: it drops back when its
// only holder goes back, and a change of it is announced once.
void TestFleetConsole::newestVersionFollowsEachReport()
{
    Fleet fleet;
    QSignalSpy newest(&fleet, &Fleet::newestChanged);
    const auto report = [&](const char *serial, const QByteArray &version) {
        fleet.handle(QByteArray("fleet/") + serial + "/orvo/ui/info", R"({"version": ")" + version + R"("})", true);
    };
    report("K1", "1.0.21");
    report("K2", "1.0.20");
    report("K3", "1.0.21");
    QCOMPARE(newest.count(), 1);
    QVERIFY(fleet.isBehind(*fleet.find(QStringLiteral("K2"))));
    report("K1", "1.0.19");
    QCOMPARE(newest.count(), 1); // K3 still has it
    report("K3", "not a version");
    QCOMPARE(newest.count(), 2);
    QCOMPARE(fleet.newestVersionText(), QStringLiteral("1.0.20"));
    QVERIFY(!fleet.isBehind(*fleet.find(QStringLiteral("K2"))));
    QCOMPARE(fleet.state(*fleet.find(QStringLiteral("K1"))), QStringLiteral("old version"));
}

// The metrics say per validator what the table says, in the names the alert rules use; a
// huge or hostile version is cut short there too, and promtool finds nothing to lint.
void TestFleetConsole::metricsFollowTheTable()
{
    Fleet fleet;
    fleet.expect({QStringLiteral("K9")});
    for (const Message &message : wellK1())
        fleet.handle("fleet/K1/" + message.first.toUtf8(), message.second, true);
    fleet.handle("fleet/K2/bridge", "0", true);
    fleet.handle("fleet/K2/orvo/ui/status", R"({"service": false})", false);
    fleet.handle("fleet/K2/orvo/ui/info", R"({"version": "1.0.20"})", false);
    fleet.handle("fleet/K2/orvo/blm/status", R"({"service": false})", false);
    fleet.handle("fleet/K3/orvo/ui/info", "{\"version\": \"\\u001b[2J\\\"" + QByteArray(1 << 20, 'x') + "\"}", true);
    fleet::Exporter::Figures figures;
    figures.responses[200] = 3;
    const QByteArray metrics = fleet::Exporter::render(fleet, {{"depot:1883", true}}, figures);

    for (const QByteArray &line :
         {QByteArray(R"(tessivo_validator_reachable{depot="-",serial="K1"} 1)"),
          QByteArray(R"(tessivo_validator_application_up{depot="-",serial="K1"} 1)"),
          QByteArray(R"(tessivo_validator_technician_logged_in{depot="-",serial="K1"} 0)"),
          QByteArray(R"(tessivo_validator_validation_state{depot="-",serial="K1",state="online"} 1)"),
          QByteArray(R"(tessivo_validator_version_info{depot="-",serial="K1",version="1.0.21"} 1)"),
          QByteArray(R"(tessivo_validator_version_behind{depot="-",serial="K1"} 0)"),
          QByteArray(R"(tessivo_validator_reachable{depot="-",serial="K2"} 0)"),
          QByteArray(R"(tessivo_validator_bridge_connected{depot="-",serial="K2"} 0)"),
          QByteArray(R"(tessivo_validator_application_up{depot="-",serial="K2"} 0)"),
          QByteArray(R"(tessivo_validator_validation_state{depot="-",serial="K2",state="offline"} 1)"),
          QByteArray(R"(tessivo_validator_validation_reason_info{depot="-",serial="K2",reason="#0002"} 1)"),
          QByteArray(R"(tessivo_validator_version_behind{depot="-",serial="K2"} 1)"),
          QByteArray(R"(tessivo_validator_reachable{depot="-",serial="K9"} 0)"),
          QByteArray(R"(tessivo_fleet_validators{state="never seen"} 1)"),
          QByteArray(R"(tessivo_fleet_newest_version_info{version="1.0.21"} 1)"),
          QByteArray(R"(tessivo_fleet_depot_up{depot="depot:1883"} 1)"),
          QByteArray(R"(tessivo_fleet_exporter_http_responses_total{code="200"} 3)")})
        QVERIFY2(metrics.contains('\n' + line + '\n'), line.constData());
    QVERIFY(metrics.contains("tessivo_validator_last_seen_timestamp_seconds{depot=\"-\",serial=\"K1\"} "));
    // Only the live messages count as seen.
    QVERIFY(!metrics.contains("tessivo_validator_last_seen_timestamp_seconds{depot=\"-\",serial=\"K2\"}"));
    QVERIFY(metrics.contains(R"(serial="K3",version="?[2J\")" + QByteArray(35, 'x') + R"(..."} 1)"));
    QVERIFY(metrics.size() < 20000 && !metrics.contains('\x1b'));
    if (QByteArray(TESSIVO_PROMTOOL).isEmpty())
        QSKIP("promtool is not installed");
    const QString problems = promtoolProblems(metrics);
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
}

// A message that is not what a validator sends changes nothing and costs one line, which
// never carries the payload and shows the topic without control characters.
void TestFleetConsole::hostileMessageIsSkippedWithOneLine_data()
{
    QTest::addColumn<QByteArray>("topic");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("reason");

    QTest::newRow("not JSON") << QByteArray("fleet/K1/orvo/ui/status") << QByteArray("{\"service\": tr") << "not a JSON object";
    QTest::newRow("an array") << QByteArray("fleet/K1/orvo/blm/status") << QByteArray("[1, 2]") << "not a JSON object";
    QTest::newRow("service as text") << QByteArray("fleet/K1/orvo/ui/status") << QByteArray(R"({"service": "yes"})")
                                     << "no service flag";
    QTest::newRow("version as number") << QByteArray("fleet/K1/orvo/ui/info") << QByteArray(R"({"version": 5})")
                                       << "no version text";
    QTest::newRow("bridge flag 2") << QByteArray("fleet/K1/bridge") << QByteArray("2") << "not 0 or 1";
    QTest::newRow("serial ..") << QByteArray("fleet/../orvo/ui/status") << Up << "not a serial number";
    QTest::newRow("escape sequence") << QByteArray("fleet/K1\x1b[2J/orvo/ui/status") << Up << "not a serial number";
    QTest::newRow("other root") << QByteArray("depot/K1/orvo/ui/status") << Up << "not a topic of the fleet";
    QTest::newRow("a request") << QByteArray("fleet/K1/orvo/ui/config/set") << QByteArray("{}")
                               << "not a topic the validators share";
    QTest::newRow("70 kB status") << QByteArray("fleet/K1/orvo/ui/status") << QByteArray(70 * 1024, ' ') << "too large";
}

void TestFleetConsole::hostileMessageIsSkippedWithOneLine()
{
    QFETCH(QByteArray, topic);
    QFETCH(QByteArray, payload);
    QFETCH(QString, reason);

    Fleet fleet;
    for (const Message &message : wellK1())
        fleet.handle("fleet/K1/" + message.first.toUtf8(), message.second, true);
    const QString before = fleet.row(*fleet.find(QStringLiteral("K1")));
    QSignalSpy skipped(&fleet, &Fleet::skipped);
    QSignalSpy updated(&fleet, &Fleet::updated);
    fleet.handle(topic, payload, true);

    QCOMPARE(skipped.count(), 1);
    const QString line = skipped.first().at(0).toString();
    QVERIFY2(line.startsWith(QLatin1String("skipped ")) && line.endsWith(reason), qPrintable(line));
    QVERIFY(!line.contains(QLatin1Char('\x1b')) && !line.contains(QLatin1Char('\n')));
    QCOMPARE(updated.count(), 0);
    QCOMPARE(fleet.validators().size(), 1);
    // Only the time of the last message may differ.
    QCOMPARE(fleet.row(*fleet.find(QStringLiteral("K1"))).left(80), before.left(80));
}

// A value goes out as the application stores the setting: a number or a flag where the
// default is one; anything else as text, which the application then refuses for such keys.
void TestFleetConsole::valueTakesTheSettingsType_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("json");

    QTest::newRow("number") << "gui/displayOffMin" << "5" << QByteArray("[5]");
    QTest::newRow("not a number") << "gui/displayOffMin" << "five" << QByteArray("[\"five\"]");
    QTest::newRow("flag") << "gui/showCursor" << "false" << QByteArray("[false]");
    QTest::newRow("not a flag") << "gui/showCursor" << "no" << QByteArray("[\"no\"]");
    QTest::newRow("digits of a text") << "gui/settingsPin" << "1234" << QByteArray("[\"1234\"]");
    QTest::newRow("unknown key") << "gui/noSuchKey" << "1" << QByteArray("[\"1\"]");
}

void TestFleetConsole::valueTakesTheSettingsType()
{
    QFETCH(QString, key);
    QFETCH(QString, text);
    QFETCH(QByteArray, json);
    QCOMPARE(QJsonDocument(QJsonArray{fleet::Console::typedValue(key, text)}).toJson(QJsonDocument::Compact), json);
}

Result TestFleetConsole::run(quint16 port, const QStringList &arguments)
{
    // Started, not waited for with a blocking call: the application in this process answers.
    QProcess process;
    QSignalSpy finished(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    process.start(QStringLiteral(TESSIVO_FLEET),
                  (port ? QStringList{"-H", "127.0.0.1", "-P", QString::number(port)} : QStringList()) + arguments);
    if (!finished.wait(60000)) {
        process.kill();
        process.waitForFinished();
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

bool TestFleetConsole::startValidator()
{
    m_depot = std::make_unique<BrokerFixture>();
    if (!m_depot->start())
        return false;
    m_bridge = std::make_unique<ServiceDouble>(m_depot->port(), QStringLiteral("bridges"));
    if (!m_bridge->start() || !m_bridge->publish(QStringLiteral("fleet/K0001/bridge"), QByteArray("1"), true)
        || !m_bridge->publish(QStringLiteral("fleet/K0001/orvo/blm/status"), Online, true))
        return false;
    m_validator = std::make_unique<ControllerFixture>(
            m_depot->port(), QByteArray("[mqtt]\nbase=fleet/K0001/orvo/ui\n[topics]\nblm=fleet/K0001/orvo/blm\n"));
    return waitUntil([this] {
        return m_bridge->subscribe(QStringLiteral("fleet/K0001/orvo/ui/status"))
                && m_bridge->waitFor(QStringLiteral("fleet/K0001/orvo/ui/status"), 1, 200);
    });
}

// The console says "applied" only when the application's configuration shows the value; a
// value or key that the application refuses is "refused", with what it reads.
void TestFleetConsole::setIsReadBackFromTheApplication_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("number") << "gui/displayOffMin" << "5" << "applied          gui/displayOffMin = 5" << 0;
    QTest::newRow("flag") << "gui/showCursor" << "false" << "applied          gui/showCursor = false" << 0;
    QTest::newRow("not a number") << "gui/displayOffMin" << "five" << "refused          gui/displayOffMin reads 3" << 1;
    QTest::newRow("out of range") << "gui/displayOffMin" << "99999" << "refused          gui/displayOffMin reads 3" << 1;
    QTest::newRow("unknown key") << "gui/noSuchKey" << "1" << "refused          gui/noSuchKey: no such setting" << 1;
    // A PIN is proved by its count of writes: the depot never sees it.
    QTest::newRow("PIN, never shown") << "gui/settingsPin" << "1397"
                                      << "applied (not shown) gui/settingsPin: written 1 time(s) since the validator started" << 0;
    QTest::newRow("empty PIN") << "gui/settingsPin" << "" << "refused          gui/settingsPin unchanged (not shown)" << 1;
}

void TestFleetConsole::setIsReadBackFromTheApplication()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, line);
    QFETCH(int, exitCode);
    QVERIFY(startValidator());
    QVERIFY(m_bridge->subscribe(QStringLiteral("fleet/#")));

    const Result result = run(m_depot->port(), {"set", key, value, "--id", "K0001"});
    QCOMPARE(result.out.trimmed(), QStringLiteral("K0001         ") + line);
    QCOMPARE(result.exitCode, exitCode);
    if (exitCode == 0)
        QCOMPARE(m_validator->config().get(key).toString(), value);
    QVERIFY(!result.out.contains(QLatin1String("1397")) && !result.err.contains(QLatin1String("1397")));
    // Of what a bridge would carry to the depot, nothing held the PIN, old or new (here the
    // application sits on the depot itself, so its local "/config" shows up as well).
    int copies = 0;
    for (const ServiceDouble::Message &message : m_bridge->messages()) {
        copies += message.topic == QLatin1String("fleet/K0001/orvo/ui/fleet/config");
        if (message.topic.startsWith(QLatin1String("fleet/K0001/orvo/ui/")) && !message.topic.endsWith(QLatin1String("/set"))
            && message.topic != QLatin1String("fleet/K0001/orvo/ui/config"))
            QVERIFY2(!message.payload.contains("1397") && !message.payload.contains("4826"), qPrintable(message.topic));
    }
    QVERIFY(copies > 0);
}

// A new base would leave the topics the bridge carries: refused with a line saying why, and
// nothing sent; with --force it is applied and the validator still answers through the bridge.
void TestFleetConsole::baseChangesNeedForce()
{
    QVERIFY(startValidator());
    const Result refused = run(m_depot->port(), {"set", "mqtt/base", "depot/ui", "--id", "K0001"});
    QCOMPARE(refused.exitCode, int(fleet::Usage));
    QVERIFY2(refused.err.startsWith("mqtt/base moves the validators' own topics off those their bridges carry to the "
                                    "depot: refused without --force"), qPrintable(refused.err));
    const Result topics = run(m_depot->port(), {"set", "topics/blm", "x/blm", "--all"});
    QCOMPARE(topics.exitCode, int(fleet::Usage));
    QVERIFY2(topics.err.contains("topics/blm moves a service off the topics the bridges carry"), qPrintable(topics.err));
    QCOMPARE(m_validator->config().get("mqtt/base").toString(), QStringLiteral("fleet/K0001/orvo/ui"));

    const Result forced = run(m_depot->port(), {"set", "mqtt/base", "depot/ui", "--id", "K0001", "--force"});
    QCOMPARE(forced.out.trimmed(), QStringLiteral("K0001         applied          mqtt/base = depot/ui"));
    const Result info = run(m_depot->port(), {"get", "info", "--id", "K0001"});
    QCOMPARE(info.exitCode, 0);
    QCOMPARE(info.out.trimmed(), QStringLiteral("version = 1.0.21"));
}

// status asks each validator and marks those that stay silent; get shows one validator's
// answer, with the PIN masked; a hostile message costs one line on stderr.
void TestFleetConsole::statusAndGetAskTheValidators()
{
    QVERIFY(startValidator());
    // A validator whose bridge is up but whose application does not answer any more.
    QVERIFY(m_bridge->publish(QStringLiteral("fleet/K0002/bridge"), QByteArray("1"), true));
    QVERIFY(m_bridge->publish(QStringLiteral("fleet/K0002/orvo/ui/status"), Up, true));
    QVERIFY(m_bridge->publish(QStringLiteral("fleet/K0003/orvo/ui/status"), QByteArray("\x01garbage"), true));

    const Result status = run(m_depot->port(), {"status", "--timeout", "2"});
    const QStringList lines = status.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines.at(0).startsWith(QLatin1String("SERIAL")));
    QVERIFY2(QRegularExpression(QStringLiteral("^K0001 +up +yes +up +no +online +%1 +\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$")
                                        .arg(QLatin1String(TESSIVO_VERSION)))
                     .match(lines.at(1))
                     .hasMatch(),
             qPrintable(lines.at(1)));
    QVERIFY2(lines.at(2).startsWith(QLatin1String("K0002         no answer")), qPrintable(lines.at(2)));
    QCOMPARE(status.err.trimmed(), QStringLiteral("skipped fleet/K0003/orvo/ui/status: not a JSON object"));
    QCOMPARE(status.exitCode, 1);

    const Result config = run(m_depot->port(), {"get", "config", "--id", "K0001"});
    QCOMPARE(config.exitCode, 0);
    QVERIFY(config.out.contains(QLatin1String("\ngui/settingsPin = ********\n")));
    QVERIFY(config.out.contains(QLatin1String("\nmqtt/base = fleet/K0001/orvo/ui\n")));
    QVERIFY(!config.out.contains(QLatin1String("4826")) && !config.out.contains(QLatin1String("mqtt/password")));

    const Result info = run(m_depot->port(), {"get", "info", "--id", "K0001,K0002", "--timeout", "2"});
    QCOMPARE(info.out, QStringLiteral("[K0001]\nversion = %1\n[K0002]\n").arg(QLatin1String(TESSIVO_VERSION)));
    // The retained garbage is skipped again by every run.
    QCOMPARE(info.err, QStringLiteral("skipped fleet/K0003/orvo/ui/status: not a JSON object\nK0002: no answer within 2 s\n"));
    QCOMPARE(info.exitCode, 1);
}

// A depot the console cannot reach, or that refuses it, is named with the reason; the
// password given never shows.
void TestFleetConsole::unreachableDepotIsNamedWithoutThePassword_data()
{
    QTest::addColumn<bool>("listening");
    QTest::addColumn<QString>("reason");

    QTest::newRow("nothing listens") << false << "Transport invalid";
    QTest::newRow("wrong password") << true << "Not authorized";
}

void TestFleetConsole::unreachableDepotIsNamedWithoutThePassword()
{
    QFETCH(bool, listening);
    QFETCH(QString, reason);
    BrokerFixture depot(BrokerFixture::Credentials{QStringLiteral("operator"), QStringLiteral("right")});
    if (listening)
        QVERIFY(depot.start());

    const Result result = run(depot.port(), {"-u", "operator", "-p", "s3cret-pw", "status", "--timeout", "1"});
    QCOMPARE(result.exitCode, int(fleet::NoDepot));
    QVERIFY2(result.err.startsWith(QStringLiteral("cannot reach the depot broker 127.0.0.1:%1 within 1 s: ").arg(depot.port())),
             qPrintable(result.err));
    QVERIFY2(result.err.contains(reason), qPrintable(result.err));
    QVERIFY(!result.err.contains(QLatin1String("s3cret")) && !result.out.contains(QLatin1String("s3cret")));
}

// Usage is 2, however it is wrong; a depot that answers without any validator is 4, since
// "every validator up" would hide a wrong depot or an ACL that hides the fleet.
void TestFleetConsole::exitStatusAsTheHelpSays_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("err");

    QTest::newRow("misspelt option") << QStringList{"status", "--wacth"} << 2 << "Unknown option 'wacth'.";
    QTest::newRow("unknown command") << QStringList{"stauts"} << 2 << "unknown command or arguments: stauts";
    QTest::newRow("--listen without exporter") << QStringList{"status", "--listen", ":1"} << 2 << "--listen is for the exporter";
    QTest::newRow("empty depot") << QStringList{"status"} << 4 << "the depot knows no validator";
    QTest::newRow("empty depot, set --all") << QStringList{"set", "gui/displayOffMin", "5", "--all"} << 4
                                            << "the depot knows none";
}

void TestFleetConsole::exitStatusAsTheHelpSays()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, err);
    BrokerFixture depot;
    QVERIFY(depot.start());
    const Result result = run(depot.port(), arguments);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(result.err.contains(err), qPrintable(result.err));
}

// Each -H is a depot of its own: one table sorted by serial number with the depot last, and a
// depot that cannot be reached shows as a row of its own without hiding the others.
void TestFleetConsole::depotsMergeIntoOneTable()
{
    BrokerFixture garageA, garageB;
    QVERIFY(garageA.start() && garageB.start());
    ServiceDouble bridgesA(garageA.port(), QStringLiteral("bridges-a")), bridgesB(garageB.port(), QStringLiteral("bridges-b"));
    QVERIFY(bridgesA.start() && bridgesB.start());
    QVERIFY(bridgesA.publish(QStringLiteral("fleet/K0002/bridge"), QByteArray("0"), true));
    QVERIFY(bridgesB.publish(QStringLiteral("fleet/K0001/bridge"), QByteArray("0"), true));
    QVERIFY(bridgesB.publish(QStringLiteral("fleet/K0003/bridge"), QByteArray("0"), true));
    const QString a = QStringLiteral("127.0.0.1:%1").arg(garageA.port());
    const QString b = QStringLiteral("127.0.0.1:%1").arg(garageB.port());
    const QString away = QStringLiteral("127.0.0.1:%1").arg(BrokerFixture::freePort());

    const Result result = run(0, {"-H", a, "-H", away, "-H", b, "status", "--timeout", "2"});
    const QStringList lines = result.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 5);
    QVERIFY2(lines.at(0).startsWith(QLatin1String("SERIAL")) && lines.at(0).endsWith(QLatin1String("LAST SEEN           DEPOT")),
             qPrintable(lines.at(0)));
    const QStringList order = {"K0001 ", "K0002 ", "K0003 ", "-             depot down"};
    const QStringList depots = {b, a, b, away};
    for (int i = 0; i < 4; ++i) {
        QVERIFY2(lines.at(i + 1).startsWith(order.at(i)) && lines.at(i + 1).endsWith(QLatin1Char(' ') + depots.at(i)),
                 qPrintable(lines.at(i + 1)));
    }
    QVERIFY2(result.err.contains(QStringLiteral("cannot reach the depot broker %1 within 2 s\n").arg(away)), qPrintable(result.err));
    QCOMPARE(result.exitCode, int(fleet::NoDepot));
}

// Scrapers that send garbage, hold connections open or come in a flood are answered or
// closed without holding up the depot's messages: a change shows in the next scrape.
void TestFleetConsole::exporterStaysLiveUnderAFlood()
{
    QVERIFY(startValidator());
    const quint16 port = BrokerFixture::freePort();
    QProcess exporter;
    exporter.start(QStringLiteral(TESSIVO_FLEET), {"-H", "127.0.0.1", "-P", QString::number(m_depot->port()), "exporter",
                                                   "--listen", QStringLiteral("127.0.0.1:%1").arg(port)});
    QVERIFY(waitUntil([&] { return scrape(port).contains("tessivo_validator_application_up{depot=\"127.0.0.1:"); }, 10000));

    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < 40; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        idle.back()->connectToHost(QStringLiteral("127.0.0.1"), port);
        QVERIFY(idle.back()->waitForConnected(5000));
    }
    QVERIFY(httpRequest(port, "\x16\x03\x01 not HTTP\r\n\r\n").startsWith("HTTP/1.1 400 "));
    QVERIFY(httpRequest(port, "POST /metrics HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 405 "));
    QVERIFY(httpRequest(port, "GET /../etc/passwd HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 404 "));
    QVERIFY(httpRequest(port, "GET /metrics HTTP/1.1\r\nX: " + QByteArray(20000, 'a')).startsWith("HTTP/1.1 431 "));
    for (int i = 0; i < 200; ++i)
        scrape(port);

    // The application's will, as its broker hands it on when it dies.
    m_validator.reset();
    QVERIFY(m_bridge->publish(QStringLiteral("fleet/K0001/orvo/ui/status"), QByteArray(R"({"service": false})"), true));
    const QByteArray down = R"(tessivo_validator_application_up{depot="127.0.0.1:)" + QByteArray::number(m_depot->port())
                            + R"(",serial="K0001"} 0)";
    QVERIFY(waitUntil([&] { return scrape(port).contains(down); }, 5000));
    const QByteArray metrics = scrape(port);
    QVERIFY2(metrics.contains("tessivo_fleet_exporter_http_responses_total{code=\"400\"} 1\n"), metrics.constData());
    if (!QByteArray(TESSIVO_PROMTOOL).isEmpty()) {
        const QString problems = promtoolProblems(metrics.mid(metrics.indexOf("\r\n\r\n") + 4));
        QVERIFY2(problems.isEmpty(), qPrintable(problems));
    }
    exporter.kill();
    exporter.waitForFinished();
}

// status over the retained state of thousands of validators (TESSIVO_FLEET_SCALE_SIZE, 5 000
// by default): with every bridge away, the console's own work; with each asked and
// answering, through one stand-in for all applications. The figures are printed; the bound
// is only a time-out.
void TestFleetConsole::statusOfThousandsOfValidators_data()
{
    QTest::addColumn<bool>("answering");
    QTest::newRow("bridges away") << false;
    QTest::newRow("each answering") << true;
}

void TestFleetConsole::statusOfThousandsOfValidators()
{
    QFETCH(bool, answering);
    const int size = qEnvironmentVariableIntValue("TESSIVO_FLEET_SCALE_SIZE") > 0
            ? qEnvironmentVariableIntValue("TESSIVO_FLEET_SCALE_SIZE")
            : 5000;
    BrokerFixture depot;
    QVERIFY(depot.start());
    ServiceDouble bridges(depot.port(), QStringLiteral("bridges"));
    QVERIFY(bridges.start());
    for (int i = 0; i < size; ++i) {
        const QString base = QStringLiteral("fleet/K%1/").arg(i, 5, 10, QLatin1Char('0'));
        QVERIFY(bridges.publish(base + "bridge", QByteArray(answering ? "1" : "0"), true));
        QVERIFY(bridges.publish(base + "orvo/ui/status", Up, true));
        QVERIFY(bridges.publish(base + "orvo/blm/status", Online, true));
        if (i % 500 == 0)
            QCoreApplication::processEvents();
    }
    // Every application answers the console's questions, as through its bridge.
    QVERIFY(bridges.subscribe(QStringLiteral("fleet/+/orvo/ui/+/get")));
    connect(&bridges.transport(), &manager::MqttTransport::messageReceived, &bridges,
            [&](const QByteArray &, const QString &topic) {
                const QString answer = topic.chopped(4);
                bridges.transport().publish(answer, answer.endsWith(QLatin1String("info")) ? QByteArray(R"({"version": "1.0.21"})") : Up, 0,
                                            false);
            });
    // The last retained message is in once a status shows it.
    const QString last = QStringLiteral("K%1").arg(size - 1, 5, 10, QLatin1Char('0'));
    QVERIFY(waitUntil([&] { return run(depot.port(), {"get", "status", "--id", last, "--timeout", "10"}).exitCode == 0; }, 120000));

    QElapsedTimer timer;
    timer.start();
    const Result result = run(depot.port(), {"status", "--timeout", "30"});
    const qint64 elapsed = timer.elapsed();
    QCOMPARE(result.exitCode, answering ? 0 : 1);
    QCOMPARE(result.out.count(QLatin1Char('\n')), size + 1);
    QCOMPARE(result.out.count(QRegularExpression(answering ? QStringLiteral("\\nK\\d+ +up ") : QStringLiteral("\\nK\\d+ +unreachable "))),
             size);
    QString figure = QStringLiteral("status over %1 validators' retained state, %2: %3 s")
                                   .arg(size)
                                   .arg(answering ? "each asked and answering" : "every bridge away, none asked")
                                   .arg(elapsed / 1000.0, 0, 'f', 2);

    // The exporter over the same state: one scrape's size and the time its rendering took.
    const quint16 port = BrokerFixture::freePort();
    QProcess exporter;
    exporter.start(QStringLiteral(TESSIVO_FLEET), {"-H", "127.0.0.1", "-P", QString::number(depot.port()), "exporter",
                                                   "--listen", QStringLiteral("127.0.0.1:%1").arg(port)});
    QByteArray metrics;
    // The last validator is in: its version once it answered, else its bridge flag.
    const QByteArray lastIn = "serial=\"" + last.toUtf8() + (answering ? "\",version=\"1.0.21\"" : "\"} 0");
    QVERIFY(waitUntil([&] { return (metrics = scrape(port)).contains(lastIn); }, 60000));
    // The figure in a scrape is that of the rendering before, one second earlier at least.
    QTest::qWait(1100);
    metrics = scrape(port);
    exporter.kill();
    exporter.waitForFinished();
    const QRegularExpressionMatch render =
            QRegularExpression(QStringLiteral("\ntessivo_fleet_exporter_render_duration_seconds (\\S+)\n")).match(QString::fromUtf8(metrics));
    figure += QStringLiteral("; a scrape of the exporter %1 MB, rendered in %2 s").arg(metrics.size() / 1e6, 0, 'f', 1).arg(render.captured(1).toDouble(), 0, 'f', 3);
    qInfo("%s", qPrintable(figure));
    QFile file(QDir(qEnvironmentVariable("TESSIVO_ARTIFACTS", QDir::tempPath())).filePath(QStringLiteral("fleet-scale.txt")));
    if (file.open(QIODevice::Append))
        file.write(figure.toUtf8() + '\n');
}

// A wave is a number of validators or a share of them, rounded up, never empty.
void TestFleetConsole::waveSizeFromCountOrShare_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("size"); // -1: refused

    QTest::newRow("count") << "3" << 20 << 3;
    QTest::newRow("the default share") << "10%" << 20 << 2;
    QTest::newRow("share rounded up") << "25%" << 5 << 2;
    QTest::newRow("never empty") << "1%" << 20 << 1;
    QTest::newRow("zero") << "0" << 20 << -1;
    QTest::newRow("beyond all") << "150%" << 20 << -1;
    QTest::newRow("a word") << "half" << 20 << -1;
}

void TestFleetConsole::waveSizeFromCountOrShare()
{
    QFETCH(QString, text);
    QFETCH(int, total);
    QFETCH(int, size);
    int count = 0, percent = 0;
    const bool ok = fleet::Rollout::parseWave(text, &count, &percent);
    QCOMPARE(ok, size >= 0);
    if (ok)
        QCOMPARE(fleet::Rollout::waveSize(total, count, percent), size);
}

// No install goes to a validator while a technician is logged in on it: the line says why;
// the other validator, whose bridge is down, is not sent anything either.
void TestFleetConsole::installRefusedWhileATechnicianIsLoggedIn()
{
    BrokerFixture depot;
    QVERIFY(depot.start());
    ServiceDouble bridges(depot.port(), QStringLiteral("bridges"));
    QVERIFY(bridges.start());
    const QByteArray pending = R"({"service": true, "update": {"software": {"current": "2.4.1", "pending": "2.5.0"}}})";
    for (const char *serial : {"K0005", "K0006"}) {
        const QString base = QStringLiteral("fleet/%1/").arg(QLatin1String(serial));
        QVERIFY(bridges.publish(base + "bridge", QByteArray(serial == QLatin1String("K0005") ? "1" : "0"), true));
        QVERIFY(bridges.publish(base + "orvo/ui/status", QByteArray(R"({"service": true, "technician": true})"), true));
        QVERIFY(bridges.publish(base + "orvo/device/status", pending, true));
    }
    QVERIFY(bridges.subscribe(QStringLiteral("fleet/+/orvo/device/#")));

    const Result result = run(depot.port(), {"update", "install", "--all", "--timeout", "2"});
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.out.contains(QLatin1String("\nK0005         refused             wave 1; a technician is logged in on K0005: "
                                               "install not sent\n")),
             qPrintable(result.out));
    QVERIFY2(result.out.contains(QLatin1String("roll-out stopped after wave 1 of 2: K0005 refused")), qPrintable(result.out));
    QVERIFY2(result.out.contains(QLatin1String("\nK0006         not started")), qPrintable(result.out));
    QCOMPARE(bridges.count(QStringLiteral("fleet/K0005/orvo/device/update/software/install")), 0);
    QCOMPARE(bridges.count(QStringLiteral("fleet/K0006/orvo/device/update/software/install")), 0);

    QCOMPARE(run(depot.port(), {"update", "install", "--all", "--wave", "0"}).exitCode, int(fleet::Usage));
}

QTEST_MAIN(TestFleetConsole)
#include "tst_fleetconsole.moc"
