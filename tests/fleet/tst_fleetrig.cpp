#include "brokerfixture.h"
#include "pki.h"
#include "servicedouble.h"
#include "waituntil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QUrl>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <unistd.h>

// The fleet on one machine: a depot broker with TLS and an ACL, and validators that are each
// a broker of their own with the bridge file that tessivo-bridge-setup writes, the
// application (offscreen, software renderer) and the device simulator, all on loopback
// ports. One more validator has a certificate of another CA. The slots run in order on
// the same rig, as an operator's day would: all up, a setting for all, a new PIN, a crash, a
// depot outage, a software roll-out, the stranger, and the figures.

namespace {

int fleetSize()
{
    const int size = qEnvironmentVariableIntValue("TESSIVO_FLEET_SIZE");
    return size > 0 ? size : 20;
}

// Limits from the acceptance of the fleet; the start of the applications themselves is
// bounded generously, the machine may be busy.
constexpr int StartMs = 180000;
constexpr int AllUpMs = 15000;
constexpr int DownMs = 10000;
constexpr int OutageMs = 30000;
constexpr int BackMs = 15000;

const QString Stranger = QStringLiteral("K9999");
// Secrets of every validator that must never reach the depot: the broker password of the
// application, the validation service's password for the on-board computer, the PINs.
const QByteArray BrokerPassword = "Rig-Broker-Pw-77";
const QByteArray ObuPassword = "ob-4127-secret";
const QByteArray DefaultPin = "4826";
const QByteArray NewPin = "739150";
// The version the roll-out brings; the simulators start at 2.4.1.
const QString NewVersion = QStringLiteral("2.6.0");

QString serialOf(int index)
{
    return QStringLiteral("K%1").arg(index + 1, 4, 10, QLatin1Char('0'));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// The console's table: the state is the second column, a fixed 17 characters wide.
struct Row
{
    QString state;
    QString line;
};

QHash<QString, Row> parseTable(const QByteArray &output)
{
    QHash<QString, Row> rows;
    const QList<QByteArray> lines = output.split('\n');
    for (const QByteArray &bytes : lines) {
        const QString line = QString::fromUtf8(bytes);
        if (line.size() < 31 || line.startsWith(QLatin1String("SERIAL")))
            continue;
        rows.insert(line.left(14).trimmed(), {line.mid(14, 17).trimmed(), line});
    }
    return rows;
}

// One GET in HTTP/1.0, so that the answer comes whole and the server closes: its body.
QByteArray httpGet(quint16 port, const QByteArray &path)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(5000))
        return QByteArray();
    socket.write("GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray response;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(10000))
        response += socket.readAll();
    response += socket.readAll();
    const int body = response.indexOf("\r\n\r\n");
    return response.startsWith("HTTP/1.1 200") || response.startsWith("HTTP/1.0 200") ? response.mid(body + 4) : QByteArray();
}

struct ProcStat
{
    qint64 rssKb = 0;
    double cpuSeconds = 0;
};

ProcStat procStat(qint64 pid)
{
    ProcStat stat;
    const QByteArray status = readFile(QStringLiteral("/proc/%1/status").arg(pid));
    const QRegularExpressionMatch rss = QRegularExpression(QStringLiteral("VmRSS:\\s+(\\d+) kB")).match(QString::fromLatin1(status));
    if (rss.hasMatch())
        stat.rssKb = rss.captured(1).toLongLong();
    // Fields after the command name: state is the 3rd field, utime and stime the 14th and 15th.
    const QByteArray line = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() > 12)
        stat.cpuSeconds = double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
    return stat;
}

} // namespace

class TestFleetRig : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void allValidatorsUpOnTheDepot();
    void prometheusScrapesEveryValidator();
    void idleFigures();
    void settingForAllIsReadBackFromEach();
    void refusedSettingIsNeverReportedApplied();
    void noSecretReachesTheDepot();
    void killedApplicationShowsDown();
    void depotOutageKeepsValidatorsWorking();
    void rolloutInWavesStopsAtAFailure();
    void strangerIsRefusedAndNeverSeen();
    void secondGarageMergesIntoOneTable();
    void messageRates();

private:
    struct Unit
    {
        QString serial;
        QTemporaryDir dir;
        std::unique_ptr<BrokerFixture> broker;
        QProcess simulator;
        QProcess app;
        std::unique_ptr<ServiceDouble> local; // hears the tones asked for on the local broker
    };

    bool startUnit(Unit &unit, const Pki::Files &certificate);
    QByteArray console(const QStringList &arguments, int *exitCode = nullptr, int timeoutMs = 60000);
    QHash<QString, Row> table(int *exitCode = nullptr);
    // Polls the table until the condition holds for it or the time is up; the last table.
    bool tableUntil(const std::function<bool(const QHash<QString, Row> &)> &condition, int timeoutMs,
                    QHash<QString, Row> *last = nullptr);
    void record(const QString &line);
    // Prometheus's answer to an instant query: the value of each validator's sample.
    QHash<QString, QString> query(const QString &expression);

    std::unique_ptr<Pki> m_pki;
    std::unique_ptr<Pki> m_rogue;
    std::unique_ptr<BrokerFixture> m_depot;
    QByteArray m_depotConfig;
    // Hears everything below "fleet/" from before the first validator starts.
    std::unique_ptr<ServiceDouble> m_listener;
    Pki::Files m_consoleCert;
    std::vector<std::unique_ptr<Unit>> m_units;
    QTemporaryDir m_dir;
    QProcess m_watch;
    QProcess m_exporter;
    QProcess m_prometheus;
    quint16 m_exporterPort = 0;
    quint16 m_prometheusPort = 0;
    QString m_artifacts;
    qint64 m_launched = 0;
    QElapsedTimer m_sinceLaunch;
};

