#include "brokerfixture.h"
#include "proxyrig.h"

#include "app/config.h"
#include "controller/guimanager.h"
#include "maintenance/deviceidentity.h"
#include "maintenance/diagnostics.h"
#include "network/network.h"
#include "services/board.h"
#include "validation/validator.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QMetaProperty>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QDateTime PinnedTime(QDate(2024, 5, 15), QTime(9, 30, 12));
const QString Separator(53, QLatin1Char('-'));

// The three proxies the diagnostics read, on one client (connected or not).
struct Proxies
{
    explicit Proxies(manager::MqttClient &client)
        : board(client, QStringLiteral("orvo/board"))
        , network(client, QStringLiteral("orvo/network"))
        , validator(client, QStringLiteral("orvo/blm"))
    {
    }
    manager::Board board;
    manager::Network network;
    manager::Validator validator;
};

// Stands in for the serial ports the system would list.
class BenchDiagnostics : public Diagnostics
{
public:
    using Diagnostics::Diagnostics;
    QStringList ports;

protected:
    QStringList systemSerialPorts() const override { return ports; }
};

// A pseudo-terminal pair: the diagnostics open the terminal side as their serial port; the
// other side either echoes every byte (a loop-back plug in software) or stays silent.
class PtyPeer
{
public:
    explicit PtyPeer(bool echo)
    {
        if (::openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0)
            return;
        // Raw from the start: when the port is closed with an echo still under way, the line
        // discipline must not bounce it back to us for ever.
        termios tio;
        ::tcgetattr(m_slave, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_slave, TCSANOW, &tio);
        m_path = QString::fromLocal8Bit(::ttyname(m_slave));
        if (echo)
            m_thread = std::thread([this] { run(); });
    }
    ~PtyPeer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_slave >= 0)
            ::close(m_slave);
        if (m_master >= 0)
            ::close(m_master);
    }
    QString path() const { return m_path; }

private:
    void run()
    {
        while (!m_stop) {
            pollfd fd{m_master, POLLIN, 0};
            if (::poll(&fd, 1, 10) <= 0 || !(fd.revents & POLLIN))
                continue;
            char buffer[64];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n > 0 && ::write(m_master, buffer, size_t(n)) != n)
                return;
        }
    }

    int m_master = -1;
    int m_slave = -1;
    QString m_path;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// A value line of the report: the 18-character label, the value right-aligned in 35.
QString reportLine(const QString &label, const QString &value)
{
    return label + QString(35 - value.size(), QLatin1Char(' ')) + value;
}

} // namespace

class TestDiagnostics : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void usbRow_data();
    void usbRow();
    void usbResultSignalsOnlyOnChange();
    void sdCard_data();
    void sdCard();
    void serialLoopBack_data();
    void serialLoopBack();
    void portListRefresh_data();
    void portListRefresh();
    void benchPortIsSelectedAgain();
    void serialSettersLogOnlyChanges();
    void boardAndNetworkResults_data();
    void boardAndNetworkResults();
    void readerResults_data();
    void readerResults();
    void startRunsAtOnceAndRepeats();
    void reportLayout();
    void manualResultInReport_data();
    void manualResultInReport();
    void reportSeesDeviceIdSetLater();
    void reportWriteFailure_data();
    void reportWriteFailure();
    void qrSummaryDecodes();
    void qrTooLongFailsCleanly();
    void controllerReportHasSavedDeviceId();

private:
    std::unique_ptr<BenchDiagnostics> make(Proxies &proxies, const QString &deviceId = QString());
    void writeUsb(const QString &port, const QByteArray &vendor, const QByteArray &product);
    QString decodeQr(const QString &svg);

    BrokerFixture m_broker;
    std::unique_ptr<QTemporaryDir> m_dir;
    Diagnostics::Paths m_paths;
    // The serial number the diagnostics read, kept in the temporary folder.
    std::unique_ptr<Config> m_config;
    std::unique_ptr<DeviceIdentity> m_identity;
    manager::MqttClient m_offline;
};

void TestDiagnostics::initTestCase()
{
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.21"));
    QVERIFY(m_broker.start());
}

void TestDiagnostics::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_paths.usbDevices = m_dir->filePath(QStringLiteral("usb"));
    m_paths.sdCard = m_dir->filePath(QStringLiteral("mmcblk1p1"));
    m_paths.virtualSerialPort = m_dir->filePath(QStringLiteral("vcom"));
    m_paths.reportDir = m_dir->filePath(QStringLiteral("reports"));
    QVERIFY(QDir().mkpath(m_paths.usbDevices));
    QVERIFY(QDir().mkpath(m_paths.reportDir));
    m_config = std::make_unique<Config>(m_dir->filePath(QStringLiteral("gui.conf")),
                                        QVariantMap{{"gui/deviceId", m_dir->filePath(QStringLiteral("serialnumber"))}});
    m_identity = std::make_unique<DeviceIdentity>(*m_config);
}

