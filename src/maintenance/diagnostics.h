#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

class DeviceIdentity;

namespace manager {
class Board;
class Network;
class Validator;
} // namespace manager

// The device self-test behind the technician's diagnostics page. While the page is open it
// checks once a second the validator board's USB devices, the SD card and a serial loop-back
// plug; it derives pass/fail texts from what the board, network and validator proxies hold;
// it keeps the technician's answers to the manual tests, and writes the test report and its
// QR summary. Every result is a text: empty (not tested), "OK", "MISSING" or one holding "ERROR".
class Diagnostics : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString rtc READ rtc NOTIFY rtcChanged)
    Q_PROPERTY(QString ethernet READ ethernet NOTIFY ethernetChanged)
    Q_PROPERTY(QString usbHub READ usbHub NOTIFY usbHubChanged)
    Q_PROPERTY(QString mPCIe1 READ mPCIe1 NOTIFY mPCIe1Changed)
    Q_PROPERTY(QString rfidUsb READ rfidUsb NOTIFY rfidUsbChanged)
    Q_PROPERTY(QString ftdi READ ftdi NOTIFY ftdiChanged)
    Q_PROPERTY(QString usbHost READ usbHost NOTIFY usbHostChanged)
    Q_PROPERTY(QString barcodeUsb READ barcodeUsb NOTIFY barcodeUsbChanged)
    Q_PROPERTY(QString touch READ touch NOTIFY touchChanged)
    Q_PROPERTY(QString sdCard READ sdCard NOTIFY sdCardChanged)
    Q_PROPERTY(QString buzzer READ buzzer WRITE setBuzzer NOTIFY buzzerChanged)
    Q_PROPERTY(QString leds READ leds WRITE setLeds NOTIFY ledsChanged)
    Q_PROPERTY(QString speaker READ speaker WRITE setSpeaker NOTIFY speakerChanged)
    Q_PROPERTY(QString barcodeScan READ barcodeScan WRITE setBarcodeScan NOTIFY barcodeScanChanged)
    Q_PROPERTY(QString cardScan READ cardScan WRITE setCardScan NOTIFY cardScanChanged)
    Q_PROPERTY(QString lightSensor READ lightSensor WRITE setLightSensor NOTIFY lightSensorChanged)
    Q_PROPERTY(QString rgbTest READ rgbTest WRITE setRgbTest NOTIFY rgbTestChanged)
    Q_PROPERTY(QString ignition READ ignition NOTIFY ignitionChanged)
    Q_PROPERTY(QString temperature READ temperature NOTIFY temperatureChanged)
    Q_PROPERTY(QString voltage READ voltage NOTIFY voltageChanged)
    Q_PROPERTY(QString sam READ sam NOTIFY samChanged)
    Q_PROPERTY(QString rfidService READ rfidService NOTIFY rfidServiceChanged)
    Q_PROPERTY(QString barcodeService READ barcodeService NOTIFY barcodeServiceChanged)
    Q_PROPERTY(QString boardService READ boardService NOTIFY boardServiceChanged)
    Q_PROPERTY(QString poleId READ poleId NOTIFY poleIdChanged)
    Q_PROPERTY(QString serialPortTest READ serialPortTest NOTIFY serialPortTestChanged)
    Q_PROPERTY(QStringList serialPorts READ serialPorts NOTIFY serialPortsChanged)
    Q_PROPERTY(QString serialPort READ serialPort WRITE setSerialPort NOTIFY serialPortChanged)
    Q_PROPERTY(int serialFlowCtrl READ serialFlowCtrl WRITE setSerialFlowCtrl NOTIFY serialFlowCtrlChanged)