void TestFleetRig::record(const QString &line)
{
    qInfo("%s", qPrintable(line));
    QFile file(m_artifacts);
    if (file.open(QIODevice::Append))
        file.write(line.toUtf8() + '\n');
}

bool TestFleetRig::startUnit(Unit &unit, const Pki::Files &certificate)
{
    const QString dir = unit.dir.path();
    QDir(dir).mkpath(QStringLiteral("conf.d"));
    QFile serial(unit.dir.filePath(QStringLiteral("serialnumber")));
    if (!serial.open(QIODevice::WriteOnly))
        return false;
    serial.write(unit.serial.toUtf8() + '\n');
    serial.close();

    // The bridge file as the package's tool writes it on a validator, from the serial-number
    // file; only the broker's user differs (the test brokers run as root).
    QProcess setup;
    setup.setProcessChannelMode(QProcess::MergedChannels);
    setup.start(QStringLiteral(TESSIVO_BRIDGE_SETUP),
                {"--central", QStringLiteral("127.0.0.1:%1").arg(m_depot->port()), "--cafile", m_pki->caFile(),
                 "--certfile", certificate.cert, "--keyfile", certificate.key, "--serial-file", serial.fileName(),
                 "--output", unit.dir.filePath(QStringLiteral("conf.d/tessivo-bridge.conf")), "--broker-user", "root",
                 "--no-restart"});
    if (!setup.waitForFinished(30000) || setup.exitCode() != 0) {
        qWarning("tessivo-bridge-setup: %s", setup.readAll().constData());
        return false;
    }

    unit.broker = std::make_unique<BrokerFixture>(QStringLiteral("include_dir %1/conf.d\n").arg(dir).toUtf8());
    if (!unit.broker->start())
        return false;
    unit.local = std::make_unique<ServiceDouble>(unit.broker->port(), QStringLiteral("tones-") + unit.serial);
    if (!unit.local->start() || !unit.local->subscribe(QStringLiteral("orvo/inspector/audio/play")))
        return false;

    unit.simulator.setStandardOutputFile(unit.dir.filePath(QStringLiteral("simulator.log")));
    unit.simulator.setProcessChannelMode(QProcess::MergedChannels);
    unit.simulator.start(QStringLiteral(TESSIVO_SIMULATOR),
                         {"--port", QString::number(unit.broker->port()), "--scenario", "interactive"});

    QFile conf(unit.dir.filePath(QStringLiteral("gui.conf")));
    if (!conf.open(QIODevice::WriteOnly))
        return false;
    // The local broker takes any password; the application sends one all the same.
    conf.write(QStringLiteral("[log]\nsyslog=false\n[mqtt]\nhost=127.0.0.1\nport=%1\nusername=ui\npassword=%3\n"
                              "[gui]\ndeviceId=%2\nlocale=en_IE\n")
                       .arg(unit.broker->port())
                       .arg(serial.fileName(), QString::fromUtf8(BrokerPassword))
                       .toUtf8());
    conf.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
    env.insert(QStringLiteral("TESSIVO_EVENTS_FILE"), unit.dir.filePath(QStringLiteral("events.ini")));
    unit.app.setProcessEnvironment(env);
    unit.app.setWorkingDirectory(dir);
    unit.app.setStandardOutputFile(unit.dir.filePath(QStringLiteral("app.log")));
    unit.app.setProcessChannelMode(QProcess::MergedChannels);
    unit.app.start(QStringLiteral(TESSIVO_APP), {"-f", conf.fileName()});
    return unit.simulator.waitForStarted() && unit.app.waitForStarted();
}

QByteArray TestFleetRig::console(const QStringList &arguments, int *exitCode, int timeoutMs)
{
    QProcess process;
    process.start(QStringLiteral(TESSIVO_FLEET),
                  QStringList{"-H", "127.0.0.1", "-P", QString::number(m_depot->port()), "--cafile", m_pki->caFile(),
                              "--certfile", m_consoleCert.cert, "--keyfile", m_consoleCert.key, "--expect",
                              m_dir.filePath(QStringLiteral("expected"))}
                          + arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
    }
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    const QByteArray errors = process.readAllStandardError();
    if (!errors.isEmpty())
        qInfo("tessivo-fleet %s: %s", qPrintable(arguments.join(' ')), errors.constData());
    return process.readAllStandardOutput();
}

QHash<QString, Row> TestFleetRig::table(int *exitCode)
{
    return parseTable(console({"status"}, exitCode));
}

bool TestFleetRig::tableUntil(const std::function<bool(const QHash<QString, Row> &)> &condition, int timeoutMs,
                              QHash<QString, Row> *last)
{
    QElapsedTimer timer;
    timer.start();
    QHash<QString, Row> rows;
    do {
        rows = table();
        if (condition(rows)) {
            if (last)
                *last = rows;
            return true;
        }
        QTest::qWait(200);
    } while (timer.elapsed() < timeoutMs);
    if (last)
        *last = rows;
    return false;
}