void TestDiagnostics::cleanup()
{
    m_identity.reset();
    m_config.reset();
    m_dir.reset();
}

std::unique_ptr<BenchDiagnostics> TestDiagnostics::make(Proxies &proxies, const QString &deviceId)
{
    m_identity->setDeviceId(deviceId);
    return std::make_unique<BenchDiagnostics>(*m_identity, proxies.board, proxies.network, proxies.validator,
                                              m_paths, [] { return PinnedTime; });
}

// One USB port folder as the kernel shows it; a null value leaves that attribute out.
void TestDiagnostics::writeUsb(const QString &port, const QByteArray &vendor, const QByteArray &product)
{
    const QString dir = m_paths.usbDevices + QLatin1Char('/') + port;
    QVERIFY(QDir().mkpath(dir));
    const QList<QPair<QString, QByteArray>> files{{"idVendor", vendor}, {"idProduct", product},
                                                  {"product", vendor.isNull() ? QByteArray() : "Device\n"}};
    for (const auto &entry : files) {
        if (entry.second.isNull())
            continue;
        QFile file(dir + QLatin1Char('/') + entry.first);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(entry.second);
    }
}

// Each board port reads "OK" for the expected id (or any device on a wildcard row), "ERROR"
// for another or unreadable ids, and "MISSING" without its folder.
void TestDiagnostics::usbRow_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QByteArray>("vendor");
    QTest::addColumn<QByteArray>("product");
    QTest::addColumn<QString>("property");
    QTest::addColumn<QString>("expected");

    QTest::newRow("hub present") << "1-1" << QByteArray("0451\n") << QByteArray("2077\n") << "usbHub" << "OK";
    QTest::newRow("hub other product") << "1-1" << QByteArray("0451") << QByteArray("2078") << "usbHub" << "ERROR";
    QTest::newRow("hub missing") << QString() << QByteArray() << QByteArray() << "usbHub" << "MISSING";
    QTest::newRow("rfid NUL-terminated") << "1-1.3" << QByteArray("0ab1\0zz", 7) << QByteArray(" 0007 ")
                                         << "rfidUsb" << "OK";
    QTest::newRow("ftdi present") << "1-1.5" << QByteArray("0403") << QByteArray("6015") << "ftdi" << "OK";
    QTest::newRow("touch unreadable") << "1-1.7" << QByteArray() << QByteArray() << "touch" << "ERROR";
    QTest::newRow("usb host any device") << "1-1.4" << QByteArray("1d6b") << QByteArray("0002") << "usbHost"
                                         << "OK";
    QTest::newRow("mPCIe unreadable is any") << "1-1.2" << QByteArray() << QByteArray() << "mPCIe1" << "OK";
    QTest::newRow("barcode missing") << QString() << QByteArray() << QByteArray() << "barcodeUsb" << "MISSING";
}

void TestDiagnostics::usbRow()
{
    QFETCH(QString, port);
    QFETCH(QByteArray, vendor);
    QFETCH(QByteArray, product);
    QFETCH(QString, property);
    QFETCH(QString, expected);

    if (!port.isEmpty())
        writeUsb(port, vendor, product);
    if (!port.isEmpty() && vendor.isNull()) {
        const QString dir = m_paths.usbDevices + QLatin1Char('/') + port;
        for (const char *name : {"idVendor", "idProduct", "product"})
            QTest::ignoreMessage(QtCriticalMsg, qPrintable("[Diagnostics] ERROR: Failed to open fle : " + dir + "/"
                                                           + QLatin1String(name)));
    }
    Proxies proxies(m_offline);
    auto diagnostics = make(proxies);

    diagnostics->check();

    QCOMPARE(diagnostics->property(qPrintable(property)).toString(), expected);
}

// A pass emits a USB row's signal only when its text changes.
void TestDiagnostics::usbResultSignalsOnlyOnChange()
{
    writeUsb(QStringLiteral("1-1"), "0451", "2077");
    Proxies proxies(m_offline);
    auto diagnostics = make(proxies);
    QSignalSpy hub(diagnostics.get(), &Diagnostics::usbHubChanged);
    QSignalSpy touch(diagnostics.get(), &Diagnostics::touchChanged);

    diagnostics->check();
    diagnostics->check();
    QCOMPARE(hub.count(), 1);
    QCOMPARE(touch.count(), 1);

    QVERIFY(QDir(m_paths.usbDevices + "/1-1").removeRecursively());
    diagnostics->check();
    QCOMPARE(diagnostics->usbHub(), QStringLiteral("MISSING"));
    QCOMPARE(hub.count(), 2);
    QCOMPARE(touch.count(), 1);
}

