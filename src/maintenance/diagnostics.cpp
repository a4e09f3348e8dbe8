#include "diagnostics.h"

#include "maintenance/deviceidentity.h"
#include "maintenance/qrcodegenerator.h"
#include "network/network.h"
#include "services/board.h"
#include "validation/sam.h"
#include "validation/validator.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>

// Reads, once a second while the diagnostics page is open: the USB devices below the kernel's
// USB devices folder ("idVendor", "idProduct", "product" of each board port), the SD card's
// block device, and a loop-back plug on the selected serial port. Writes the test report to
// "TestReport_<yyyyMMdd_hhmm>.txt" in the working folder. Nothing here talks to the broker: the
// board, network and validator states come from their proxies.

namespace {
const char Tag[] = "[Diagnostics] ";

const QString Ok = QStringLiteral("OK");
const QString Error = QStringLiteral("ERROR");
const QString Missing = QStringLiteral("MISSING");
const QString NoPort = QStringLiteral("NONE");
// The FTDI adapter of the test bench; when it is plugged in, it is the port under test.
const QString BenchPort = QStringLiteral("ttyUSB0");

// The board and the power supply are only trusted strictly inside these bounds.
constexpr double MinTemperature = 15.0;
constexpr double MaxTemperature = 70.0;
constexpr double MinVoltage = 9.0;
constexpr double MaxVoltage = 40.0;
// A pole id the board reports before it has read its own.
const QString BlankPoleId(16, QLatin1Char('0'));

// The loop-back byte must go out and come back within these, as with a plug on the port; the
// check runs on the GUI thread, so they also bound how long the page freezes.
constexpr int WriteTimeoutMs = 50;
constexpr int EchoTimeoutMs = 50;
const char LoopBackByte = 'A';

// A sysfs attribute is a line of text; anything longer is not one.
constexpr qint64 MaxAttributeBytes = 4096;
// Keeps intervalSec × 1000 within an int.
constexpr int MaxIntervalSec = 24 * 60 * 60;

const QString Separator(53, QLatin1Char('-'));
// Each report value is right-aligned in this field after an 18-character label.
constexpr int ValueWidth = 35;

// Contents of a sysfs attribute up to its first NUL, trimmed; empty when it cannot be read.
QString readAttribute(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCritical().noquote().nospace() << Tag << "ERROR: Failed to open fle : " << path;
        return QString();
    }
    QByteArray data = file.read(MaxAttributeBytes);
    const int nul = data.indexOf('\0');
    if (nul >= 0)
        data.truncate(nul);
    return QString::fromUtf8(data).trimmed();
}

QString passFail(bool ok)
{
    return ok ? Ok : Error;
}
} // namespace

const QList<Diagnostics::UsbDevice> Diagnostics::m_usbDevices = {
    {QStringLiteral("USB Hub #1"), QStringLiteral("0451:2077"), QStringLiteral("1-1")},
    {QStringLiteral("mPCIE #1"), QStringLiteral("*"), QStringLiteral("1-1.2")},
    {QStringLiteral("RFID"), QStringLiteral("0ab1:0007"), QStringLiteral("1-1.3")},
    {QStringLiteral("USB Host"), QStringLiteral("*"), QStringLiteral("1-1.4")},
    {QStringLiteral("FTDI"), QStringLiteral("0403:6015"), QStringLiteral("1-1.5")},
    {QStringLiteral("Barcode"), QStringLiteral("*"), QStringLiteral("1-1.6")},
    {QStringLiteral("Touch"), QStringLiteral("222a:0001"), QStringLiteral("1-1.7")},
};

Diagnostics::Diagnostics(const DeviceIdentity &identity, manager::Board &board, manager::Network &network,
                         manager::Validator &validator, QObject *parent)
    : Diagnostics(identity, board, network, validator, Paths(), Clock(), parent)
{
}

