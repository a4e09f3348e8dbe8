#include "brokerfixture.h"
#include "pki.h"
#include "servicedouble.h"
#include "waituntil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <unistd.h>

namespace {

struct Run
{
    int exitCode = -1;
    QString output;
};

Run setup(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(TESSIVO_BRIDGE_SETUP), arguments);
    process.waitForFinished(30000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, QString::fromUtf8(process.readAll())};
}

qint64 rssKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    status.open(QIODevice::ReadOnly);
    const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("VmRSS:\\s+(\\d+) kB")).match(QString::fromLatin1(status.readAll()));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

} // namespace

// tessivo-bridge-setup, and mosquitto running the file it writes.
class TestBridgeSetup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void refusesWhatCannotGoIntoTheFile_data();
    void refusesWhatCannotGoIntoTheFile();
    void writesTheBridgeOfTheSerialNumber();
    void bridgeSharesOnlyTheFleetTopics_data();
    void bridgeSharesOnlyTheFleetTopics();
    void renamedBaseCrossesUnderTheDepotsNames();
    void depotAwayQueuesNothing();

private:
    QStringList arguments(quint16 depotPort, const QString &output) const;
    // A validator's broker with the bridge file for K0042 to the depot on that port.
    std::unique_ptr<BrokerFixture> validatorBroker(quint16 depotPort, const QStringList &extra = {});
    std::unique_ptr<ServiceDouble> depotObserver(BrokerFixture &depot);

    std::unique_ptr<Pki> m_pki;
    Pki::Files m_server;
    Pki::Files m_device;
    Pki::Files m_console;
    QTemporaryDir m_dir;
};

void TestBridgeSetup::initTestCase()
{
    QVERIFY2(!BrokerFixture::mosquittoPath().isEmpty(), "mosquitto is not installed");
    QVERIFY2(Pki::opensslFound(), "openssl is not installed");
    m_pki = std::make_unique<Pki>();
    QVERIFY(m_pki->isValid());
    m_server = m_pki->server();
    m_device = m_pki->client(QStringLiteral("K0042"));
    m_console = m_pki->client(QStringLiteral("console"));
    QVERIFY(!m_server.cert.isEmpty() && !m_device.cert.isEmpty() && !m_console.cert.isEmpty());
}

QStringList TestBridgeSetup::arguments(quint16 depotPort, const QString &output) const
{
    return {"--central", QStringLiteral("127.0.0.1:%1").arg(depotPort), "--cafile", m_pki->caFile(), "--certfile",
            m_device.cert, "--keyfile", m_device.key, "--output", output, "--broker-user", "root", "--no-restart"};
}