// The SD card passes when its block device exists.
void TestDiagnostics::sdCard_data()
{
    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("expected");

    QTest::newRow("present") << true << "OK";
    QTest::newRow("absent") << false << "MISSING";
}

void TestDiagnostics::sdCard()
{
    QFETCH(bool, present);
    QFETCH(QString, expected);

    if (present) {
        QFile device(m_paths.sdCard);
        QVERIFY(device.open(QIODevice::WriteOnly));
    }
    Proxies proxies(m_offline);
    auto diagnostics = make(proxies);

    diagnostics->check();

    QCOMPARE(diagnostics->sdCard(), expected);
}

// The serial test passes only when the byte written comes back: an echoing peer passes with
// any flow control, a silent one times out, a device that is not there cannot be opened and
// no selection is "MISSING".
void TestDiagnostics::serialLoopBack_data()
{
    QTest::addColumn<QString>("peer");
    QTest::addColumn<int>("flowCtrl");
    QTest::addColumn<QString>("expected");

    QTest::newRow("echo, no flow control") << "echo" << 0 << "OK";
    QTest::newRow("echo, RTS/CTS") << "echo" << 1 << "OK";
    QTest::newRow("echo, XON/XOFF") << "echo" << 2 << "OK";
    QTest::newRow("echo through the virtual port") << "vcom" << 1 << "OK";
    QTest::newRow("silent peer") << "silent" << 1 << "ERROR";
    QTest::newRow("no such device") << "missing" << 1 << "ERROR (Could not open)";
    QTest::newRow("NONE") << "NONE" << 1 << "MISSING";
    QTest::newRow("empty") << "" << 1 << "MISSING";
}

void TestDiagnostics::serialLoopBack()
{
    QFETCH(QString, peer);
    QFETCH(int, flowCtrl);
    QFETCH(QString, expected);

    std::unique_ptr<PtyPeer> pty;
    QString port = peer;
    if (peer == "echo" || peer == "vcom" || peer == "silent") {
        pty = std::make_unique<PtyPeer>(peer != "silent");
        QVERIFY(!pty->path().isEmpty());
        port = pty->path();
        if (peer == "vcom") {
            QVERIFY(QFile::link(pty->path(), m_paths.virtualSerialPort));
            port = m_paths.virtualSerialPort;
        }
    } else if (peer == "missing") {
        port = m_dir->filePath(QStringLiteral("ttyNothing"));
    }
    Proxies proxies(m_offline);
    auto diagnostics = make(proxies);
    diagnostics->setSerialFlowCtrl(flowCtrl);
    diagnostics->setSerialPort(port);

    if (expected == "OK") {
        // The echo must beat 50 ms; a machine busy with other work gets a few tries.
        QVERIFY(waitUntil([&] {
            diagnostics->check();
            return diagnostics->serialPortTest() == expected;
        }));
    } else {
        diagnostics->check();
        QCOMPARE(diagnostics->serialPortTest(), expected);
    }
    if (peer == "vcom")
        QVERIFY(diagnostics->serialPorts().contains(m_paths.virtualSerialPort));
}

// The list is "NONE", the system's ports in its order, then the virtual port when it exists;
// a listed "ttyUSB0" becomes the port under test.
void TestDiagnostics::portListRefresh_data()
{
    QTest::addColumn<QStringList>("system");
    QTest::addColumn<bool>("vcom");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("selected");

    QTest::newRow("nothing") << QStringList() << false << QStringList{"NONE"} << "NONE";
    QTest::newRow("ports in system order")
        << QStringList{"ttyS1", "ttyS0"} << false << QStringList{"NONE", "ttyS1", "ttyS0"} << "NONE";
    QTest::newRow("bench adapter") << QStringList{"ttyS0", "ttyUSB0"} << true
                                   << QStringList{"NONE", "ttyS0", "ttyUSB0", "<vcom>"} << "ttyUSB0";
    QTest::newRow("other case is not the bench adapter")
        << QStringList{"TTYUSB0"} << false << QStringList{"NONE", "TTYUSB0"} << "NONE";
}