Diagnostics::Diagnostics(const DeviceIdentity &identity, manager::Board &board, manager::Network &network,
                         manager::Validator &validator, const Paths &paths, Clock clock, QObject *parent)
    : QObject(parent)
    , m_identity(identity)
    , m_board(board)
    , m_network(network)
    , m_validator(validator)
    , m_paths(paths)
    , m_clock(std::move(clock))
{
    m_checkTimer.setSingleShot(false);
    connect(&m_checkTimer, &QTimer::timeout, this, &Diagnostics::check);

    // The derived results are read from their sources on demand; only their changes are relayed.
    connect(&m_board, &manager::Board::ignitionChanged, this, &Diagnostics::ignitionChanged);
    connect(&m_board, &manager::Board::temperatureChanged, this, &Diagnostics::temperatureChanged);
    connect(&m_board, &manager::Board::voltageChanged, this, &Diagnostics::voltageChanged);
    connect(&m_board, &manager::Board::poleIdChanged, this, &Diagnostics::poleIdChanged);
    connect(&m_board, &manager::Board::statusChanged, this, &Diagnostics::boardServiceChanged);
    connect(&m_board, &manager::Board::rtcFailedChanged, this, &Diagnostics::rtcChanged);

    ValidatorRfid *rfid = m_validator.rfid();
    connect(rfid, &ValidatorRfid::samChanged, this, &Diagnostics::samChanged);
    // The SAM result also depends on whether the reader is up.
    connect(rfid, &ValidatorRfid::activeChanged, this, &Diagnostics::samChanged);
    connect(rfid, &ValidatorRfid::activeChanged, this, &Diagnostics::rfidServiceChanged);
    connect(m_validator.barcode(), &ValidatorBarcode::activeChanged, this,
            &Diagnostics::barcodeServiceChanged);

    connect(&m_network, &manager::Network::ethernetChanged, this, &Diagnostics::ethernetChanged);
    if (manager::Ethernet *ethernet = m_network.ethernet())
        connect(ethernet, &manager::Ethernet::stateChanged, this, &Diagnostics::ethernetChanged);
}

// ---------------------------------------------------------------------------------------------
// Derived results

QString Diagnostics::rtc() const
{
    return passFail(!m_board.rtcFailed());
}

QString Diagnostics::ethernet() const
{
    const manager::Ethernet *ethernet = m_network.ethernet();
    return passFail(ethernet && ethernet->state() == QLatin1String("Connected"));
}

QString Diagnostics::ignition() const
{
    return passFail(m_board.ignition());
}

QString Diagnostics::temperature() const
{
    const double value = m_board.temperature();
    return passFail(value > MinTemperature && value < MaxTemperature);
}

QString Diagnostics::voltage() const
{
    const double value = m_board.voltage();
    return passFail(value > MinVoltage && value < MaxVoltage);
}

QString Diagnostics::sam() const
{
    const ValidatorRfid *rfid = m_validator.rfid();
    if (!rfid->active())
        return Error;
    const SAM *sam = rfid->sam();
    if (!sam)
        return Missing;
    return passFail(!sam->atr().isEmpty());
}

QString Diagnostics::rfidService() const
{
    return passFail(m_validator.rfid()->active());
}

QString Diagnostics::barcodeService() const
{
    return passFail(m_validator.barcode()->active());
}

QString Diagnostics::boardService() const
{
    return passFail(m_board.status() == QLatin1String("online"));
}

QString Diagnostics::poleId() const
{
    const QString id = m_board.poleId();
    if (id.isEmpty())
        return Missing;
    return passFail(id != BlankPoleId);
}

// ---------------------------------------------------------------------------------------------
// Stored results

void Diagnostics::store(QString &field, const QString &value, Signal changed)
{
    if (field == value)
        return;
    field = value;
    emit(this->*changed)();
}

void Diagnostics::setBuzzer(const QString &value)
{
    store(m_buzzer, value, &Diagnostics::buzzerChanged);
}

void Diagnostics::setLeds(const QString &value)
{
    store(m_leds, value, &Diagnostics::ledsChanged);
}

void Diagnostics::setSpeaker(const QString &value)
{
    store(m_speaker, value, &Diagnostics::speakerChanged);
}

void Diagnostics::setBarcodeScan(const QString &value)
{
    store(m_barcodeScan, value, &Diagnostics::barcodeScanChanged);
}

void Diagnostics::setCardScan(const QString &value)
{
    store(m_cardScan, value, &Diagnostics::cardScanChanged);
}

void Diagnostics::setLightSensor(const QString &value)
{
    store(m_lightSensor, value, &Diagnostics::lightSensorChanged);
}

void Diagnostics::setRgbTest(const QString &value)
{
    store(m_rgbTest, value, &Diagnostics::rgbTestChanged);
}