// Nothing reaches the file that could break out of its word, and nothing is written
// without a serial number; each refusal names its reason.
void TestBridgeSetup::refusesWhatCannotGoIntoTheFile_data()
{
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QString>("reason");

    const QString empty = m_dir.filePath(QStringLiteral("empty-serial"));
    QFile(empty).open(QIODevice::WriteOnly);
    const QString spaced = m_dir.filePath(QStringLiteral("a b.crt"));
    QFile::copy(m_device.cert, spaced);
    const QString openKey = m_dir.filePath(QStringLiteral("open.key"));
    QFile::copy(m_device.key, openKey);
    QFile::setPermissions(openKey, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);

    QTest::newRow("no serial number") << QStringList{"--serial-file", empty} << "no serial number";
    QTest::newRow("serial with a line break") << QStringList{"--id", "K1\ninclude_dir /tmp"} << "cannot name a validator";
    QTest::newRow("serial with a slash") << QStringList{"--id", "K1/orvo"} << "cannot name a validator";
    QTest::newRow("serial with a wildcard") << QStringList{"--id", "+"} << "cannot name a validator";
    QTest::newRow("depot without port") << QStringList{"--id", "K1", "--central", "depot"} << "HOST:PORT";
    QTest::newRow("depot with a blank") << QStringList{"--id", "K1", "--central", "depot 1:8883"} << "HOST:PORT";
    QTest::newRow("port out of range") << QStringList{"--id", "K1", "--central", "depot:70000"} << "HOST:PORT";
    QTest::newRow("CA file missing") << QStringList{"--id", "K1", "--cafile", m_dir.filePath("none.crt")} << "no such file";
    QTest::newRow("path with a blank") << QStringList{"--id", "K1", "--certfile", spaced} << "must not hold blanks";
    QTest::newRow("key readable by all") << QStringList{"--id", "K1", "--keyfile", openKey} << "readable by every user";
    // Root's key: another owner, or a group beside root's and the broker's that may read it, is refused.
    if (::geteuid() == 0) {
        const QString ownedKey = m_dir.filePath(QStringLiteral("owned.key"));
        QFile::copy(m_device.key, ownedKey);
        QVERIFY(::chown(QFile::encodeName(ownedKey).constData(), 65534, 0) == 0);
        const QString groupKey = m_dir.filePath(QStringLiteral("group.key"));
        QFile::copy(m_device.key, groupKey);
        QFile::setPermissions(groupKey, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        QVERIFY(::chown(QFile::encodeName(groupKey).constData(), 0, 65534) == 0);
        QTest::newRow("key of another user") << QStringList{"--id", "K1", "--keyfile", ownedKey} << "not root";
        QTest::newRow("key readable by another group")
                << QStringList{"--id", "K1", "--keyfile", groupKey} << "neither root's nor the broker's";
    }
}

void TestBridgeSetup::refusesWhatCannotGoIntoTheFile()
{
    QFETCH(QStringList, extra);
    QFETCH(QString, reason);
    const QString output = m_dir.filePath(QStringLiteral("refused.conf"));
    // Later options win, so each row replaces one of the good ones.
    const Run run = setup(arguments(8883, output) + extra);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.output.contains(reason), qPrintable(run.output));
    QCOMPARE(run.output.count(QLatin1Char('\n')), 1);
    QVERIFY(!QFileInfo::exists(output));
    QCOMPARE(QDir(m_dir.path()).entryList({".tessivo-bridge.*"}, QDir::Hidden | QDir::Files), QStringList());
}