void TestDiagnostics::portListRefresh()
{
    QFETCH(QStringList, system);
    QFETCH(bool, vcom);
    QFETCH(QStringList, expected);
    QFETCH(QString, selected);

    if (vcom) {
        QFile file(m_paths.virtualSerialPort);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    expected.replaceInStrings(QStringLiteral("<vcom>"), m_paths.virtualSerialPort);
    Proxies proxies(m_offline);
    auto diagnostics = make(proxies);
    diagnostics->ports = system;
    QSignalSpy ports(diagnostics.get(), &Diagnostics::serialPortsChanged);

    diagnostics->check();
    diagnostics->check();

    QCOMPARE(diagnostics->serialPorts(), expected);
    QCOMPARE(ports.count(), 1);
    QCOMPARE(diagnostics->serialPort(), selected);
}

// The first pass tests "NONE" and selects "ttyUSB0"; the next tests it; every pass selects it
// again whatever the technician chose.
void TestDiagnostics::benchPortIsSelectedAgain()
{
    Proxies proxies(m_offline);
    auto diagnostics = make(proxies);
    diagnostics->ports = QStringList{QStringLiteral("ttyS0"), QStringLiteral("ttyUSB0")};
    QSignalSpy selected(diagnostics.get(), &Diagnostics::serialPortChanged);

    QTest::ignoreMessage(QtWarningMsg, "[Diagnostics] ------------- Serial Port changed : ttyUSB0");
    diagnostics->check();
    QCOMPARE(diagnostics->serialPortTest(), QStringLiteral("MISSING"));
    QCOMPARE(diagnostics->serialPort(), QStringLiteral("ttyUSB0"));

    diagnostics->check();
    QVERIFY2(diagnostics->serialPortTest().startsWith(QStringLiteral("ERROR")),
             qPrintable(diagnostics->serialPortTest()));
    QCOMPARE(selected.count(), 1);

    diagnostics->setSerialPort(QStringLiteral("ttyS0"));
    diagnostics->check();
    QCOMPARE(diagnostics->serialPort(), QStringLiteral("ttyUSB0"));
    QCOMPARE(selected.count(), 3);
}

// The port and flow-control setters log and signal only real changes; a flow control that the
// port library does not know is refused.
void TestDiagnostics::serialSettersLogOnlyChanges()
{
    Proxies proxies(m_offline);
    auto diagnostics = make(proxies);
    QSignalSpy port(diagnostics.get(), &Diagnostics::serialPortChanged);
    QSignalSpy flow(diagnostics.get(), &Diagnostics::serialFlowCtrlChanged);

    QTest::ignoreMessage(QtWarningMsg, "[Diagnostics] ------------- Serial Port changed : /tmp/vcom");
    QTest::ignoreMessage(QtWarningMsg, "[Diagnostics] ------------- Serial Flow ctrl changed : 2");
    QTest::ignoreMessage(QtWarningMsg, "[Diagnostics] Unsupported serial flow control ignored : 7");
    diagnostics->setSerialPort(QStringLiteral("NONE"));
    diagnostics->setSerialPort(QStringLiteral("/tmp/vcom"));
    diagnostics->setSerialPort(QStringLiteral("/tmp/vcom"));
    diagnostics->setSerialFlowCtrl(1);
    diagnostics->setSerialFlowCtrl(2);
    diagnostics->setSerialFlowCtrl(7);

    QCOMPARE(port.count(), 1);
    QCOMPARE(flow.count(), 1);
    QCOMPARE(diagnostics->serialFlowCtrl(), 2);
}

// The board's and the ethernet interface's reports give the derived results, read when asked,
// and their changes reach the page through the result's own signal.
void TestDiagnostics::boardAndNetworkResults_data()
{
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QJsonObject>("device");
    QTest::addColumn<QString>("property");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("relayed");

    const QString status = QStringLiteral("orvo/board/status");
    auto row = [&](const char *name, const QJsonObject &device, const char *property, const char *expected,
                   bool relayed = true) {
        QTest::newRow(name) << status << device << property << expected << relayed;
    };
    row("15.0 degrees", {{"temperature", 15.0}}, "temperature", "ERROR");
    row("15.1 degrees", {{"temperature", 15.1}}, "temperature", "OK");
    row("69.9 degrees", {{"temperature", 69.9}}, "temperature", "OK");
    row("70.0 degrees", {{"temperature", 70.0}}, "temperature", "ERROR");
    row("9.0 volts", {{"voltage", 9.0}}, "voltage", "ERROR");
    row("9.1 volts", {{"voltage", 9.1}}, "voltage", "OK");
    row("39.9 volts", {{"voltage", 39.9}}, "voltage", "OK");
    row("40.0 volts", {{"voltage", 40.0}}, "voltage", "ERROR");
    row("ignition off", {{"ignition", false}}, "ignition", "ERROR");
    row("ignition on", {{"ignition", true}}, "ignition", "OK", false);
    row("pole id of zeros", {{"poleId", "0000000000000000"}}, "poleId", "ERROR");
    row("pole id of fifteen zeros", {{"poleId", "000000000000000"}}, "poleId", "OK");
    row("pole id set", {{"poleId", "P-0042"}}, "poleId", "OK");
    row("pole id empty", {{"poleId", ""}}, "poleId", "MISSING", false);
    row("rtc failed", {{"hardwareStatus", QJsonObject{{"rtcFailed", true}}}}, "rtc", "ERROR");
    row("rtc fine", {{"hardwareStatus", QJsonObject{{"rtcFailed", false}}}}, "rtc", "OK", false);
    row("board online", {}, "boardService", "OK");

    QTest::newRow("board service down") << status << QJsonObject() << "boardService" << "ERROR" << true;
    const QString ethernet = QStringLiteral("orvo/network/ethernet/state");
    QTest::newRow("ethernet connected") << ethernet << QJsonObject{{"interface", "eth0"}, {"stateStr", "Connected"}}
                                        << "ethernet" << "OK" << true;
    QTest::newRow("ethernet connecting")
        << ethernet << QJsonObject{{"interface", "eth0"}, {"stateStr", "Connecting (getting IP configuration)"}}
        << "ethernet" << "ERROR" << true;
}

void TestDiagnostics::boardAndNetworkResults()
{
    QFETCH(QString, topic);
    QFETCH(QJsonObject, device);
    QFETCH(QString, property);
    QFETCH(QString, expected);
    QFETCH(bool, relayed);

    ProxyRig rig(m_broker.port());
    Proxies proxies(rig.client);
    QVERIFY(rig.connect(QStringLiteral("test/probe"), QStringLiteral("orvo/#")));
    auto diagnostics = make(proxies);
    const QMetaProperty meta = diagnostics->metaObject()->property(
        diagnostics->metaObject()->indexOfProperty(qPrintable(property)));
    QSignalSpy changed(diagnostics.get(), meta.notifySignal());

    QJsonObject payload = device;
    if (topic.endsWith(QLatin1String("/status"))) {
        const bool serviceUp = !QByteArray(QTest::currentDataTag()).contains("down");
        device.insert(QStringLiteral("active"), true);
        payload = QJsonObject{{"service", serviceUp}, {"device", device}};
    }
    QVERIFY(rig.deliver(topic, payload));

    QCOMPARE(meta.read(diagnostics.get()).toString(), expected);
    QCOMPARE(changed.count() > 0, relayed);
}

// The SAM passes with an ATR on an active reader, is "MISSING" when the active reader has
// none and fails on an inactive reader; the reader services follow their records.
void TestDiagnostics::readerResults_data()
{
    QTest::addColumn<bool>("rfidActive");
    QTest::addColumn<QJsonArray>("sams");
    QTest::addColumn<bool>("barcodeActive");
    QTest::addColumn<QString>("sam");
    QTest::addColumn<QString>("rfidService");
    QTest::addColumn<QString>("barcodeService");

    const QJsonArray withAtr{QJsonObject{{"uid", "04A1B2"}, {"atr", "3B8F8001"}}};
    const QJsonArray withoutAtr{QJsonObject{{"uid", "04A1B2"}}};
    QTest::newRow("active with ATR") << true << withAtr << true << "OK" << "OK" << "OK";
    QTest::newRow("active without ATR") << true << withoutAtr << false << "ERROR" << "OK" << "ERROR";
    QTest::newRow("active without SAM") << true << QJsonArray() << true << "MISSING" << "OK" << "OK";
    QTest::newRow("inactive with ATR") << false << withAtr << false << "ERROR" << "ERROR" << "ERROR";
}

void TestDiagnostics::readerResults()
{
    QFETCH(bool, rfidActive);
    QFETCH(QJsonArray, sams);
    QFETCH(bool, barcodeActive);
    QFETCH(QString, sam);
    QFETCH(QString, rfidService);
    QFETCH(QString, barcodeService);

    Proxies proxies(m_offline);
    auto diagnostics = make(proxies);
    QSignalSpy samChanged(diagnostics.get(), &Diagnostics::samChanged);
    QSignalSpy rfidChanged(diagnostics.get(), &Diagnostics::rfidServiceChanged);
    QSignalSpy barcodeChanged(diagnostics.get(), &Diagnostics::barcodeServiceChanged);

    proxies.validator.rfid()->setSams(sams);
    proxies.validator.rfid()->setActive(rfidActive);
    proxies.validator.barcode()->setActive(barcodeActive);

    QCOMPARE(diagnostics->sam(), sam);
    QCOMPARE(diagnostics->rfidService(), rfidService);
    QCOMPARE(diagnostics->barcodeService(), barcodeService);
    QCOMPARE(samChanged.count(), rfidActive ? 2 : 1);
    QCOMPARE(rfidChanged.count(), rfidActive ? 1 : 0);
    QCOMPARE(barcodeChanged.count(), barcodeActive ? 1 : 0);
}

// start() checks at once, then on its interval until stop(); start(0) checks once only; the
// results outlive stop().
void TestDiagnostics::startRunsAtOnceAndRepeats()
{
    Proxies proxies(m_offline);
    auto diagnostics = make(proxies);

    QTest::ignoreMessage(QtInfoMsg, "[Diagnostics] Starting Diagnostic check (interval=0 sec)");
    diagnostics->start(0);
    QCOMPARE(diagnostics->sdCard(), QStringLiteral("MISSING"));
    QVERIFY(!diagnostics->isRunning());

    QTest::ignoreMessage(QtInfoMsg, "[Diagnostics] Starting Diagnostic check (interval=1 sec)");
    diagnostics->start();
    QVERIFY(diagnostics->isRunning());
    QFile device(m_paths.sdCard);
    QVERIFY(device.open(QIODevice::WriteOnly));
    QTRY_COMPARE_WITH_TIMEOUT(diagnostics->sdCard(), QStringLiteral("OK"), 5000);

    QTest::ignoreMessage(QtInfoMsg, "[Diagnostics] Stopping Diagnostic check");
    diagnostics->stop();
    QVERIFY(!diagnostics->isRunning());
    QCOMPARE(diagnostics->sdCard(), QStringLiteral("OK"));
}

// The report: 37 lines of 53 characters, the labels the report readers look for, values
// right-aligned, written as "TestReport_<yyyyMMdd_hhmm>.txt" without a final line break.
void TestDiagnostics::reportLayout()
{
    writeUsb(QStringLiteral("1-1"), "0451", "2077");
    writeUsb(QStringLiteral("1-1.3"), "0ab1", "0008");
    Proxies proxies(m_offline);
    proxies.validator.rfid()->setFirmware(QStringLiteral("RF-3.4"));
    proxies.validator.barcode()->setFirmware(QStringLiteral("BC-1.2"));
    auto diagnostics = make(proxies, QStringLiteral("VAL-0042"));
    diagnostics->check();
    QSignalSpy finished(diagnostics.get(), &Diagnostics::saveReportFinished);

    diagnostics->saveReport();

    const QString fileName = m_paths.reportDir + QStringLiteral("/TestReport_20240515_0930.txt");
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), true);
    QCOMPARE(finished.at(0).at(1).toString(), QStringLiteral("Test report saved successfully:\n") + fileName);
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    const QStringList lines = text.split(QLatin1Char('\n'));

    const QStringList expected{
        Separator,
        " DEVICE TEST REPORT",
        Separator,
        reportLine(" Device UID       ", "VAL-0042"),
        reportLine(" Date             ", "2024-05-15 09:30"),
        reportLine(" SAM              ", "SAM not present"),
        reportLine(" Barcode Firmware ", "BC-1.2"),
        reportLine(" RFID Firmware    ", "RF-3.4"),
        reportLine(" Board Firmware   ", ""),
        reportLine(" App Version      ", "1.0.21"),
        reportLine(" Bundle Version   ", "<null>"),
        reportLine(" Image Version    ", "<null>"),
        Separator,
        reportLine(" RTC              ", "OK"),
        reportLine(" Ethernet         ", "ERROR"),
        reportLine(" USB Hub          ", "OK"),
        reportLine(" USB Host         ", "MISSING"),
        reportLine(" FTDI             ", "MISSING"),
        reportLine(" mPCIe #1         ", "MISSING"),
        reportLine(" Touch            ", "MISSING"),
        reportLine(" SD Card          ", "MISSING"),
        reportLine(" Ignition         ", "OK"),
        reportLine(" Temperature      ", "ERROR"),
        reportLine(" Voltage          ", "ERROR"),
        reportLine(" RFID             ", "ERROR"),
        reportLine(" Barcode          ", "MISSING"),
        reportLine(" SAM              ", "ERROR"),
        reportLine(" Buzzer           ", ""),
        reportLine(" Front LEDs       ", ""),
        reportLine(" Barcode Scan     ", ""),
        reportLine(" Card Scan        ", ""),
        reportLine(" RFID Manager     ", "ERROR"),
        reportLine(" Barocde Manager  ", "ERROR"),
        reportLine(" Board Manager    ", "ERROR"),
        reportLine(" Light Sensor     ", ""),
        reportLine(" Display RGB Test ", ""),
        Separator,
    };
    QCOMPARE(lines, expected);
    QCOMPARE(lines.at(3), QStringLiteral(" Device UID                                  VAL-0042"));
    for (const QString &line : lines) {
        if (line != lines.at(1))
            QCOMPARE(line.size(), 53);
    }
    QVERIFY(!text.endsWith(QLatin1Char('\n')));
}