void Diagnostics::setSerialPort(const QString &value)
{
    if (value == m_serialPort)
        return;
    qWarning().noquote().nospace() << Tag << "------------- Serial Port changed : " << value;
    m_serialPort = value;
    emit serialPortChanged();
}

void Diagnostics::setSerialFlowCtrl(int value)
{
    if (value == m_serialFlowCtrl)
        return;
    // Only none, RTS/CTS and XON/XOFF exist; anything else would reach the port driver as is.
    if (value < QSerialPort::NoFlowControl || value > QSerialPort::SoftwareControl) {
        qWarning().noquote().nospace() << Tag << "Unsupported serial flow control ignored : " << value;
        return;
    }
    qWarning().noquote().nospace() << Tag << "------------- Serial Flow ctrl changed : " << value;
    m_serialFlowCtrl = value;
    emit serialFlowCtrlChanged();
}

// ---------------------------------------------------------------------------------------------
// Periodic check

void Diagnostics::start(int intervalSec)
{
    qInfo().noquote().nospace() << Tag
                                << QStringLiteral("Starting Diagnostic check (interval=%1 sec)").arg(intervalSec);
    check();
    // A negative interval from the scene means no repetition, like 0.
    if (intervalSec > 0)
        m_checkTimer.start(qMin(intervalSec, MaxIntervalSec) * 1000);
}

void Diagnostics::start()
{
    start(1);
}

void Diagnostics::stop()
{
    qInfo().noquote().nospace() << Tag << "Stopping Diagnostic check";
    m_checkTimer.stop();
}

void Diagnostics::check()
{
    // The result of each USB table row, in the table's order.
    static const struct
    {
        QString Diagnostics::*field;
        Signal changed;
    } UsbResults[] = {
        {&Diagnostics::m_usbHub, &Diagnostics::usbHubChanged},
        {&Diagnostics::m_mPCIe1, &Diagnostics::mPCIe1Changed},
        {&Diagnostics::m_rfidUsb, &Diagnostics::rfidUsbChanged},
        {&Diagnostics::m_usbHost, &Diagnostics::usbHostChanged},
        {&Diagnostics::m_ftdi, &Diagnostics::ftdiChanged},
        {&Diagnostics::m_barcodeUsb, &Diagnostics::barcodeUsbChanged},
        {&Diagnostics::m_touch, &Diagnostics::touchChanged},
    };
    static_assert(sizeof(UsbResults) / sizeof(UsbResults[0]) == 7, "one result per USB device");

    for (int i = 0; i < m_usbDevices.size(); ++i)
        store(this->*UsbResults[i].field, testUsbDevice(m_usbDevices.at(i)), UsbResults[i].changed);
    store(m_sdCard, testSdCard(), &Diagnostics::sdCardChanged);
    store(m_serialPortTest, testSerialPort(), &Diagnostics::serialPortTestChanged);
    refreshSerialPorts();
}

QString Diagnostics::testUsbDevice(const UsbDevice &device) const
{
    const QString dir = m_paths.usbDevices + QLatin1Char('/') + device.port;
    if (!QFileInfo(dir).isDir())
        return Missing;

    const QString vendor = readAttribute(dir + QLatin1String("/idVendor"));
    const QString product = readAttribute(dir + QLatin1String("/idProduct"));
    const QString productName = readAttribute(dir + QLatin1String("/product"));
    const QString deviceId = vendor + QLatin1Char(':') + product;
    qDebug().noquote().nospace() << Tag << "name=" << device.name << " deviceId=" << deviceId
                                 << " expected=" << device.deviceId << " product=" << productName;

    if (device.deviceId == QLatin1String("any") || device.deviceId == QLatin1String("*"))
        return Ok;
    return passFail(deviceId.contains(device.deviceId));
}

QString Diagnostics::testSdCard() const
{
    return QFileInfo::exists(m_paths.sdCard) ? Ok : Missing;
}