// The serial number comes from its file (blank lines and blanks around it do not count);
// the file holds the bridge for it and is not readable by everyone.
void TestBridgeSetup::writesTheBridgeOfTheSerialNumber()
{
    const QString serial = m_dir.filePath(QStringLiteral("serialnumber"));
    QFile file(serial);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("\n  K0042  \n");
    file.close();
    const QString output = m_dir.filePath(QStringLiteral("tessivo-bridge.conf"));
    const Run run = setup(arguments(8883, output) + QStringList{"--serial-file", serial});
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));

    const QFile::Permissions others = QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    QCOMPARE(QFileInfo(output).permissions() & others, QFile::Permissions());
    QFile conf(output);
    QVERIFY(conf.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(conf.readAll());
    QStringList settings;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1Char('#')) && !line.isEmpty())
            settings << line;
    }
    for (const QString &expected :
         {QStringLiteral("connection tessivo-fleet"), QStringLiteral("address 127.0.0.1:8883"),
          QStringLiteral("remote_clientid tessivo-K0042"), QStringLiteral("cleansession false"),
          QStringLiteral("notification_topic fleet/K0042/bridge"), QStringLiteral("bridge_keyfile ") + m_device.key,
          QStringLiteral("topic orvo/ui/info out 0 \"\" fleet/K0042/"),
          QStringLiteral("topic orvo/ui/status out 0 \"\" fleet/K0042/"),
          QStringLiteral("topic orvo/ui/fleet/config out 0 \"\" fleet/K0042/"),
          QStringLiteral("topic orvo/blm/status out 0 \"\" fleet/K0042/"),
          QStringLiteral("topic orvo/ui/config/set in 0 \"\" fleet/K0042/"),
          QStringLiteral("topic orvo/ui/+/get in 0 \"\" fleet/K0042/"),
          QStringLiteral("topic orvo/device/update/software/progress out 0 \"\" fleet/K0042/"),
          QStringLiteral("topic orvo/device/update/software/install in 0 \"\" fleet/K0042/")})
        QVERIFY2(settings.contains(expected), qPrintable(expected));
    QCOMPARE(settings.filter(QRegularExpression(QStringLiteral("^topic "))).size(), 13);
    // Paths and names only: the key itself stays where it is.
    QVERIFY(!text.contains(QLatin1String("PRIVATE KEY")));

    // --id wins over the file.
    QVERIFY(setup(arguments(8883, output) + QStringList{"--serial-file", serial, "--id", "K0043"}).exitCode == 0);
    conf.close();
    QVERIFY(conf.open(QIODevice::ReadOnly));
    QVERIFY(conf.readAll().contains("notification_topic fleet/K0043/bridge"));
    conf.close();

    // Another base of the application is renamed to the one the depot knows, and its file is
    // told which base the bridge carries (it stops answering on the old one then).
    const QString appConfig = m_dir.filePath(QStringLiteral("gui.conf"));
    QFile app(appConfig);
    QVERIFY(app.open(QIODevice::WriteOnly));
    app.write("[gui]\nlocale=en_IE\n\n[mqtt]\nbase=depot/ui\nport=1883\n");
    app.close();
    QVERIFY(setup(arguments(8883, output) + QStringList{"--id", "K0042", "--config", appConfig}).exitCode == 0);
    QVERIFY(conf.open(QIODevice::ReadOnly));
    const QString renamed = QString::fromUtf8(conf.readAll());
    for (const char *expected : {"topic info out 0 depot/ui/ fleet/K0042/orvo/ui/\n", "topic status out 0 depot/ui/ fleet/K0042/orvo/ui/\n",
                                 "topic fleet/config out 0 depot/ui/ fleet/K0042/orvo/ui/\n",
                                 "topic config/set in 0 depot/ui/ fleet/K0042/orvo/ui/\n",
                                 "topic +/get in 0 depot/ui/ fleet/K0042/orvo/ui/\n", "topic orvo/blm/status out 0 \"\" fleet/K0042/\n"})
        QVERIFY2(renamed.contains(QLatin1String(expected)), expected);
    QVERIFY(app.open(QIODevice::ReadOnly));
    QCOMPARE(app.readAll(), QByteArray("[gui]\nlocale=en_IE\n\n[mqtt]\nbase=depot/ui\nport=1883\n[bridge]\nbase=depot/ui\n"));
}

std::unique_ptr<BrokerFixture> TestBridgeSetup::validatorBroker(quint16 depotPort, const QStringList &extra)
{
    const QString dir = m_dir.filePath(QStringLiteral("conf.d-%1").arg(depotPort));
    QDir().mkpath(dir);
    if (setup(arguments(depotPort, dir + QStringLiteral("/tessivo-bridge.conf")) + QStringList{"--id", "K0042"} + extra).exitCode != 0)
        return nullptr;
    return std::make_unique<BrokerFixture>(QStringLiteral("include_dir %1\n").arg(dir).toUtf8());
}

std::unique_ptr<ServiceDouble> TestBridgeSetup::depotObserver(BrokerFixture &depot)
{
    auto observer = std::make_unique<ServiceDouble>(depot.port(), QStringLiteral("depot-observer"));
    manager::MqttTransport::TlsSettings tls;
    tls.caFile = m_pki->caFile();
    tls.certFile = m_console.cert;
    tls.keyFile = m_console.key;
    observer->transport().setTls(tls);
    return observer;
}