// Each manual answer shows on its own report line; the speaker's answer is only in the QR code.
void TestDiagnostics::manualResultInReport_data()
{
    QTest::addColumn<QString>("property");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("label");

    QTest::newRow("buzzer") << "buzzer" << 28 << " Buzzer           ";
    QTest::newRow("leds") << "leds" << 29 << " Front LEDs       ";
    QTest::newRow("barcodeScan") << "barcodeScan" << 30 << " Barcode Scan     ";
    QTest::newRow("cardScan") << "cardScan" << 31 << " Card Scan        ";
    QTest::newRow("lightSensor") << "lightSensor" << 35 << " Light Sensor     ";
    QTest::newRow("rgbTest") << "rgbTest" << 36 << " Display RGB Test ";
    QTest::newRow("speaker") << "speaker" << 0 << QString();
}

void TestDiagnostics::manualResultInReport()
{
    QFETCH(QString, property);
    QFETCH(int, line);
    QFETCH(QString, label);

    Proxies proxies(m_offline);
    auto diagnostics = make(proxies);
    const QString fileName = m_paths.reportDir + QStringLiteral("/TestReport_20240515_0930.txt");
    auto report = [&] {
        diagnostics->saveReport();
        QFile file(fileName);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n') : QStringList();
    };
    const QStringList before = report();
    const QMetaProperty meta = diagnostics->metaObject()->property(
        diagnostics->metaObject()->indexOfProperty(qPrintable(property)));
    QSignalSpy changed(diagnostics.get(), meta.notifySignal());

    QVERIFY(meta.write(diagnostics.get(), QStringLiteral("ERROR")));
    QVERIFY(meta.write(diagnostics.get(), QStringLiteral("ERROR")));
    const QStringList after = report();

    QCOMPARE(changed.count(), 1);
    QCOMPARE(after.size(), 37);
    for (int i = 0; i < after.size(); ++i) {
        if (i + 1 == line)
            QCOMPARE(after.at(i), reportLine(label, QStringLiteral("ERROR")));
        else
            QCOMPARE(after.at(i), before.at(i));
    }
}