QString Diagnostics::testSerialPort() const
{
    if (m_serialPort.isEmpty() || m_serialPort == NoPort)
        return Missing;

    // A listed name ("ttyUSB0") is looked up under /dev, a path ("/tmp/vcom") is used as it is.
    QSerialPort port;
    port.setPortName(m_serialPort);
    port.setBaudRate(QSerialPort::Baud9600, QSerialPort::AllDirections);
    port.setDataBits(QSerialPort::Data8);
    port.setStopBits(QSerialPort::OneStop);
    port.setParity(QSerialPort::NoParity);
    port.setFlowControl(QSerialPort::FlowControl(m_serialFlowCtrl));
    if (!port.open(QIODevice::ReadWrite))
        return QStringLiteral("ERROR (Could not open)");

    QString result = Error;
    if (port.write(&LoopBackByte, 1) != 1) {
        result = QStringLiteral("ERROR (Could not write)");
    } else if (!port.waitForBytesWritten(WriteTimeoutMs)) {
        result = QStringLiteral("ERROR (Write timeout)");
    } else {
        QElapsedTimer stopwatch;
        stopwatch.start();
        for (;;) {
            const qint64 elapsed = stopwatch.elapsed();
            if (elapsed > EchoTimeoutMs - 1)
                break;
            if (!port.waitForReadyRead(int(EchoTimeoutMs - elapsed)))
                continue;
            const QByteArray echo = port.readAll();
            if (!echo.isEmpty() && echo.contains(LoopBackByte)) {
                result = Ok;
                break;
            }
        }
    }
    port.close();
    return result;
}

QStringList Diagnostics::systemSerialPorts() const
{
    QStringList names;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        names.append(info.portName());
    return names;
}

void Diagnostics::refreshSerialPorts()
{
    QStringList ports{NoPort};
    ports += systemSerialPorts();
    if (QFileInfo::exists(m_paths.virtualSerialPort))
        ports.append(m_paths.virtualSerialPort);

    if (ports != m_serialPorts) {
        m_serialPorts = ports;
        emit serialPortsChanged();
    }
    if (m_serialPorts.contains(BenchPort))
        setSerialPort(BenchPort);
}

QString Diagnostics::serialPortDescr(const QString &portName)
{
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        if (info.portName() == portName)
            return info.description();
    }
    return QString();
}

// ---------------------------------------------------------------------------------------------
// Report and QR summary

QDateTime Diagnostics::now() const
{
    return m_clock ? m_clock() : QDateTime::currentDateTime();
}

QString Diagnostics::samUid() const
{
    const SAM *sam = m_validator.rfid()->sam();
    return sam ? sam->uid() : QStringLiteral("SAM not present");
}

QString Diagnostics::boardFirmware() const
{
    return m_board.info().value(QStringLiteral("firmware")).toString();
}