// Out go the application's info, status and secret-free configuration, the validation
// service's status and the device service's update reports; in come configuration changes,
// requests and the update's check and install. Nothing else crosses.
void TestBridgeSetup::bridgeSharesOnlyTheFleetTopics_data()
{
    QTest::addColumn<bool>("outward");
    QTest::addColumn<QString>("topic");
    QTest::addColumn<bool>("crosses");

    for (const char *topic : {"orvo/ui/info", "orvo/ui/status", "orvo/ui/fleet/config", "orvo/blm/status",
                              "orvo/device/status", "orvo/device/update/software/progress"})
        QTest::newRow(topic) << true << topic << true;
    // The configuration with the PIN stays on the device.
    for (const char *topic : {"orvo/ui/config", "orvo/blm/config", "orvo/ui/config/set", "orvo/board/status",
                              "orvo/device/clock/ntp/config"})
        QTest::newRow(topic) << true << topic << false;
    for (const char *topic : {"orvo/ui/config/set", "orvo/ui/info/get", "orvo/ui/status/get", "orvo/ui/config/get",
                              "orvo/device/software/check", "orvo/device/update/software/install"})
        QTest::newRow(qPrintable(QStringLiteral("in %1").arg(topic))) << false << topic << true;
    for (const char *topic : {"orvo/ui/status", "orvo/blm/config/set", "orvo/inspector/reboot",
                              "orvo/device/clock/ntp/config/set"})
        QTest::newRow(qPrintable(QStringLiteral("in %1").arg(topic))) << false << topic << false;
}

void TestBridgeSetup::bridgeSharesOnlyTheFleetTopics()
{
    QFETCH(bool, outward);
    QFETCH(QString, topic);
    QFETCH(bool, crosses);

    BrokerFixture depot(QStringLiteral("cafile %1\ncertfile %2\nkeyfile %3\nrequire_certificate true\n")
                                .arg(m_pki->caFile(), m_server.cert, m_server.key)
                                .toUtf8());
    QVERIFY(depot.start());
    std::unique_ptr<BrokerFixture> local = validatorBroker(depot.port());
    QVERIFY(local && local->start());
    std::unique_ptr<ServiceDouble> remote = depotObserver(depot);
    QVERIFY(remote->start() && remote->subscribe(QStringLiteral("fleet/#")));
    QVERIFY(remote->waitFor(QStringLiteral("fleet/K0042/bridge")));
    QCOMPARE(remote->payloads(QStringLiteral("fleet/K0042/bridge")).last(), QByteArray("1"));
    ServiceDouble device(local->port(), QStringLiteral("device"));
    QVERIFY(device.start() && device.subscribe(QStringLiteral("orvo/#")));

    // A marker that always crosses follows the message: once it is there, so would the message be.
    const QString from = outward ? topic : QStringLiteral("fleet/K0042/") + topic;
    const QString to = outward ? QStringLiteral("fleet/K0042/") + topic : topic;
    const QString marker = outward ? QStringLiteral("orvo/ui/info") : QStringLiteral("fleet/K0042/orvo/ui/info/get");
    const QString markerThere = outward ? QStringLiteral("fleet/K0042/orvo/ui/info") : QStringLiteral("orvo/ui/info/get");
    ServiceDouble &sender = outward ? device : *remote;
    ServiceDouble &receiver = outward ? *remote : device;
    // The bridge subscribes on the depot as it connects; the first marker may come too early.
    QVERIFY(waitUntil([&] { return sender.publish(marker, "{}") && receiver.waitFor(markerThere, 1, 200); }, 10000));
    receiver.clear();
    QVERIFY(sender.publish(from, QByteArray("{\"probe\": true}")));
    QVERIFY(sender.publish(marker, QByteArray("{}")));
    QVERIFY(receiver.waitFor(markerThere));
    QCOMPARE(receiver.payloads(to).count("{\"probe\": true}"), crosses ? 1 : 0);
}