// The device id is read when the report is made, so an id loaded after start-up is in it.
void TestDiagnostics::reportSeesDeviceIdSetLater()
{
    Proxies proxies(m_offline);
    auto diagnostics = make(proxies);
    m_identity->setDeviceId(QStringLiteral("VAL-LATER-7"));

    diagnostics->saveReport();

    QFile file(m_paths.reportDir + QStringLiteral("/TestReport_20240515_0930.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()).split('\n').at(3), reportLine(" Device UID       ", "VAL-LATER-7"));
}

// A report that cannot be written, or only in part (a full disk), is reported as a failure
// with the file's error text and the critical line.
void TestDiagnostics::reportWriteFailure_data()
{
    QTest::addColumn<QString>("where");

    QTest::newRow("no such folder") << "missing";
    QTest::newRow("full disk") << "full";
}

void TestDiagnostics::reportWriteFailure()
{
    QFETCH(QString, where);

    if (where == "missing") {
        QVERIFY(QDir(m_paths.reportDir).removeRecursively());
    } else {
        if (!QFileInfo::exists(QStringLiteral("/dev/full")))
            QSKIP("no /dev/full on this system");
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), m_paths.reportDir + "/TestReport_20240515_0930.txt"));
    }
    Proxies proxies(m_offline);
    auto diagnostics = make(proxies);
    QSignalSpy finished(diagnostics.get(), &Diagnostics::saveReportFinished);

    QTest::ignoreMessage(QtCriticalMsg,
                         QRegularExpression(QStringLiteral("^\\[Diagnostics\\] ERROR: Could not save file : .+")));
    diagnostics->saveReport();

    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    const QString message = finished.at(0).at(1).toString();
    QVERIFY2(message.startsWith(QStringLiteral("Could not save Test Report\nERROR: ")) && message.size() > 35,
             qPrintable(message));
}

