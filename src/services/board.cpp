#include "board.h"

#include "mqtt/monitor.h"

#include "mqtt/jsonmessage.h"
#include "mqtt/mqttclient.h"

#include <QCoreApplication>
#include <QDebug>

#include <algorithm>
#include <QJsonArray>
#include <QJsonDocument>

// Board service topics below the base topic ("orvo/board" by default).
// Subscribed: "/info", "/status", "/config", "/display", "/power", "/audio", "/event".
// Published: the "/.../get" refreshes, "/power/set", "/config/set", "/display/set",
// "/audio/set", "/led/play/request/1", "/led/off/request/1" and "/buzzer/play/request/1".
// Every state shown here comes from the service's reports, never from our own requests.

namespace manager {

namespace {
const char Tag[] = "[Board] ";

const char InfoSuffix[] = "/info";
const char StatusSuffix[] = "/status";
const char ConfigSuffix[] = "/config";
const char DisplaySuffix[] = "/display";
const char PowerSuffix[] = "/power";
const char AudioSuffix[] = "/audio";
const char EventSuffix[] = "/event";
const char LedPlaySuffix[] = "/led/play/request/1";

// The refresh requests carry an empty object written without blanks.
const QByteArray RefreshPayload("{}");

// Peripheral keys as the board names them on the wire, with the names shown to technicians.
const struct
{
    const char *key;
    const char *name;
} PeripheralNames[] = {
    {"display", QT_TRANSLATE_NOOP("manager::Board", "Display")},
    {"ftdi", QT_TRANSLATE_NOOP("manager::Board", "FTDI")},
    {"mPCIe1", QT_TRANSLATE_NOOP("manager::Board", "mPCIe #1")},
    {"mPCIe2", QT_TRANSLATE_NOOP("manager::Board", "mPCIe #2")},
    {"qrReader", QT_TRANSLATE_NOOP("manager::Board", "QR Reader")},
    {"rfidReader", QT_TRANSLATE_NOOP("manager::Board", "RFID Reader")},
    {"touch", QT_TRANSLATE_NOOP("manager::Board", "Touch")},
    {"usbHost1", QT_TRANSLATE_NOOP("manager::Board", "USB Host")},
    {"usbHub", QT_TRANSLATE_NOOP("manager::Board", "USB Hub")},
};

// A board has about ten switchable peripherals; a service (or anyone on the broker) reporting
// endless new names must not grow the record and the technicians' list without end.
constexpr int MostPeripherals = 64;

bool isKnownPeripheral(const QString &key)
{
    for (const auto &entry : PeripheralNames) {
        if (key == QLatin1String(entry.key))
            return true;
    }
    return false;
}

const char *boolText(bool value)
{
    return value ? "true" : "false";
}

QJsonObject ledStep(int r, int g, int b, int duration)
{
    return QJsonObject{{QStringLiteral("color"), QJsonObject{{QStringLiteral("r"), r},
                                                             {QStringLiteral("g"), g},
                                                             {QStringLiteral("b"), b}}},
                       {QStringLiteral("duration"), duration}};
}

QJsonObject ledPattern(int repeat, const QJsonArray &steps)
{
    return QJsonObject{{QStringLiteral("repeat"), repeat}, {QStringLiteral("steps"), steps}};
}

// Any JSON value in its compact JSON text, for log lines.
QString jsonText(const QJsonValue &value)
{
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(wrapped.mid(1, wrapped.size() - 2));
}
} // namespace

const TopicRoute<Board, Board::Handler> Board::Routes[] = {
    {InfoSuffix, &Board::onInfoReceived},       {StatusSuffix, &Board::onStatusReceived},
    {ConfigSuffix, &Board::onConfigReceived},   {DisplaySuffix, &Board::onDisplayReceived},
    {PowerSuffix, &Board::onPowerReceived},     {AudioSuffix, &Board::onAudioReceived},
    {EventSuffix, &Board::onEventReceived},
};

Board::Board(MqttClient &client, const QString &baseTopic, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_baseTopic(baseTopic)
{
    connect(&m_client, &MqttClient::connected, this, &Board::refresh);
    connect(&m_monitorTimer, &QTimer::timeout, this, &Board::refresh);
    subscribe();
}

QString Board::poleId() const
{
    return m_statusRecord.value(QStringLiteral("poleId")).toString();
}

double Board::temperature() const
{
    return m_statusRecord.value(QStringLiteral("temperature")).toDouble();
}

double Board::voltage() const
{
    return m_statusRecord.value(QStringLiteral("voltage")).toDouble();
}

int Board::uptime() const
{
    return m_statusRecord.value(QStringLiteral("uptime")).toInt();
}

bool Board::rtcFailed() const
{
    return m_statusRecord.value(QStringLiteral("rtcFailed")).toBool();
}

int Board::displayBrightness() const
{
    return m_displayRecord.value(QStringLiteral("brightness")).toInt();
}

QString Board::displayBrightnessMode() const
{
    return m_displayRecord.value(QStringLiteral("mode")).toString();
}

int Board::ambientLightSensor() const
{
    return m_displayRecord.value(QStringLiteral("sensor")).toInt();
}

bool Board::audioEnabled() const
{
    // The board reports a mute switch; audio counts as enabled until it says otherwise.
    return !m_audioRecord.value(QStringLiteral("mute"), false).toBool();
}

QVariantList Board::peripherals() const
{
    if (m_peripheralNames.isEmpty()) {
        for (const auto &entry : PeripheralNames)
            m_peripheralNames.insert(QLatin1String(entry.key),
                                     QCoreApplication::translate("manager::Board", entry.name));
    }
    QVariantList list;
    for (auto it = m_powerRecord.constBegin(); it != m_powerRecord.constEnd(); ++it) {
        list.append(QVariantMap{{QStringLiteral("item"), it.key()},
                                {QStringLiteral("descr"), m_peripheralNames.value(it.key())},
                                {QStringLiteral("value"), it.value().toBool()}});
    }
    return list;
}

bool Board::peripheralPower(const QString &peripheral) const
{
    return m_powerRecord.value(peripheral).toBool();
}

void Board::subscribe()
{
    qInfo().noquote().nospace() << Tag << "Subscribing to topics";
    routes::subscribe(m_client, this, m_baseTopic, Routes,
                      {Tag, EmptyPayload::AsEmptyObject, ParseFailureDetail::ParserError});
}

void Board::publish(const QString &suffix, const QByteArray &payload)
{
    m_client.publish(payload, m_baseTopic + suffix, 0, false);
}

void Board::refresh()
{
    qDebug().noquote().nospace() << Tag << "Refreshing data";
    publish(QStringLiteral("/status/get"), RefreshPayload);
    publish(QStringLiteral("/display/get"), RefreshPayload);
    publish(QStringLiteral("/power/get"), RefreshPayload);
    publish(QStringLiteral("/audio/get"), RefreshPayload);
}

void Board::monitor(int msec)
{
    if (setMonitorInterval(m_monitorTimer, msec, Tag))
        refresh();
}

void Board::setPeripheralPower(const QString &peripheral, bool value)
{
    qInfo().noquote().nospace() << Tag << "Setting peripheral power: " << peripheral << " (" << boolText(value)
                                << ")";
    publish(QStringLiteral("/power/set"), requestBody(QJsonObject{{peripheral, value}}));
}

void Board::setDelayShutdownFor(int sec)
{
    if (sec == m_delayShutdownFor)
        return;
    qInfo().noquote().nospace() << Tag << "Setting board shutdown delay : " << sec << " sec(s)";
    const QJsonObject device{{QStringLiteral("delayShutdownFor"), sec}};
    publish(QStringLiteral("/config/set"), requestBody(QJsonObject{{QStringLiteral("device"), device}}));
}

void Board::playLeds(const QJsonObject &pattern)
{
    publish(QLatin1String(LedPlaySuffix), requestBody(pattern));
}

void Board::setLedValid()
{
    qInfo().noquote().nospace() << Tag << "Setting LEDs to : VALID";
    playLeds(ledPattern(3, {ledStep(0, 255, 0, 100), ledStep(0, 0, 0, 50)}));
}

void Board::setLedInvalid()
{
    qInfo().noquote().nospace() << Tag << "Setting LEDs to : INVALID";
    playLeds(ledPattern(3, {ledStep(255, 0, 0, 100), ledStep(0, 0, 0, 50)}));
}

void Board::setLedTestPattern()
{
    qInfo().noquote().nospace() << Tag << "Setting LEDs to : TEST";
    playLeds(ledPattern(30, {ledStep(255, 0, 0, 1000), ledStep(0, 0, 0, 200), ledStep(0, 255, 0, 1000),
                             ledStep(0, 0, 0, 200)}));
}

void Board::setLedOff()
{
    publish(QStringLiteral("/led/off/request/1"), QByteArray());
}

void Board::setDisplayBrightness(int value)
{
    qInfo().noquote().nospace() << Tag << "Setting display brightness : " << value;
    publish(QStringLiteral("/display/set"), requestBody(QJsonObject{{QStringLiteral("brightness"), value}}));
}

void Board::setDisplayBrightnessMode(const QString &value)
{
    qInfo().noquote().nospace() << Tag << "Setting display brightness mode : " << value;
    publish(QStringLiteral("/display/set"), requestBody(QJsonObject{{QStringLiteral("mode"), value}}));
}

void Board::setAudioEnabled(bool value)
{
    qInfo().noquote().nospace() << Tag << "Setting audio enabled : " << boolText(value);
    publish(QStringLiteral("/audio/set"), requestBody(QJsonObject{{QStringLiteral("mute"), !value}}));
}

void Board::playBuzzer(int onMsec, int offMsec, int repeat)
{
    qInfo().noquote().nospace() << Tag
                                << QStringLiteral("Playing buzzer : on=%1 msec, off=%2 msec, repeat=%3")
                                       .arg(onMsec)
                                       .arg(offMsec)
                                       .arg(repeat);
    publish(QStringLiteral("/buzzer/play/request/1"),
            requestBody(QJsonObject{{QStringLiteral("onMsec"), onMsec},
                                    {QStringLiteral("offMsec"), offMsec},
                                    {QStringLiteral("repeat"), repeat}}));
}

void Board::setPeripherals(const QVariantList &list)
{
    // The list is the board's to change; a write from the scene is only recorded.
    qWarning().noquote().nospace() << Tag << "--- SET PERIPHERALS : " << list;
}

void Board::setStatus(const QString &status)
{
    if (status == m_status)
        return;
    qInfo().noquote().nospace() << Tag << "Status changed : " << status;
    m_status = status;
    emit statusChanged();
}

void Board::onInfoReceived(const QJsonObject &message, const QString &topic)
{
    qInfo().noquote().nospace() << Tag << "Processing info topic " << topic;
    const QJsonObject device = message.value(QStringLiteral("device")).toObject();
    const QJsonObject service = message.value(QStringLiteral("service")).toObject();
    m_info.insert(QStringLiteral("firmware"), device.value(QStringLiteral("firmwareVersion")).toString());
    m_info.insert(QStringLiteral("hardwareId"), device.value(QStringLiteral("hardwareId")).toString());
    m_info.insert(QStringLiteral("hardware"), device.value(QStringLiteral("hardwareVersion")).toString());
    m_info.insert(QStringLiteral("version"), service.value(QStringLiteral("version")).toString());
    emit infoChanged();
}

void Board::onStatusReceived(const QJsonObject &message, const QString &topic)
{
    qDebug().noquote().nospace() << Tag << "Processing status topic " << topic;
    // Offline or inactive: the last values stay readable as they were.
    if (!message.value(QStringLiteral("service")).toBool()) {
        setStatus(QStringLiteral("offline"));
        return;
    }
    const QJsonObject device = message.value(QStringLiteral("device")).toObject();
    if (!device.value(QStringLiteral("active")).toBool()) {
        setStatus(QStringLiteral("error"));
        return;
    }
    setStatus(QStringLiteral("online"));

    // An ignition-off drives the technician's logout and the scheduled power-off, so only a
    // reported value may turn it off; a report that leaves the input out keeps the last state.
    const QJsonValue ignitionValue = device.value(QStringLiteral("ignition"));
    if (!ignitionValue.isUndefined()) {
        const bool ignition = ignitionValue.toBool();
        if (ignition != m_ignition) {
            qDebug().noquote().nospace() << Tag << "Ignition changed : " << boolText(ignition);
            m_ignition = ignition;
            emit ignitionChanged();
        }
    }

    const QString poleId = device.value(QStringLiteral("poleId")).toString();
    if (poleId != this->poleId()) {
        qDebug().noquote().nospace() << Tag << "Pole Id changed : " << poleId;
        m_statusRecord.insert(QStringLiteral("poleId"), poleId);
        emit poleIdChanged();
    }
    const double temperature = device.value(QStringLiteral("temperature")).toDouble();
    if (temperature != this->temperature()) {
        qDebug().noquote().nospace() << Tag << "Temperature changed : " << temperature;
        m_statusRecord.insert(QStringLiteral("temperature"), temperature);
        emit temperatureChanged();
    }
    const double voltage = device.value(QStringLiteral("voltage")).toDouble();
    if (voltage != this->voltage()) {
        qDebug().noquote().nospace() << Tag << "Voltage changed : " << voltage;
        m_statusRecord.insert(QStringLiteral("voltage"), voltage);
        emit voltageChanged();
    }
    const int uptime = device.value(QStringLiteral("uptime")).toInt();
    if (uptime != this->uptime()) {
        qDebug().noquote().nospace() << Tag << "Uptime changed : " << uptime;
        m_statusRecord.insert(QStringLiteral("uptime"), uptime);
        emit uptimeChanged();
    }
    const bool rtcFailed =
        device.value(QStringLiteral("hardwareStatus")).toObject().value(QStringLiteral("rtcFailed")).toBool();
    if (rtcFailed != this->rtcFailed()) {
        qDebug().noquote().nospace() << Tag << "RTC Status changed : " << (rtcFailed ? "FAIL" : "OK");
        m_statusRecord.insert(QStringLiteral("rtcFailed"), rtcFailed);
        emit rtcFailedChanged();
    }
}

void Board::onConfigReceived(const QJsonObject &message, const QString &topic)
{
    qInfo().noquote().nospace() << Tag << "Processing config topic " << topic;
    const int delay =
        message.value(QStringLiteral("device")).toObject().value(QStringLiteral("delayShutdownFor")).toInt();
    if (delay == m_delayShutdownFor)
        return;
    qInfo().noquote().nospace() << Tag << "Board shutdown delay changed : " << delay << " sec(s)";
    m_delayShutdownFor = delay;
    emit delayShutdownForChanged();
}

void Board::onDisplayReceived(const QJsonObject &message, const QString &)
{
    // A key left out of the report counts as reset to its neutral value.
    const int brightness = message.value(QStringLiteral("brightness")).toInt();
    if (brightness != displayBrightness()) {
        qDebug().noquote().nospace() << Tag << "Display brightness changed : " << brightness;
        m_displayRecord.insert(QStringLiteral("brightness"), brightness);
        emit displayBrightnessChanged();
    }
    const int sensor = message.value(QStringLiteral("sensor")).toInt();
    if (sensor != ambientLightSensor()) {
        qDebug().noquote().nospace() << Tag << "Display sensor changed : " << sensor;
        m_displayRecord.insert(QStringLiteral("sensor"), sensor);
        emit ambientLightSensorChanged();
    }
    const QString mode = message.value(QStringLiteral("mode")).toString();
    if (mode != displayBrightnessMode()) {
        qDebug().noquote().nospace() << Tag << "Display brightness mode changed : " << mode;
        m_displayRecord.insert(QStringLiteral("mode"), mode);
        emit displayBrightnessModeChanged();
    }
}

void Board::onPowerReceived(const QJsonObject &message, const QString &)
{
    bool changed = false;
    QStringList dropped;
    for (auto it = message.constBegin(); it != message.constEnd(); ++it) {
        const QJsonValue value = it.value();
        // A peripheral the board could not read is reported as null and keeps its last state.
        if (value.isNull() || value == m_powerRecord.value(it.key()))
            continue;
        if (!m_powerRecord.contains(it.key())) {
            // Room for a new name: the oldest one the board's table does not know makes way.
            while (m_powerRecord.size() >= MostPeripherals) {
                const auto oldest = std::find_if(m_powerOrder.begin(), m_powerOrder.end(),
                                                 [](const QString &key) { return !isKnownPeripheral(key); });
                if (oldest == m_powerOrder.end())
                    break;
                dropped << *oldest;
                m_powerRecord.remove(*oldest);
                m_powerOrder.erase(oldest);
            }
            m_powerOrder << it.key();
        }
        qInfo().noquote().nospace() << Tag << "Peripheral power changed '" << it.key()
                                    << "' : " << boolText(value.toBool());
        m_powerRecord.insert(it.key(), value);
        changed = true;
        emit peripheralPowerChanged(it.key(), value.toBool());
    }
    if (!dropped.isEmpty())
        qWarning().noquote().nospace() << Tag << "WARN: More than " << MostPeripherals
                                       << " peripherals reported, dropped the oldest : " << dropped.size();
    if (changed)
        emit peripheralsChanged();
}

void Board::onEventReceived(const QJsonObject &message, const QString &)
{
    const QString name = message.value(QStringLiteral("name")).toString();
    const QJsonValue data = message.value(QStringLiteral("data"));
    qInfo().noquote().nospace() << Tag << "Event received : " << name << " [" << jsonText(data) << "]";
    if (name != QLatin1String("IgnitionChanged"))
        return;
    // The board sends the input level in several forms; only a plain 0 means off. It reports
    // one edge twice, in its status and as this event: only a real change is passed on, so that
    // one edge is one logout, one event-log entry and one shutdown schedule.
    const bool ignition = data.toVariant().toString() != QLatin1String("0");
    if (ignition == m_ignition)
        return;
    qDebug().noquote().nospace() << Tag << "Ignition changed : " << boolText(ignition);
    m_ignition = ignition;
    emit ignitionChanged();
}

void Board::onAudioReceived(const QJsonObject &message, const QString &)
{
    const bool mute = message.value(QStringLiteral("mute")).toBool();
    if (mute == m_audioRecord.value(QStringLiteral("mute"), false).toBool())
        return;
    m_audioRecord.insert(QStringLiteral("mute"), mute);
    emit audioEnabledChanged();
}

} // namespace manager