void TestFleetRig::initTestCase()
{
    QVERIFY2(!BrokerFixture::mosquittoPath().isEmpty(), "mosquitto is not installed");
    QVERIFY2(Pki::opensslFound(), "openssl is not installed");
    m_artifacts = QDir(qEnvironmentVariable("TESSIVO_ARTIFACTS", QDir::tempPath())).filePath(QStringLiteral("fleet-rig.txt"));
    QDir().mkpath(QFileInfo(m_artifacts).path());
    QFile::remove(m_artifacts);

    m_pki = std::make_unique<Pki>();
    m_rogue = std::make_unique<Pki>(QStringLiteral("rogue"));
    QVERIFY(m_pki->isValid() && m_rogue->isValid());
    const Pki::Files server = m_pki->server();
    m_consoleCert = m_pki->client(QStringLiteral("console"));
    QVERIFY(!server.cert.isEmpty() && !m_consoleCert.cert.isEmpty());

    // The depot: a certificate of our CA from every client, whose name is its user name; a
    // validator may use only its own branch, the console all of them.
    QFile acl(m_dir.filePath(QStringLiteral("acl")));
    QVERIFY(acl.open(QIODevice::WriteOnly));
    acl.write("user console\ntopic readwrite fleet/#\n\npattern readwrite fleet/%u/#\n");
    acl.close();
    m_depotConfig = QStringLiteral("cafile %1\ncertfile %2\nkeyfile %3\nrequire_certificate true\nuse_identity_as_username true\n"
                                   "acl_file %4\nlog_type information\nconnection_messages true\n")
                            .arg(m_pki->caFile(), server.cert, server.key, acl.fileName())
                            .toUtf8();
    m_depot = std::make_unique<BrokerFixture>(m_depotConfig);
    QVERIFY(m_depot->start());
    m_listener = std::make_unique<ServiceDouble>(m_depot->port(), QStringLiteral("listener"));
    manager::MqttTransport::TlsSettings tls;
    tls.caFile = m_pki->caFile();
    tls.certFile = m_consoleCert.cert;
    tls.keyFile = m_consoleCert.key;
    m_listener->transport().setTls(tls);
    QVERIFY(m_listener->start() && m_listener->subscribe(QStringLiteral("fleet/#")));

    QStringList expected;
    QElapsedTimer started;
    started.start();
    for (int i = 0; i <= fleetSize(); ++i) {
        const bool stranger = i == fleetSize();
        auto unit = std::make_unique<Unit>();
        unit->serial = stranger ? Stranger : serialOf(i);
        const Pki::Files certificate = stranger ? m_rogue->client(unit->serial) : m_pki->client(unit->serial);
        QVERIFY(!certificate.cert.isEmpty());
        QVERIFY2(startUnit(*unit, certificate), qPrintable(unit->serial));
        expected << unit->serial;
        m_units.push_back(std::move(unit));
    }
    QFile list(m_dir.filePath(QStringLiteral("expected")));
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write(expected.join('\n').toUtf8() + '\n');
    list.close();

    // The console that stays through the whole day, a line per change.
    m_watch.setStandardOutputFile(m_dir.filePath(QStringLiteral("watch.log")));
    m_watch.start(QStringLiteral(TESSIVO_FLEET),
                  {"-H", "127.0.0.1", "-P", QString::number(m_depot->port()), "--cafile", m_pki->caFile(), "--certfile",
                   m_consoleCert.cert, "--keyfile", m_consoleCert.key, "status", "--watch"});
    QVERIFY(m_watch.waitForStarted());

    // The exporter on the same depot, and a Prometheus server that scrapes it every second
    // with the shipped alert rules loaded.
    m_exporterPort = BrokerFixture::freePort();
    m_exporter.setStandardOutputFile(m_dir.filePath(QStringLiteral("exporter.log")));
    m_exporter.setProcessChannelMode(QProcess::MergedChannels);
    m_exporter.start(QStringLiteral(TESSIVO_FLEET),
                     {"-H", "127.0.0.1", "-P", QString::number(m_depot->port()), "--cafile", m_pki->caFile(), "--certfile",
                      m_consoleCert.cert, "--keyfile", m_consoleCert.key, "--expect", list.fileName(), "exporter",
                      "--listen", QStringLiteral("127.0.0.1:%1").arg(m_exporterPort)});
    QVERIFY(m_exporter.waitForStarted());
    if (!QByteArray(TESSIVO_PROMETHEUS).isEmpty()) {
        m_prometheusPort = BrokerFixture::freePort();
        QFile config(m_dir.filePath(QStringLiteral("prometheus.yml")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\nrule_files: [\"%1\"]\n"
                                    "scrape_configs:\n  - job_name: tessivo-fleet\n    static_configs:\n"
                                    "      - targets: [\"127.0.0.1:%2\"]\n")
                             .arg(QLatin1String(TESSIVO_ALERT_RULES))
                             .arg(m_exporterPort)
                             .toUtf8());
        config.close();
        m_prometheus.setStandardOutputFile(m_dir.filePath(QStringLiteral("prometheus.log")));
        m_prometheus.setProcessChannelMode(QProcess::MergedChannels);
        m_prometheus.start(QStringLiteral(TESSIVO_PROMETHEUS),
                           {"--config.file=" + config.fileName(), "--storage.tsdb.path=" + m_dir.filePath("tsdb"),
                            QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(m_prometheusPort)});
        QVERIFY(m_prometheus.waitForStarted());
    }

    // Every application on its own broker, and the simulator's services online.
    const bool running = waitUntil(
            [this] {
                for (const auto &unit : m_units) {
                    if (!readFile(unit->dir.filePath(QStringLiteral("app.log"))).contains("[GUIManager] Connected to MQTT broker")
                        || !readFile(unit->dir.filePath(QStringLiteral("simulator.log"))).contains("services online"))
                        return false;
                }
                return true;
            },
            StartMs);
    QVERIFY2(running, "the validators did not all start");
    m_launched = started.elapsed();
    m_sinceLaunch.start();
    record(QStringLiteral("%1 validators (+1 stranger) started and connected to their own brokers in %2 s")
                   .arg(fleetSize())
                   .arg(m_launched / 1000.0, 0, 'f', 1));
}

void TestFleetRig::cleanupTestCase()
{
    m_watch.kill();
    m_watch.waitForFinished();
    m_exporter.kill();
    m_exporter.waitForFinished();
    m_prometheus.terminate();
    if (!m_prometheus.waitForFinished(10000))
        m_prometheus.kill();
    for (const auto &unit : m_units) {
        unit->app.kill();
        unit->simulator.kill();
    }
    for (const auto &unit : m_units) {
        unit->app.waitForFinished();
        unit->simulator.waitForFinished();
        // Kept for a look after a failure.
        if (QTest::currentTestFailed())
            unit->dir.setAutoRemove(false);
    }
}

// Once the validators run, the depot shows each of them up, with its version, and the
// stranger as never seen.
void TestFleetRig::allValidatorsUpOnTheDepot()
{
    QElapsedTimer timer;
    timer.start();
    QHash<QString, Row> rows;
    const bool up = tableUntil(
            [](const QHash<QString, Row> &rows) {
                for (int i = 0; i < fleetSize(); ++i) {
                    const Row row = rows.value(serialOf(i));
                    if (row.state != QLatin1String("up") || !row.line.contains(QLatin1String(TESSIVO_VERSION)))
                        return false;
                }
                return rows.value(Stranger).state == QLatin1String("never seen");
            },
            AllUpMs, &rows);
    QStringList lines;
    for (const Row &row : rows)
        lines << row.line;
    lines.sort();
    QVERIFY2(up, qPrintable(lines.join('\n')));
    record(QStringLiteral("status lists all %1 up %2 s after the applications connected locally (%3 s after their launch)")
                   .arg(fleetSize())
                   .arg(timer.elapsed() / 1000.0, 0, 'f', 1)
                   .arg((m_launched + m_sinceLaunch.elapsed()) / 1000.0, 0, 'f', 1));
    int exitCode = 0;
    record(QString::fromUtf8(console({"status"}, &exitCode)).trimmed());
    // The stranger is not up: the exit status says so.
    QCOMPARE(exitCode, 1);
}

QHash<QString, QString> TestFleetRig::query(const QString &expression)
{
    QHash<QString, QString> values;
    const QJsonObject answer = QJsonDocument::fromJson(httpGet(m_prometheusPort, "/api/v1/query?query=" + QUrl::toPercentEncoding(expression))).object();
    for (const QJsonValue &result : answer.value(QLatin1String("data")).toObject().value(QLatin1String("result")).toArray()) {
        const QJsonObject sample = result.toObject();
        values.insert(sample.value(QLatin1String("metric")).toObject().value(QLatin1String("serial")).toString(),
                      sample.value(QLatin1String("value")).toArray().at(1).toString());
    }
    return values;
}

// Prometheus scrapes the exporter: every validator of the fleet is there with its
// application up, and the scrape passes promtool's lint.
void TestFleetRig::prometheusScrapesEveryValidator()
{
    if (QByteArray(TESSIVO_PROMETHEUS).isEmpty() || QByteArray(TESSIVO_PROMTOOL).isEmpty())
        QSKIP("prometheus is not installed");
    QElapsedTimer timer;
    timer.start();
    QHash<QString, QString> up;
    const bool all = waitUntil(
            [&] {
                up = query(QStringLiteral("tessivo_validator_application_up"));
                if (up.size() != fleetSize())
                    return false;
                for (int i = 0; i < fleetSize(); ++i) {
                    if (up.value(serialOf(i)) != QLatin1String("1"))
                        return false;
                }
                return true;
            },
            AllUpMs + 30000);
    QVERIFY2(all, qPrintable(QStringLiteral("%1 of %2 up in Prometheus; %3").arg(up.size()).arg(fleetSize())
                                     .arg(QString::fromUtf8(readFile(m_dir.filePath(QStringLiteral("prometheus.log"))).right(1500)))));
    QCOMPARE(query(QStringLiteral("tessivo_validator_version_info{version=\"%1\"}").arg(QLatin1String(TESSIVO_VERSION))).size(),
             fleetSize());
    QCOMPARE(query(QStringLiteral("tessivo_validator_reachable{serial=\"%1\"}").arg(Stranger)).value(Stranger),
             QStringLiteral("0"));
    record(QStringLiteral("Prometheus has all %1 validators up %2 s after the table showed them")
                   .arg(fleetSize())
                   .arg(timer.elapsed() / 1000.0, 0, 'f', 1));

    const QByteArray metrics = httpGet(m_exporterPort, "/metrics");
    QVERIFY(!metrics.isEmpty());
    QProcess promtool;
    promtool.setProcessChannelMode(QProcess::MergedChannels);
    promtool.start(QStringLiteral(TESSIVO_PROMTOOL), {"check", "metrics"});
    promtool.write(metrics);
    promtool.closeWriteChannel();
    QVERIFY(promtool.waitForFinished(30000));
    QVERIFY2(promtool.exitCode() == 0, promtool.readAll().constData());
}

// RSS and CPU of the applications once idle, and of the brokers and simulators beside them.
void TestFleetRig::idleFigures()
{
    constexpr int WindowMs = 10000;
    QMap<QString, QList<ProcStat>> before;
    for (const auto &unit : m_units) {
        before[unit->serial] = {procStat(unit->app.processId()), procStat(unit->broker->pid()),
                                procStat(unit->simulator.processId())};
    }
    const ProcStat depotBefore = procStat(m_depot->pid());
    QTest::qWait(WindowMs);
    QList<double> rss[3], cpu[3];
    for (const auto &unit : m_units) {
        const QList<ProcStat> after = {procStat(unit->app.processId()), procStat(unit->broker->pid()),
                                       procStat(unit->simulator.processId())};
        for (int k = 0; k < 3; ++k) {
            rss[k] << after.at(k).rssKb / 1024.0;
            cpu[k] << 100.0 * (after.at(k).cpuSeconds - before[unit->serial].at(k).cpuSeconds) / (WindowMs / 1000.0);
        }
    }
    const char *names[3] = {"application", "local broker", "simulator"};
    for (int k = 0; k < 3; ++k) {
        double rssSum = 0, rssMax = 0, cpuSum = 0, cpuMax = 0;
        for (int i = 0; i < rss[k].size(); ++i) {
            rssSum += rss[k].at(i);
            rssMax = qMax(rssMax, rss[k].at(i));
            cpuSum += cpu[k].at(i);
            cpuMax = qMax(cpuMax, cpu[k].at(i));
        }
        record(QStringLiteral("idle %1 x%2 (the stranger's included): RSS mean %3 MB, max %4 MB, total %5 MB; CPU mean %6 %, max %7 % (over %8 s)")
                       .arg(QLatin1String(names[k]))
                       .arg(rss[k].size())
                       .arg(rssSum / rss[k].size(), 0, 'f', 1)
                       .arg(rssMax, 0, 'f', 1)
                       .arg(rssSum, 0, 'f', 0)
                       .arg(cpuSum / cpu[k].size(), 0, 'f', 2)
                       .arg(cpuMax, 0, 'f', 2)
                       .arg(WindowMs / 1000));
        QVERIFY(rssMax > 0);
    }
    const ProcStat depotAfter = procStat(m_depot->pid());
    record(QStringLiteral("idle depot broker: RSS %1 MB, CPU %2 %")
                   .arg(depotAfter.rssKb / 1024.0, 0, 'f', 1)
                   .arg(100.0 * (depotAfter.cpuSeconds - depotBefore.cpuSeconds) / (WindowMs / 1000.0), 0, 'f', 2));
}

// A setting sent to all is applied by each application and read back from its /config.
void TestFleetRig::settingForAllIsReadBackFromEach()
{
    int exitCode = -1;
    const QByteArray output = console({"set", "gui/displayOffMin", "7", "--all", "--timeout", "10"}, &exitCode);
    QVERIFY2(exitCode == 0, output.constData());
    QCOMPARE(output.count("applied"), fleetSize());
    for (const auto &unit : m_units) {
        if (unit->serial == Stranger)
            continue;
        QVERIFY2(output.contains(QStringLiteral("%1 ").arg(unit->serial).toUtf8()), qPrintable(unit->serial));
        QVERIFY2(readFile(unit->dir.filePath(QStringLiteral("gui.conf"))).contains("displayOffMin=7"),
                 qPrintable(unit->serial));
    }
}

// The application's own rule refuses a value or an unknown key; the console says so.
void TestFleetRig::refusedSettingIsNeverReportedApplied()
{
    for (const QStringList &setting : {QStringList{"gui/displayOffMin", "-1"}, QStringList{"gui/noSuchKey", "1"}}) {
        int exitCode = -1;
        // "--": a value may begin with a minus sign.
        const QByteArray output = console(QStringList{"set", "--id", serialOf(1), "--"} + setting, &exitCode);
        QCOMPARE(exitCode, 1);
        QVERIFY2(output.contains("refused") && !output.contains("applied"), output.constData());
    }
    QVERIFY(readFile(m_units.at(1)->dir.filePath(QStringLiteral("gui.conf"))).contains("displayOffMin=7"));
}

// Through the start, a new PIN for all and a read-back, the depot hears of the configuration
// of every validator, and of the PIN's change, but never a PIN or a password.
void TestFleetRig::noSecretReachesTheDepot()
{
    int exitCode = -1;
    const QByteArray set = console({"set", "gui/settingsPin", QString::fromUtf8(NewPin), "--all", "--timeout", "10"}, &exitCode);
    QVERIFY2(exitCode == 0, set.constData());
    QCOMPARE(set.count("applied (not shown)"), fleetSize());
    for (const auto &unit : m_units) {
        if (unit->serial != Stranger)
            QVERIFY2(readFile(unit->dir.filePath(QStringLiteral("gui.conf"))).contains("settingsPin=" + NewPin),
                     qPrintable(unit->serial));
    }
    const QByteArray config = console({"get", "config", "--id", serialOf(0)}, &exitCode);
    QCOMPARE(exitCode, 0);
    QVERIFY2(config.contains("\ngui/settingsPin = ********\n") && config.contains("\ngui/locale = en_IE\n"), config.constData());

    // A marker of the listener's own comes back behind everything the depot sent it before.
    QVERIFY(m_listener->publish(QStringLiteral("fleet/_rig/marker"), QByteArray("1")));
    QVERIFY(m_listener->waitFor(QStringLiteral("fleet/_rig/marker")));
    int configs = 0;
    for (const ServiceDouble::Message &message : m_listener->messages()) {
        configs += message.topic.endsWith(QLatin1String("/orvo/ui/fleet/config"));
        // The console's own requests carry the new PIN towards the validators, never back.
        if (message.topic.endsWith(QLatin1String("/config/set")))
            continue;
        for (const QByteArray &secret : {BrokerPassword, ObuPassword, DefaultPin, NewPin})
            QVERIFY2(!message.payload.contains(secret), qPrintable(message.topic + ": " + secret));
        QVERIFY2(!message.payload.contains("password") && !message.payload.contains("\"settingsPin\""),
                 qPrintable(message.topic));
    }
    // Each validator's configuration came before and after the change, and on the read-back.
    QVERIFY2(configs >= 3 * fleetSize(), qPrintable(QString::number(configs)));
    record(QStringLiteral("new PIN on all %1: applied (not shown) on each; %2 messages on fleet/# since the start, none "
                          "with a PIN or password")
                   .arg(fleetSize())
                   .arg(m_listener->messages().size()));
}

// An application killed outright leaves its will, which reaches the depot through the bridge.
void TestFleetRig::killedApplicationShowsDown()
{
    Unit &victim = *m_units.at(6);
    victim.app.kill();
    QVERIFY(victim.app.waitForFinished());
    QElapsedTimer timer;
    timer.start();
    QHash<QString, Row> rows;
    QVERIFY2(tableUntil([&](const QHash<QString, Row> &rows) { return rows.value(victim.serial).state == "application down"; },
                        DownMs, &rows),
             qPrintable(rows.value(victim.serial).line));
    record(QStringLiteral("%1 killed: \"application down\" on the depot after %2 s")
                   .arg(victim.serial)
                   .arg(timer.elapsed() / 1000.0, 0, 'f', 1));
    QVERIFY(waitUntil(
            [&] {
                const QByteArray watch = readFile(m_dir.filePath(QStringLiteral("watch.log")));
                return QRegularExpression(victim.serial + QStringLiteral("\\s+application down"))
                        .match(QString::fromUtf8(watch))
                        .hasMatch();
            },
            DownMs));

    // Prometheus has it too, beside the others still up.
    if (m_prometheusPort == 0)
        return;
    QHash<QString, QString> up;
    const bool reflected = waitUntil(
            [&] {
                up = query(QStringLiteral("tessivo_validator_application_up"));
                for (int i = 0; i < fleetSize(); ++i) {
                    if (up.value(serialOf(i)) != QLatin1String(serialOf(i) == victim.serial ? "0" : "1"))
                        return false;
                }
                return up.size() == fleetSize();
            },
            DownMs);
    QVERIFY2(reflected, qPrintable(QStringList(up.keys()).join(' ')));
    QCOMPARE(query(QStringLiteral("tessivo_fleet_validators{state=\"application down\"}")).value(QString()),
             QStringLiteral("1"));
    record(QStringLiteral("%1 killed: application_up 0 in Prometheus after %2 s")
                   .arg(victim.serial)
                   .arg(timer.elapsed() / 1000.0, 0, 'f', 1));
}

// Without the depot every validator keeps validating (page and tone); a state changed
// meanwhile shows once the depot is back, and the table is complete again.
void TestFleetRig::depotOutageKeepsValidatorsWorking()
{
    QElapsedTimer outage;
    outage.start();
    m_depot->kill();

    Unit &changed = *m_units.at(2);
    changed.simulator.write("status offline 4\n");
    for (const auto &unit : m_units) {
        if (unit->app.state() != QProcess::Running)
            continue;
        unit->local->clear();
        unit->simulator.write("valid\n");
    }
    for (const auto &unit : m_units) {
        if (unit->app.state() != QProcess::Running || unit.get() == &changed)
            continue;
        QVERIFY2(unit->local->waitFor(QStringLiteral("orvo/inspector/audio/play"), 1, 10000), qPrintable(unit->serial));
        QVERIFY2(unit->local->payloads(QStringLiteral("orvo/inspector/audio/play")).constFirst().contains("Valid.wav"),
                 qPrintable(unit->serial));
        QVERIFY2(waitUntil([&] {
                     return readFile(unit->dir.filePath(QStringLiteral("app.log"))).contains("Setting screen : Valid");
                 }),
                 qPrintable(unit->serial));
    }
    QVERIFY2(outage.elapsed() < OutageMs, "the validations took longer than the outage");
    QTest::qWait(int(OutageMs - outage.elapsed()));

    QVERIFY(m_depot->start());
    QElapsedTimer back;
    back.start();
    QHash<QString, Row> rows;
    const bool current = tableUntil(
            [&](const QHash<QString, Row> &rows) {
                for (int i = 0; i < fleetSize(); ++i) {
                    const Row row = rows.value(serialOf(i));
                    const QString expected = i == 6 ? "application down" : i == 2 ? "out of order" : "up";
                    if (row.state != expected || (i != 6 && !row.line.contains(QLatin1String(TESSIVO_VERSION))))
                        return false;
                }
                return rows.value(serialOf(2)).line.contains(QLatin1String("offline #0004"));
            },
            BackMs, &rows);
    QStringList lines;
    for (const Row &row : rows)
        lines << row.line;
    lines.sort();
    QVERIFY2(current, qPrintable(lines.join('\n')));
    record(QStringLiteral("depot back after %1 s: table complete and current %2 s later")
                   .arg(OutageMs / 1000)
                   .arg(back.elapsed() / 1000.0, 0, 'f', 1));
    QVERIFY(waitUntil([&] { return readFile(m_dir.filePath(QStringLiteral("watch.log"))).contains("depot connection back"); }));
}

// A roll-out in waves of a quarter of the fleet: the depot goes away during the first wave
// and no validator is asked twice; the second wave has a validator whose install fails, so
// the others never start.
void TestFleetRig::rolloutInWavesStopsAtAFailure()
{
    const int wave = qMax(1, fleetSize() / 4);
    const int waves = (fleetSize() + wave - 1) / wave;
    QVERIFY2(waves >= 3, "the rig needs at least three validators");
    const int failing = 2 * wave - 1;
    for (const auto &unit : m_units)
        unit->simulator.write(QStringLiteral("update offer %1\n").arg(NewVersion).toUtf8());
    m_units.at(failing)->simulator.write("update fail checksum mismatch\n");
    const auto installs = [this](int index) {
        return readFile(m_units.at(index)->dir.filePath(QStringLiteral("simulator.log"))).count("installing " + NewVersion.toUtf8());
    };

    QElapsedTimer timer;
    timer.start();
    QProcess rollout;
    rollout.start(QStringLiteral(TESSIVO_FLEET),
                  {"-H", "127.0.0.1", "-P", QString::number(m_depot->port()), "--cafile", m_pki->caFile(), "--certfile",
                   m_consoleCert.cert, "--keyfile", m_consoleCert.key, "update", "install", "--all", "--version",
                   NewVersion, "--wave", QString::number(wave), "--timeout", "20"});
    QVERIFY(rollout.waitForStarted());
    // Once the first wave installs, the depot goes away for a while.
    QVERIFY(waitUntil(
            [&] {
                for (int i = 0; i < wave; ++i) {
                    if (installs(i) == 0)
                        return false;
                }
                return true;
            },
            60000));
    m_depot->kill();
    QTest::qWait(3000);
    QVERIFY(m_depot->start());
    QVERIFY(rollout.waitForFinished(300000));
    const QString output = QString::fromUtf8(rollout.readAllStandardOutput());
    const QString errors = QString::fromUtf8(rollout.readAllStandardError());
    QVERIFY2(rollout.exitCode() == 1, qPrintable(output + errors));
    QVERIFY2(output.contains(QLatin1String("depot connection lost")) && output.contains(QLatin1String("depot connection back")),
             qPrintable(output));
    QVERIFY2(output.contains(QStringLiteral("roll-out stopped after wave 2 of %1: %2 failed").arg(waves).arg(serialOf(failing))),
             qPrintable(output));
    QHash<QString, QString> results;
    for (const QString &line : output.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char('K')))
            results.insert(line.left(13).trimmed(), line.mid(14).simplified());
    }
    for (int i = 0; i < fleetSize(); ++i) {
        const QString result = results.value(serialOf(i));
        if (i == failing)
            QVERIFY2(result.startsWith(QLatin1String("failed wave 2; checksum mismatch")), qPrintable(result));
        else if (i < 2 * wave)
            QVERIFY2(result.startsWith(QStringLiteral("done at %1 wave %2").arg(NewVersion).arg(i / wave + 1)), qPrintable(result));
        else
            QVERIFY2(result.startsWith(QLatin1String("not started")), qPrintable(result));
        // One install each for the first two waves, across the outage too; none for the rest.
        QCOMPARE(installs(i), i < 2 * wave ? 1 : 0);
    }
    record(QStringLiteral("roll-out of %1 in waves of %2, depot away 3 s in the first: %3 s to the stop after wave 2 "
                          "(%4 failed)")
                   .arg(NewVersion)
                   .arg(wave)
                   .arg(timer.elapsed() / 1000.0, 0, 'f', 1)
                   .arg(serialOf(failing)));
    record(output.trimmed());
}