// Renders the SVG at 8 pixels per module and reads it back with a real QR decoder.
QString TestDiagnostics::decodeQr(const QString &svg)
{
    QSvgRenderer renderer(svg.toUtf8());
    if (!renderer.isValid())
        return QStringLiteral("<invalid svg>");
    QImage image(renderer.viewBox().size() * 8, QImage::Format_RGB32);
    image.fill(Qt::gray);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    const QString file = m_dir->filePath(QStringLiteral("qr.png"));
    if (!image.save(file))
        return QStringLiteral("<unsaved png>");
    QProcess zbar;
    zbar.start(QStandardPaths::findExecutable(QStringLiteral("zbarimg")), {"--raw", "-q", file});
    if (!zbar.waitForFinished(30000))
        return QStringLiteral("<zbarimg hung>");
    QString text = QString::fromUtf8(zbar.readAllStandardOutput());
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text;
}

// The QR code carries the 35 summary fields in their order, joined by ";".
void TestDiagnostics::qrSummaryDecodes()
{
    if (QStandardPaths::findExecutable(QStringLiteral("zbarimg")).isEmpty())
        QSKIP("zbarimg is not installed");
    writeUsb(QStringLiteral("1-1"), "0451", "2077");
    writeUsb(QStringLiteral("1-1.3"), "0ab1", "0008");
    writeUsb(QStringLiteral("1-1.4"), "1d6b", "0002");
    QFile device(m_paths.sdCard);
    QVERIFY(device.open(QIODevice::WriteOnly));
    Proxies proxies(m_offline);
    proxies.validator.rfid()->setFirmware(QStringLiteral("RF-3.4"));
    proxies.validator.rfid()->setSams(QJsonArray{QJsonObject{{"uid", "04A1B2"}, {"atr", "3B8F"}}});
    proxies.validator.rfid()->setActive(true);
    proxies.validator.barcode()->setFirmware(QStringLiteral("BC-1.2"));
    auto diagnostics = make(proxies, QStringLiteral("VAL-0042"));
    diagnostics->check();
    diagnostics->setBuzzer("B1");
    diagnostics->setLeds("L1");
    diagnostics->setSpeaker("S1");
    diagnostics->setBarcodeScan("BS");
    diagnostics->setCardScan("CS");
    diagnostics->setLightSensor("LS");
    diagnostics->setRgbTest("RGB");

    const QString qr = diagnostics->generateQr();

    const QString prefix = QStringLiteral("data:image/svg,");
    QVERIFY(qr.startsWith(prefix + QStringLiteral("<?xml")));
    const QStringList expected{
        "VAL-0042", "2024-05-15 09:30", "04A1B2", "BC-1.2", "RF-3.4", "", "1.0.21", "", "",
        "OK" /*rtc*/, "ERROR" /*ethernet*/, "OK" /*usbHub*/, "MISSING" /*mPCIe1*/, "ERROR" /*rfidUsb*/,
        "MISSING" /*barcodeUsb*/, "MISSING" /*ftdi*/, "OK" /*usbHost*/, "MISSING" /*touch*/, "OK" /*sdCard*/,
        "B1", "L1", "OK" /*ignition*/, "ERROR" /*temperature*/, "ERROR" /*voltage*/, "OK" /*sam*/, "S1", "BS",
        "CS", "OK" /*rfidService*/, "ERROR" /*barcodeService*/, "ERROR" /*boardService*/, "LS", "RGB",
        "MISSING" /*poleId*/, "MISSING" /*serialPortTest*/};
    QCOMPARE(expected.size(), 35);
    QCOMPARE(decodeQr(qr.mid(prefix.size())).split(QLatin1Char(';')), expected);
}

