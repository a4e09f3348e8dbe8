#include "brokerfixture.h"
#include "controllerfixture.h"
#include "servicedouble.h"
#include "waituntil.h"

#include "console.h"
#include "fleet.h"
#include "rollout.h"

#include <QJsonDocument>
#include <QProcess>
#include <QSignalSpy>
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

    void setIsReadBackFromTheApplication_data();
    void setIsReadBackFromTheApplication();
    void statusAndGetAskTheValidators();
    void unreachableDepotIsNamedWithoutThePassword_data();
    void unreachableDepotIsNamedWithoutThePassword();
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
    QCOMPARE(skipped.count(), 0);
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
    process.start(QStringLiteral(TESSIVO_FLEET), QStringList{"-H", "127.0.0.1", "-P", QString::number(port)} + arguments);
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