// The depot refuses the certificate of another CA: the stranger's bridge never gets in.
void TestFleetRig::strangerIsRefusedAndNeverSeen()
{
    const QHash<QString, Row> rows = table();
    QCOMPARE(rows.value(Stranger).state, QStringLiteral("never seen"));
    QVERIFY2(!readFile(m_dir.filePath(QStringLiteral("watch.log"))).contains(Stranger.toUtf8()), "the watch heard of it");
    // Its bridge keeps trying and is turned away during the handshake each time.
    QVERIFY2(m_depot->log().contains("OpenSSL Error"), qPrintable(m_depot->log().right(2000)));
    QVERIFY(!m_depot->log().contains("tessivo-" + Stranger));
}

// A second garage's depot, of the same CA and rules, with one validator's retained state as
// its bridge leaves it there: one table of both, the other garage's row with its depot, and
// a third depot that is away shown as such.
void TestFleetRig::secondGarageMergesIntoOneTable()
{
    BrokerFixture garage(m_depotConfig);
    QVERIFY(garage.start());
    ServiceDouble bridge(garage.port(), QStringLiteral("console"));
    manager::MqttTransport::TlsSettings tls;
    tls.caFile = m_pki->caFile();
    tls.certFile = m_consoleCert.cert;
    tls.keyFile = m_consoleCert.key;
    bridge.transport().setTls(tls);
    QVERIFY(bridge.start());
    const QString other = QStringLiteral("K0500");
    QVERIFY(bridge.publish(QStringLiteral("fleet/%1/bridge").arg(other), QByteArray("0"), true));
    QVERIFY(bridge.publish(QStringLiteral("fleet/%1/orvo/ui/status").arg(other), QByteArray(R"({"service": false})"), true));

    const QString here = QStringLiteral("127.0.0.1:%1").arg(m_depot->port());
    const QString there = QStringLiteral("127.0.0.1:%1").arg(garage.port());
    const QString away = QStringLiteral("127.0.0.1:%1").arg(BrokerFixture::freePort());
    QProcess process;
    process.start(QStringLiteral(TESSIVO_FLEET),
                  {"-H", here, "-H", there, "-H", away, "--cafile", m_pki->caFile(), "--certfile", m_consoleCert.cert,
                   "--keyfile", m_consoleCert.key, "status", "--timeout", "3"});
    QVERIFY(process.waitForFinished(60000));
    const int exitCode = process.exitCode();
    const QStringList lines = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    record(lines.join(QLatin1Char('\n')));
    QCOMPARE(exitCode, 3);
    QVERIFY2(lines.value(0).endsWith(QLatin1String(" DEPOT")), qPrintable(lines.value(0)));
    int ours = 0;
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1Char('K')) && line.endsWith(QLatin1Char(' ') + here))
            ++ours;
    }
    QCOMPARE(ours, fleetSize());
    QVERIFY(lines.filter(QRegularExpression(QStringLiteral("^%1 +unreachable .* %2$").arg(other, there))).size() == 1);
    QVERIFY2(QRegularExpression(QStringLiteral("^- +depot down .* %1$").arg(away)).match(lines.constLast()).hasMatch(),
             qPrintable(lines.constLast()));
}