public:
    // One USB device of the validator board: its name, the id expected there ("vendor:product"
    // in lower-case hex as the kernel writes it; "*" or "any" for whatever is plugged in) and
    // its port below the USB devices folder.
    struct UsbDevice
    {
        QString name;
        QString deviceId;
        QString port;
    };

    // Where the device's files are; tests point these into a temporary folder.
    struct Paths
    {
        QString usbDevices = QStringLiteral("/sys/bus/usb/devices");
        QString sdCard = QStringLiteral("/dev/mmcblk1p1");
        // The simulator's virtual serial port, offered when it exists.
        QString virtualSerialPort = QStringLiteral("/tmp/vcom");
        // Reports are written to the working folder.
        QString reportDir = QStringLiteral(".");
    };

    // Source of the current local date-time; tests pin it to check the report's dates.
    using Clock = std::function<QDateTime()>;

    // The serial number is read from the identity whenever a report is made.
    Diagnostics(const DeviceIdentity &identity, manager::Board &board, manager::Network &network,
                manager::Validator &validator, QObject *parent = nullptr);
    Diagnostics(const DeviceIdentity &identity, manager::Board &board, manager::Network &network,
                manager::Validator &validator, const Paths &paths, Clock clock = Clock(),
                QObject *parent = nullptr);

    // The board's USB devices, in the order they are checked.
    static const QList<UsbDevice> m_usbDevices;

    QString rtc() const;
    QString ethernet() const;
    QString usbHub() const { return m_usbHub; }
    QString mPCIe1() const { return m_mPCIe1; }
    QString rfidUsb() const { return m_rfidUsb; }
    QString ftdi() const { return m_ftdi; }
    QString usbHost() const { return m_usbHost; }
    QString barcodeUsb() const { return m_barcodeUsb; }
    QString touch() const { return m_touch; }
    QString sdCard() const { return m_sdCard; }
    QString buzzer() const { return m_buzzer; }
    QString leds() const { return m_leds; }
    QString speaker() const { return m_speaker; }
    QString barcodeScan() const { return m_barcodeScan; }
    QString cardScan() const { return m_cardScan; }
    QString lightSensor() const { return m_lightSensor; }
    QString rgbTest() const { return m_rgbTest; }
    QString ignition() const;
    QString temperature() const;
    QString voltage() const;
    QString sam() const;
    QString rfidService() const;
    QString barcodeService() const;
    QString boardService() const;
    QString poleId() const;
    QString serialPortTest() const { return m_serialPortTest; }
    QStringList serialPorts() const { return m_serialPorts; }
    QString serialPort() const { return m_serialPort; }
    int serialFlowCtrl() const { return m_serialFlowCtrl; }
    // True while the periodic check runs (between start() with an interval and stop()).
    bool isRunning() const { return m_checkTimer.isActive(); }

    void setBuzzer(const QString &value);
    void setLeds(const QString &value);
    void setSpeaker(const QString &value);
    void setBarcodeScan(const QString &value);
    void setCardScan(const QString &value);
    void setLightSensor(const QString &value);
    void setRgbTest(const QString &value);
    void setSerialPort(const QString &value);
    void setSerialFlowCtrl(int value);

public slots:
    void start(int intervalSec);
    void start();
    void stop();
    void check();
    void saveReport();
    QString generateQr();
    QString serialPortDescr(const QString &portName);

signals:
    void rtcChanged();
    void ethernetChanged();
    void usbHubChanged();
    void mPCIe1Changed();
    void rfidUsbChanged();
    void ftdiChanged();
    void usbHostChanged();
    void barcodeUsbChanged();
    void touchChanged();
    void sdCardChanged();
    void buzzerChanged();
    void ledsChanged();
    void speakerChanged();
    void barcodeScanChanged();
    void cardScanChanged();
    void lightSensorChanged();
    void rgbTestChanged();
    void ignitionChanged();
    void temperatureChanged();
    void voltageChanged();
    void samChanged();
    void rfidServiceChanged();
    void barcodeServiceChanged();
    void boardServiceChanged();
    void poleIdChanged();
    void serialPortTestChanged();
    void serialPortsChanged();
    void serialPortChanged();
    void serialFlowCtrlChanged();
    void saveReportFinished(bool result, const QString &message);

protected:
    // Names of the serial ports the system reports, in its order. Tests stand in for the
    // hardware here.
    virtual QStringList systemSerialPorts() const;

private:
    using Signal = void (Diagnostics::*)();

    void store(QString &field, const QString &value, Signal changed);
    QString testUsbDevice(const UsbDevice &device) const;
    QString testSdCard() const;
    QString testSerialPort() const;
    void refreshSerialPorts();
    QString samUid() const;
    QString boardFirmware() const;
    QDateTime now() const;

    const DeviceIdentity &m_identity;
    manager::Board &m_board;
    manager::Network &m_network;
    manager::Validator &m_validator;
    const Paths m_paths;
    const Clock m_clock;

    QString m_usbHub;
    QString m_mPCIe1;
    QString m_rfidUsb;
    QString m_barcodeUsb;
    QString m_ftdi;
    QString m_usbHost;
    QString m_touch;
    QString m_sdCard;
    QString m_serialPortTest;
    QString m_buzzer;
    QString m_leds;
    QString m_speaker;
    QString m_barcodeScan;
    QString m_cardScan;
    QString m_lightSensor;
    QString m_rgbTest;
    QString m_serialPort = QStringLiteral("NONE");
    QStringList m_serialPorts;
    int m_serialFlowCtrl = 1;
    QTimer m_checkTimer;
};