// A summary too long for any QR symbol gives no image and a critical line, never a crash.
void TestDiagnostics::qrTooLongFailsCleanly()
{
    Proxies proxies(m_offline);
    auto diagnostics = make(proxies);
    diagnostics->setRgbTest(QString(3000, QLatin1Char('x')));

    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^\\[Diagnostics\\] ERROR: .*QR")));
    QCOMPARE(diagnostics->generateQr(), QString());

    diagnostics->setRgbTest(QStringLiteral("OK"));
    QVERIFY(diagnostics->generateQr().startsWith(QStringLiteral("data:image/svg,")));
}

// The controller's diagnostics are one object for the scene and read the controller's own
// device id, so an id saved after start-up is in the next report without a restart.
void TestDiagnostics::controllerReportHasSavedDeviceId()
{
    // The controller installs the application's log handler; the test's own comes back after.
    const QtMessageHandler testHandler = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(testHandler);
    QFile conf(m_dir->filePath(QStringLiteral("gui.conf")));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write(QStringLiteral("[log]\nsyslog=false\nstderr=false\n[mqtt]\nhost=127.0.0.1\nport=%1\n"
                              "[gui]\ndeviceId=%2\n")
                   .arg(m_broker.port())
                   .arg(m_dir->filePath(QStringLiteral("serialnumber")))
                   .toUtf8());
    conf.close();
    Config config(conf.fileName(), GUIManager::Defaults);
    GUIManager controller(config, m_dir->filePath(QStringLiteral("events.ini")));
    qInstallMessageHandler(testHandler);

    Diagnostics *diagnostics = controller.property("diagnostics").value<Diagnostics *>();
    QVERIFY(diagnostics);
    QCOMPARE(controller.property("diagnostics").value<Diagnostics *>(), diagnostics);
    controller.setDeviceId(QStringLiteral("TSV-0777"));
    QSignalSpy finished(diagnostics, &Diagnostics::saveReportFinished);
    const QString workingDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_paths.reportDir));
    diagnostics->saveReport();
    QDir::setCurrent(workingDir);

    QCOMPARE(finished.count(), 1);
    const QString message = finished.at(0).at(1).toString();
    const QString prefix = QStringLiteral("Test report saved successfully:\n./TestReport_");
    QVERIFY2(message.startsWith(prefix) && message.endsWith(QLatin1String(".txt")), qPrintable(message));
    QFile file(m_paths.reportDir + QLatin1Char('/') + message.mid(message.indexOf(QLatin1String("TestReport_"))));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()).split('\n').at(3), reportLine(" Device UID       ", "TSV-0777"));
}

QTEST_MAIN(TestDiagnostics)
#include "tst_diagnostics.moc"