// With TESSIVO_FLEET_RATE_SECONDS set: messages and bytes that cross to the depot per
// validator, idle and with one validation every 10 s, from a subscriber on the depot and the
// depot's TCP counters (TLS included).
void TestFleetRig::messageRates()
{
    const int seconds = qEnvironmentVariableIntValue("TESSIVO_FLEET_RATE_SECONDS");
    if (seconds <= 0)
        QSKIP("TESSIVO_FLEET_RATE_SECONDS is not set");

    // Bytes through the depot's port, both ways, by peer, from the depot's TCP counters.
    const auto connections = [this] {
        QProcess ss;
        ss.start(QStringLiteral("ss"), {"-tinH", "state", "established", QStringLiteral("( sport = :%1 )").arg(m_depot->port())});
        ss.waitForFinished();
        QHash<QString, qint64> bytes;
        QString peer;
        const QRegularExpression counters(QStringLiteral("bytes_(?:acked|received):(\\d+)"));
        for (const QString &line : QString::fromUtf8(ss.readAllStandardOutput()).split(QLatin1Char('\n'))) {
            const QStringList words = line.simplified().split(QLatin1Char(' '));
            if (!line.startsWith(QLatin1Char('\t')) && !line.startsWith(QLatin1Char(' ')) && words.size() >= 4) {
                peer = words.at(3);
                continue;
            }
            QRegularExpressionMatchIterator it = counters.globalMatch(line);
            while (it.hasNext())
                bytes[peer] += it.next().captured(1).toLongLong();
        }
        return bytes;
    };
    const QHash<QString, qint64> bridges = connections();
    QVERIFY2(!bridges.isEmpty(), "ss shows no connection on the depot's port");

    ServiceDouble counter(m_depot->port(), QStringLiteral("rate-counter"));
    manager::MqttTransport::TlsSettings tls;
    tls.caFile = m_pki->caFile();
    tls.certFile = m_consoleCert.cert;
    tls.keyFile = m_consoleCert.key;
    counter.transport().setTls(tls);
    QVERIFY(counter.start());
    QVERIFY(counter.subscribe(QStringLiteral("fleet/#")));
    // Only the bridges' connections count, not the counter's own.
    const auto wireBytes = [&] {
        qint64 total = 0;
        const QHash<QString, qint64> now = connections();
        for (auto it = now.cbegin(); it != now.cend(); ++it) {
            if (bridges.contains(it.key()))
                total += it.value();
        }
        return total;
    };
    int validators = 0;
    for (const auto &unit : m_units)
        validators += unit->serial != Stranger && unit->app.state() == QProcess::Running;

    for (const bool validating : {false, true}) {
        QTest::qWait(1000);
        counter.clear();
        const qint64 wireBefore = wireBytes();
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < seconds * 1000) {
            if (validating) {
                for (const auto &unit : m_units)
                    unit->simulator.write("valid\n");
            }
            QTest::qWait(10000);
        }
        const double hours = timer.elapsed() / 3600000.0;
        qint64 payload = 0;
        for (const ServiceDouble::Message &message : counter.messages())
            payload += message.topic.toUtf8().size() + message.payload.size();
        const qint64 wire = wireBytes() - wireBefore;
        record(QStringLiteral("%1 over %2 s, %3 validators: per validator per hour %4 messages, %5 bytes of topic "
                              "and payload, %6 bytes on the wire (TCP payload with TLS, both ways)")
                       .arg(validating ? "one validation per 10 s" : "idle")
                       .arg(seconds)
                       .arg(validators)
                       .arg(counter.messages().size() / hours / validators, 0, 'f', 1)
                       .arg(payload / hours / validators, 0, 'f', 0)
                       .arg(wire / hours / validators, 0, 'f', 0));
    }
}

int main(int argc, char *argv[])
{
    // The rates take two windows of their own; the test function may run longer than QtTest's
    // five minutes then.
    const int rateSeconds = qEnvironmentVariableIntValue("TESSIVO_FLEET_RATE_SECONDS");
    if (rateSeconds > 0 && !qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number((2 * rateSeconds + 300) * 1000));
    QCoreApplication app(argc, argv);
    TestFleetRig test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_fleetrig.moc"