void Diagnostics::saveReport()
{
    const QDateTime time = now();
    const ValidatorRfid *rfid = m_validator.rfid();
    const ValidatorBarcode *barcode = m_validator.barcode();
    const QString null = QStringLiteral("<null>");

    const QStringList lines{
        Separator,
        QStringLiteral(" DEVICE TEST REPORT"),
        Separator,
        QStringLiteral(" Device UID       %1").arg(m_identity.deviceId(), ValueWidth),
        QStringLiteral(" Date             %1").arg(time.toString(QStringLiteral("yyyy-MM-dd hh:mm")), ValueWidth),
        QStringLiteral(" SAM              %1").arg(samUid(), ValueWidth),
        QStringLiteral(" Barcode Firmware %1").arg(barcode->firmware(), ValueWidth),
        QStringLiteral(" RFID Firmware    %1").arg(rfid->firmware(), ValueWidth),
        QStringLiteral(" Board Firmware   %1").arg(boardFirmware(), ValueWidth),
        QStringLiteral(" App Version      %1").arg(QCoreApplication::applicationVersion(), ValueWidth),
        QStringLiteral(" Bundle Version   %1").arg(null, ValueWidth),
        QStringLiteral(" Image Version    %1").arg(null, ValueWidth),
        Separator,
        QStringLiteral(" RTC              %1").arg(rtc(), ValueWidth),
        QStringLiteral(" Ethernet         %1").arg(ethernet(), ValueWidth),
        QStringLiteral(" USB Hub          %1").arg(m_usbHub, ValueWidth),
        QStringLiteral(" USB Host         %1").arg(m_usbHost, ValueWidth),
        QStringLiteral(" FTDI             %1").arg(m_ftdi, ValueWidth),
        QStringLiteral(" mPCIe #1         %1").arg(m_mPCIe1, ValueWidth),
        QStringLiteral(" Touch            %1").arg(m_touch, ValueWidth),
        QStringLiteral(" SD Card          %1").arg(m_sdCard, ValueWidth),
        QStringLiteral(" Ignition         %1").arg(ignition(), ValueWidth),
        QStringLiteral(" Temperature      %1").arg(temperature(), ValueWidth),
        QStringLiteral(" Voltage          %1").arg(voltage(), ValueWidth),
        QStringLiteral(" RFID             %1").arg(m_rfidUsb, ValueWidth),
        QStringLiteral(" Barcode          %1").arg(m_barcodeUsb, ValueWidth),
        QStringLiteral(" SAM              %1").arg(sam(), ValueWidth),
        QStringLiteral(" Buzzer           %1").arg(m_buzzer, ValueWidth),
        QStringLiteral(" Front LEDs       %1").arg(m_leds, ValueWidth),
        QStringLiteral(" Barcode Scan     %1").arg(m_barcodeScan, ValueWidth),
        QStringLiteral(" Card Scan        %1").arg(m_cardScan, ValueWidth),
        QStringLiteral(" RFID Manager     %1").arg(rfidService(), ValueWidth),
        // The misspelt label is what the tools that read these reports look for.
        QStringLiteral(" Barocde Manager  %1").arg(barcodeService(), ValueWidth),
        QStringLiteral(" Board Manager    %1").arg(boardService(), ValueWidth),
        QStringLiteral(" Light Sensor     %1").arg(m_lightSensor, ValueWidth),
        QStringLiteral(" Display RGB Test %1").arg(m_rgbTest, ValueWidth),
        Separator,
    };
    const QString report = lines.join(QLatin1Char('\n'));
    const QString fileName = QStringLiteral("%1/%2_%3.txt")
                                 .arg(m_paths.reportDir, QStringLiteral("TestReport"),
                                      time.toString(QStringLiteral("yyyyMMdd_hhmm")));

    qInfo().noquote().nospace() << Tag << "\n" << report;
    qInfo().noquote().nospace() << Tag << "Saving Diagnostics report to : " << fileName;

    QFile file(fileName);
    bool saved = file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text);
    if (saved) {
        // A full disk shows up only in the write or the flush; it must not pass for a saved report.
        const QByteArray data = report.toUtf8();
        saved = file.write(data) == data.size() && file.flush();
        file.close();
        saved = saved && file.error() == QFileDevice::NoError;
    }
    if (!saved) {
        const QString error = file.errorString();
        qCritical().noquote().nospace() << Tag << "ERROR: Could not save file : " << error;
        emit saveReportFinished(false, QStringLiteral("Could not save Test Report\nERROR: ") + error);
        return;
    }
    emit saveReportFinished(true, QStringLiteral("Test report saved successfully:\n") + fileName);
}

QString Diagnostics::generateQr()
{
    const ValidatorRfid *rfid = m_validator.rfid();
    const ValidatorBarcode *barcode = m_validator.barcode();
    const QStringList fields{
        m_identity.deviceId(),
        now().toString(QStringLiteral("yyyy-MM-dd hh:mm")),
        samUid(),
        barcode->firmware(),
        rfid->firmware(),
        boardFirmware(),
        QCoreApplication::applicationVersion(),
        QString(), // bundle version
        QString(), // image version
        rtc(),
        ethernet(),
        m_usbHub,
        m_mPCIe1,
        m_rfidUsb,
        m_barcodeUsb,
        m_ftdi,
        m_usbHost,
        m_touch,
        m_sdCard,
        m_buzzer,
        m_leds,
        ignition(),
        temperature(),
        voltage(),
        sam(),
        m_speaker,
        m_barcodeScan,
        m_cardScan,
        rfidService(),
        barcodeService(),
        boardService(),
        m_lightSensor,
        m_rgbTest,
        poleId(),
        m_serialPortTest,
    };
    const QString summary = fields.join(QLatin1Char(';'));

    bool ok = false;
    const QString svg = QrCodeGenerator().generateSvgQr(summary, 1, qrcodegen::QrCode::Ecc::MEDIUM, &ok);
    if (!ok) {
        // Only texts typed by the scene can make the summary this long; the page shows no code.
        qCritical().noquote().nospace() << Tag << "ERROR: Summary too long for a QR code : "
                                        << summary.toUtf8().size() << " bytes";
        return QString();
    }
    return QStringLiteral("data:image/svg,") + svg;
}