// An application on another base is seen by the depot under the usual names, both ways.
void TestBridgeSetup::renamedBaseCrossesUnderTheDepotsNames()
{
    BrokerFixture depot(QStringLiteral("cafile %1\ncertfile %2\nkeyfile %3\nrequire_certificate true\n")
                                .arg(m_pki->caFile(), m_server.cert, m_server.key)
                                .toUtf8());
    QVERIFY(depot.start());
    const QString appConfig = m_dir.filePath(QStringLiteral("renamed.conf"));
    QFile app(appConfig);
    QVERIFY(app.open(QIODevice::WriteOnly));
    app.write("[mqtt]\nbase=depot/ui\n");
    app.close();
    std::unique_ptr<BrokerFixture> local = validatorBroker(depot.port(), {"--config", appConfig});
    QVERIFY(local && local->start());
    std::unique_ptr<ServiceDouble> remote = depotObserver(depot);
    QVERIFY(remote->start() && remote->subscribe(QStringLiteral("fleet/#")));
    ServiceDouble device(local->port(), QStringLiteral("device"));
    QVERIFY(device.start() && device.subscribe(QStringLiteral("depot/#")));
    QVERIFY(waitUntil([&] {
        return device.publish(QStringLiteral("depot/ui/info"), "{}")
                && remote->waitFor(QStringLiteral("fleet/K0042/orvo/ui/info"), 1, 200);
    }, 10000));
    QVERIFY(waitUntil([&] {
        return remote->publish(QStringLiteral("fleet/K0042/orvo/ui/config/get"), "{ }")
                && device.waitFor(QStringLiteral("depot/ui/config/get"), 1, 200);
    }, 10000));
}

// While the depot is away nothing is kept for it, however much the device publishes: the
// broker's memory stays put, and the depot gets only the retained state when it comes.
void TestBridgeSetup::depotAwayQueuesNothing()
{
    constexpr int Messages = 2000;
    constexpr int Size = 16 * 1024;
    // Far below the 31 MB published, far above what the broker's own bookkeeping may vary by.
    constexpr qint64 GrowthLimitKb = 8 * 1024;

    BrokerFixture depot(QStringLiteral("cafile %1\ncertfile %2\nkeyfile %3\nrequire_certificate true\n")
                                .arg(m_pki->caFile(), m_server.cert, m_server.key)
                                .toUtf8());
    std::unique_ptr<BrokerFixture> local = validatorBroker(depot.port());
    QVERIFY(local && local->start());
    ServiceDouble device(local->port(), QStringLiteral("device"));
    QVERIFY(device.start());
    QVERIFY(device.publish(QStringLiteral("orvo/ui/status"), QByteArray("{\"service\": true}"), true));
    QTest::qWait(500);
    const qint64 before = rssKb(local->pid());
    const QByteArray payload(Size, 'x');
    for (int i = 0; i < Messages; ++i) {
        QVERIFY(device.publish(QStringLiteral("orvo/ui/fleet/config"), payload));
        if (i % 100 == 0)
            QTest::qWait(1); // let the socket drain
    }
    // A round trip through the local broker: everything before it has been handled.
    QVERIFY(device.subscribe(QStringLiteral("orvo/ui/info")));
    QVERIFY(device.publish(QStringLiteral("orvo/ui/info"), "{}"));
    QVERIFY(device.waitFor(QStringLiteral("orvo/ui/info")));
    const qint64 growth = rssKb(local->pid()) - before;
    qInfo("local broker grew by %lld kB while %d x %d bytes went unsent", growth, Messages, Size);
    QVERIFY2(growth < GrowthLimitKb, qPrintable(QString::number(growth)));

    QVERIFY(depot.start());
    std::unique_ptr<ServiceDouble> remote = depotObserver(depot);
    QVERIFY(remote->start() && remote->subscribe(QStringLiteral("fleet/#")));
    QVERIFY(remote->waitFor(QStringLiteral("fleet/K0042/orvo/ui/status"), 1, 20000));
    QTest::qWait(1000);
    QCOMPARE(remote->count(QStringLiteral("fleet/K0042/orvo/ui/fleet/config")), 0);
}

QTEST_GUILESS_MAIN(TestBridgeSetup)
#include "tst_bridgesetup.moc"
