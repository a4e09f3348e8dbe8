#include "services.h"

#include "mqtt/jsonmessage.h"
#include "mqtt/mqttclient.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>
#include <QTime>
#include <QTimer>
#include <QVector>

#include <cmath>
#include <optional>

// The sibling services as the application meets them on the broker. Each keeps its state on
// its state topics, retained as the real services keep them, so that a client connecting
// later sees the device as it is; events and results (cards, validations, progress) are not
// retained. Requests are answered by publishing the changed state again, as the real
// services do: the application changes its view only from these echoes.

namespace simulator {

namespace {
// Fixed topics of the card reader, independent of the validation service's base topic.
const char RfidEnableTopic[] = "orvo/rfid/enable";
const char RfidDisableTopic[] = "orvo/rfid/disable";
const char BarcodeEnableTopic[] = "orvo/barcode/enable";
const char BarcodeDisableTopic[] = "orvo/barcode/disable";
const char CardFoundTopic[] = "orvo/rfid/card/found";
const char CardRemovedTopic[] = "orvo/rfid/card/removed";

// Reader states as the validation service numbers them.
constexpr int ReaderIdle = 1;
constexpr int ReaderSearching = 2;
constexpr int ReaderUpdating = 4;
constexpr int ReaderError = 5;

const char VehicleUuid[] = "5f0c2a9e-7b1d-4c3e-9a64-0d8e41270142";
const char RouteName[] = "040 Πειραιάς - Σύνταγμα";

// The board's delayed power-off and the passback window are bounded to a day.
constexpr qint64 MaxSeconds = 24 * 60 * 60;
// How long the device service takes for one NTP synchronisation and one update step.
constexpr int NtpSyncMs = 1500;
constexpr int UpdateStepMs = 700;

const char *onOff(bool value)
{
    return value ? "on" : "off";
}

// A JSON number holding a whole value within [min, max]; text, null, fractions and numbers
// out of range are refused.
std::optional<qint64> wholeNumber(const QJsonValue &value, qint64 min, qint64 max)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || number != std::floor(number) || number < double(min) || number > double(max))
        return std::nullopt;
    return qint64(number);
}

// As above, but also taking the number written as text, as the validation service stores it.
std::optional<qint64> wholeNumberOrText(const QJsonValue &value, qint64 min, qint64 max)
{
    if (value.isString()) {
        bool ok = false;
        const qint64 number = value.toString().trimmed().toLongLong(&ok);
        if (ok && number >= min && number <= max)
            return number;
        return std::nullopt;
    }
    return wholeNumber(value, min, max);
}

// A dotted IPv4 address, four decimal parts of 0 to 255.
std::optional<quint32> ipv4Address(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    quint32 address = 0;
    for (const QString &part : parts) {
        bool ok = false;
        const uint value = part.toUInt(&ok);
        if (!ok || part.isEmpty() || part.size() > 3 || value > 255)
            return std::nullopt;
        address = (address << 8) | value;
    }
    return address;
}

bool isNetmask(const QString &text)
{
    const auto mask = ipv4Address(text);
    if (!mask || *mask == 0)
        return false;
    const quint32 hostBits = ~*mask;
    return (hostBits & (hostBits + 1)) == 0; // the ones of a mask are contiguous
}

// A host name of an NTP server: letters, digits, dots and hyphens.
bool isHostName(const QString &text)
{
    if (text.isEmpty() || text.size() > 253)
        return false;
    for (const QChar c : text) {
        if (!(c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-')))
            return false;
    }
    return true;
}
} // namespace

// --- Bus -------------------------------------------------------------------------------------

Bus::Bus(manager::MqttClient &client, double speed)
    : m_client(client)
    , m_speed(speed)
{
}

void Bus::publish(const QString &topic, const QJsonObject &payload, bool retain)
{
    publish(topic, QJsonDocument(payload).toJson(QJsonDocument::Compact), retain);
}

void Bus::publish(const QString &topic, const QByteArray &payload, bool retain)
{
    if (retain) {
        if (payload.isEmpty())
            m_retained.remove(topic);
        else
            m_retained.insert(topic);
    }
    m_client.publish(payload, topic, 0, retain);
}

void Bus::say(const QString &line) const
{
    static QTextStream out(stdout);
    out.setCodec("UTF-8");
    out << QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")) << "  " << line << '\n';
    out.flush();
}

int Bus::scaled(int millis) const
{
    // A tiny speed factor makes a pause beyond an int: held at the longest a timer takes, since
    // converting a double out of range is undefined.
    constexpr double LongestPauseMs = 2000000000.0;
    const double pause = millis / m_speed;
    if (!(pause < LongestPauseMs))
        return int(LongestPauseMs);
    return qMax(0, int(std::lround(pause)));
}

void Bus::later(int millis, QObject *context, std::function<void()> action) const
{
    QTimer::singleShot(scaled(millis), context, std::move(action));
}

void Bus::clearRetained()
{
    const QSet<QString> topics = m_retained;
    for (const QString &topic : topics)
        publish(topic, QByteArray(), true);
}

// --- Service ---------------------------------------------------------------------------------

Service::Service(Bus &bus, const QString &base, const char *tag)
    : m_bus(bus)
    , m_base(base)
    , m_tag(tag)
{
}

bool Service::handle(const QString &topic, const QByteArray &payload)
{
    const auto route = m_handlers.constFind(topic);
    if (route == m_handlers.constEnd())
        return false;
    QJsonObject request;
    if (route->parsed && !manager::parseJsonMessage(payload, m_tag, &request)) {
        m_bus.say(QStringLiteral("ignored a request that is not JSON on ") + topic);
        return true;
    }
    route->handler(request);
    return true;
}

void Service::onRequest(const QString &suffix, Handler handler)
{
    onFixedRequest(topic(suffix), std::move(handler));
}

void Service::onGet(const QString &suffix, std::function<void()> handler)
{
    m_handlers.insert(topic(suffix), {[handler](const QJsonObject &) { handler(); }, false});
}

void Service::onFixedRequest(const QString &topic, Handler handler)
{
    m_handlers.insert(topic, {std::move(handler), true});
}

// --- Validation service ----------------------------------------------------------------------

ValidationService::ValidationService(Bus &bus, const QString &base)
    : Service(bus, base, "[Simulator][Validation] ")
{
    onGet("/info/get", [this] { publishInfo(); });
    onGet("/status/get", [this] { publishStatus(); });
    onGet("/config/get", [this] { publishConfig(); });
    onRequest("/config/set", [this](const QJsonObject &request) { onConfigSet(request); });
    onFixedRequest(RfidEnableTopic, [this](const QJsonObject &) {
        // A reader in fault or in a firmware update cannot start searching.
        if (m_state.hasRfid) {
            setReader(ReaderSearching, QString());
            m_bus.say(QStringLiteral("RFID reader switched on (searching)"));
        } else {
            m_bus.say(QStringLiteral("RFID reader switch-on refused: the reader is not operational"));
        }
        publishStatus();
    });
    onFixedRequest(RfidDisableTopic, [this](const QJsonObject &) {
        if (m_state.hasRfid)
            setReader(ReaderIdle, QString());
        m_bus.say(QStringLiteral("RFID reader switched off"));
        publishStatus();
    });
    onFixedRequest(BarcodeEnableTopic, [this](const QJsonObject &) {
        m_barcodeEnabled = true;
        m_bus.say(QStringLiteral("barcode reader switched on"));
        publishStatus();
    });
    onFixedRequest(BarcodeDisableTopic, [this](const QJsonObject &) {
        m_barcodeEnabled = false;
        m_bus.say(QStringLiteral("barcode reader switched off"));
        publishStatus();
    });
}

void ValidationService::publishState()
{
    publishInfo();
    publishStatus();
    publishConfig();
}

void ValidationService::publishInfo()
{
    const QJsonObject device{
            {"barcode", QJsonObject{{"firmware", "1.4.0"}, {"manufacturer", "Orvo"}, {"model", "ORV-QR50"}}},
            {"rfid", QJsonObject{{"firmware", "2.7.3"},
                                 {"manufacturer", "Orvo"},
                                 {"model", "ORV-CR200"},
                                 {"uid", "CR200-0142-3391"}}}};
    m_bus.publish(topic("/info"), QJsonObject{{"device", device}, {"service", QJsonObject{{"version", "3.8.2"}}}}, true);
}

void ValidationService::publishStatus()
{
    // A service that is down is reported by its supervisor with this one member only.
    if (!m_state.service) {
        m_bus.publish(topic("/status"), QJsonObject{{"service", false}}, true);
        return;
    }
    const QJsonObject sam{{"slot", 0},
                          {"enabled", true},
                          {"unlocked", m_state.hasRfid},
                          {"atr", "3B DF 18 FF 81 F1 FE 43 00 3F 03 83 4D 49 46 41 52 45 20 53 41 4D 20 41 56 33 2E 30"},
                          {"batch", "2305-17"},
                          {"mode", "AV3"},
                          {"name", "Fare SAM"},
                          {"production", "2023-05-17"},
                          {"uid", "04A8C1E2B35F90"},
                          {"vendor", "Orvo"},
                          {"version", "3.0"}};
    const QJsonObject rfid{{"active", m_state.hasRfid || m_rfidState == ReaderUpdating},
                           {"state", m_rfidState},
                           {"error", m_rfidError},
                           {"slots", QJsonArray{true, false, false, false}},
                           {"sams", QJsonArray{sam}}};
    const QJsonObject barcode{{"active", m_state.hasQr}, {"enabled", m_state.hasQr && m_barcodeEnabled}};
    const QJsonObject state{{"init", m_state.init},       {"hasRfid", m_state.hasRfid},
                            {"hasNtp", m_state.hasNtp},   {"hasRoute", m_state.hasRoute},
                            {"hasQr", m_state.hasQr},     {"hasObu", m_state.hasObu}};
    const QJsonObject status{{"service", true},
                             {"device", QJsonObject{{"rfid", rfid}, {"barcode", barcode}}},
                             {"obu", QJsonObject{{"vehicleUuid", VehicleUuid}}},
                             {"route", QJsonObject{{"axisName", m_state.hasRoute ? RouteName : ""}}},
                             {"state", state}};
    m_bus.publish(topic("/status"), status, true);
}

void ValidationService::publishConfig()
{
    // The service keeps every value as text.
    const QJsonObject blm{{"obu_host", m_obuHost},
                          {"obu_username", m_obuUsername},
                          {"obu_password", m_obuPassword},
                          {"obu_port", m_obuPort}};
    const QJsonObject validator{{"passbackTime", m_passbackTime}, {"qr_passback", m_qrPassback}};
    m_bus.publish(topic("/config"), QJsonObject{{"blm", blm}, {"validator", validator}}, true);
}

void ValidationService::onConfigSet(const QJsonObject &request)
{
    // Members of the wrong type keep the stored value; the rest is taken.
    QStringList refused;
    const QJsonObject blm = request.value("blm").toObject();
    const auto takeText = [&](const char *key, QString &target) {
        const QJsonValue value = blm.value(key);
        if (value.isString())
            target = value.toString();
        else if (!value.isUndefined())
            refused << key;
    };
    takeText("obu_host", m_obuHost);
    takeText("obu_username", m_obuUsername);
    takeText("obu_password", m_obuPassword);
    if (blm.contains("obu_port")) {
        // -1 is what the application sends for a URL without a port.
        if (const auto port = wholeNumberOrText(blm.value("obu_port"), -1, 65535))
            m_obuPort = *port < 0 ? QString() : QString::number(*port);
        else
            refused << "obu_port";
    }
    const QJsonObject validator = request.value("validator").toObject();
    if (validator.contains("passbackTime")) {
        if (const auto seconds = wholeNumberOrText(validator.value("passbackTime"), 0, MaxSeconds))
            m_passbackTime = QString::number(*seconds);
        else
            refused << "passbackTime";
    }
    if (validator.contains("qr_passback")) {
        const QJsonValue value = validator.value("qr_passback");
        if (value.isBool())
            m_qrPassback = value.toBool() ? "true" : "false";
        else if (value == QJsonValue("true") || value == QJsonValue("false"))
            m_qrPassback = value.toString();
        else
            refused << "qr_passback";
    }
    // The password stays out of the line.
    QString line = QStringLiteral("validator configuration saved: OBU %1@%2:%3, passback %4 s, QR passback %5")
                           .arg(m_obuUsername, m_obuHost, m_obuPort, m_passbackTime,
                                m_qrPassback == "true" ? "on" : "off");
    if (!refused.isEmpty())
        line += QStringLiteral(" (ignored: %1)").arg(refused.join(", "));
    m_bus.say(line);
    publishConfig();
}

void ValidationService::setReader(int state, const QString &error)
{
    m_rfidState = state;
    m_rfidError = error;
}

void ValidationService::setState(const State &state, const QString &description)
{
    m_state = state;
    // A reader back from a fault or an update waits, idle, for the application to switch it on.
    if (m_state.hasRfid && (m_rfidState == ReaderUpdating || m_rfidState == ReaderError))
        setReader(ReaderIdle, QString());
    m_bus.say(QStringLiteral("validator status ") + description);
    publishStatus();
}

void ValidationService::setOnline()
{
    setState(State(), QStringLiteral("online"));
}

void ValidationService::setDegraded(bool obuLost, bool barcodeLost)
{
    State state;
    state.hasObu = !obuLost;
    state.hasQr = !barcodeLost;
    QStringList what;
    if (obuLost)
        what << QStringLiteral("on-board computer lost");
    if (barcodeLost)
        what << QStringLiteral("barcode reader not operational");
    setState(state, QStringLiteral("degraded (%1)").arg(what.isEmpty() ? QStringLiteral("nothing missing") : what.join(", ")));
}

bool ValidationService::setOffline(int code)
{
    State state;
    QString what;
    switch (code) {
    case 2:
        state.service = false;
        what = QStringLiteral("service down");
        break;
    case 3:
        state.hasRfid = false;
        setReader(ReaderUpdating, QString());
        what = QStringLiteral("RFID firmware updating");
        break;
    case 4:
        state.hasRfid = false;
        setReader(ReaderError, QStringLiteral("No answer from the reader module"));
        what = QStringLiteral("RFID reader not operational");
        break;
    case 7:
        state.hasNtp = false;
        what = QStringLiteral("clock not synchronised");
        break;
    default:
        return false;
    }
    setState(state, QStringLiteral("offline #%1 (%2)").arg(code, 4, 10, QLatin1Char('0')).arg(what));
    return true;
}

void ValidationService::setOutOfService()
{
    State state;
    state.hasRoute = false;
    setState(state, QStringLiteral("out of service (no route)"));
}

void ValidationService::setInitialising()
{
    State state;
    state.init = true;
    setState(state, QStringLiteral("initialising"));
}

void ValidationService::presentCard(const Card &card)
{
    m_bus.publish(CardFoundTopic, QJsonObject{{"uid", card.uid}, {"type", card.type}});
}

void ValidationService::removeCard(const Card &card)
{
    m_bus.publish(CardRemovedTopic, QJsonObject{{"uid", card.uid}});
}

void ValidationService::report(const ValidationResult &result)
{
    const QString suffix = result.medium == Medium::Barcode ? "/barcode/scanned" : "/rfid/scanned";
    m_bus.publish(topic(suffix), QJsonObject{{"transaction", result.transaction}});
}

void ValidationService::askRetry()
{
    m_bus.publish(topic("/rfid/retry"), QJsonObject());
}

void ValidationService::scanMaintenanceBarcode(const QJsonObject &content)
{
    m_bus.publish(topic("/barcode/maintenance/scanned"), content);
}

// --- Board service ---------------------------------------------------------------------------

BoardService::BoardService(Bus &bus, const QString &base)
    : Service(bus, base, "[Simulator][Board] ")
    , m_startedMs(QDateTime::currentMSecsSinceEpoch())
    // The second mini-PCIe slot is empty on this board.
    , m_power{{"display", true}, {"ftdi", true},      {"mPCIe1", true},   {"mPCIe2", false}, {"qrReader", true},
              {"rfidReader", true}, {"touch", true}, {"usbHost1", true}, {"usbHub", true}}
{
    onGet("/info/get", [this] { publishInfo(); });
    onGet("/status/get", [this] { publishStatus(); });
    onGet("/config/get", [this] { publishConfig(); });
    onGet("/display/get", [this] { publishDisplay(); });
    onGet("/power/get", [this] { publishPower(); });
    onGet("/audio/get", [this] { publishAudio(); });
    onRequest("/power/set", [this](const QJsonObject &request) { onPowerSet(request); });
    onRequest("/display/set", [this](const QJsonObject &request) { onDisplaySet(request); });
    onRequest("/audio/set", [this](const QJsonObject &request) { onAudioSet(request); });
    onRequest("/config/set", [this](const QJsonObject &request) { onConfigSet(request); });
    onRequest("/led/play/request/1", [this](const QJsonObject &request) {
        const QJsonArray steps = request.value("steps").toArray();
        m_bus.say(QStringLiteral("LEDs: pattern of %1 step(s), repeated %2 time(s)")
                          .arg(steps.size())
                          .arg(wholeNumber(request.value("repeat"), 0, 1000000).value_or(0)));
    });
    onGet("/led/off/request/1", [this] { m_bus.say(QStringLiteral("LEDs: off")); });
    onRequest("/buzzer/play/request/1", [this](const QJsonObject &request) {
        const auto number = [&](const char *key) { return wholeNumber(request.value(key), 0, 600000).value_or(0); };
        m_bus.say(QStringLiteral("buzzer: on %1 ms, off %2 ms, repeat %3")
                          .arg(number("onMsec"))
                          .arg(number("offMsec"))
                          .arg(number("repeat")));
    });
}

void BoardService::publishState()
{
    publishInfo();
    publishStatus();
    publishConfig();
    publishDisplay();
    publishPower();
    publishAudio();
}

void BoardService::publishInfo()
{
    const QJsonObject device{{"firmwareVersion", "1.9.2"}, {"hardwareId", "BRD-0142-7731"}, {"hardwareVersion", "rev C"}};
    m_bus.publish(topic("/info"), QJsonObject{{"device", device}, {"service", QJsonObject{{"version", "1.3.0"}}}}, true);
}

void BoardService::publishStatus()
{
    const qint64 uptime = (QDateTime::currentMSecsSinceEpoch() - m_startedMs) / 1000 + 86400;
    // The cabinet warms slowly over the day; the supply reads higher while the engine charges.
    const double temperature = 38.5 + 0.5 * double((uptime / 20) % 6);
    const QJsonObject device{{"active", true},
                             {"ignition", m_ignition},
                             {"poleId", "0142"},
                             {"temperature", temperature},
                             {"voltage", m_ignition ? 27.6 : 24.8},
                             {"uptime", uptime},
                             {"hardwareStatus", QJsonObject{{"rtcFailed", false}}}};
    m_bus.publish(topic("/status"), QJsonObject{{"service", true}, {"device", device}}, true);
}

void BoardService::publishConfig()
{
    m_bus.publish(topic("/config"), QJsonObject{{"device", QJsonObject{{"delayShutdownFor", m_delayShutdownFor}}}}, true);
}

void BoardService::publishDisplay()
{
    const qint64 seconds = (QDateTime::currentMSecsSinceEpoch() - m_startedMs) / 1000;
    const int sensor = 300 + int((seconds * 7) % 120); // daylight through the windows
    m_bus.publish(topic("/display"),
                  QJsonObject{{"brightness", m_brightness}, {"sensor", sensor}, {"mode", m_brightnessMode}}, true);
}

void BoardService::publishPower()
{
    m_bus.publish(topic("/power"), m_power, true);
}

void BoardService::publishAudio()
{
    m_bus.publish(topic("/audio"), QJsonObject{{"mute", m_mute}}, true);
}

void BoardService::onPowerSet(const QJsonObject &request)
{
    QStringList changes;
    for (auto it = request.begin(); it != request.end(); ++it) {
        // Only the board's own switches, and only on or off.
        if (!m_power.contains(it.key()) || !it.value().isBool()) {
            changes << it.key() + QStringLiteral(" ignored");
            continue;
        }
        m_power.insert(it.key(), it.value());
        changes << it.key() + QLatin1Char(' ') + onOff(it.value().toBool());
    }
    m_bus.say(QStringLiteral("peripheral power: ") + (changes.isEmpty() ? QStringLiteral("nothing asked") : changes.join(", ")));
    publishPower();
}

void BoardService::onDisplaySet(const QJsonObject &request)
{
    QStringList changes;
    if (request.contains("brightness")) {
        if (const auto brightness = wholeNumber(request.value("brightness"), 0, 100)) {
            m_brightness = int(*brightness);
            changes << QStringLiteral("brightness %1").arg(m_brightness);
        } else {
            changes << QStringLiteral("brightness ignored");
        }
    }
    if (request.contains("mode")) {
        const QString mode = request.value("mode").toString();
        if (mode == "auto" || mode == "manual") {
            m_brightnessMode = mode;
            changes << QStringLiteral("mode ") + mode;
        } else {
            changes << QStringLiteral("mode ignored");
        }
    }
    m_bus.say(QStringLiteral("display: ") + (changes.isEmpty() ? QStringLiteral("nothing asked") : changes.join(", ")));
    publishDisplay();
}

void BoardService::onAudioSet(const QJsonObject &request)
{
    const QJsonValue mute = request.value("mute");
    if (mute.isBool()) {
        m_mute = mute.toBool();
        m_bus.say(QStringLiteral("board audio ") + (m_mute ? "muted" : "unmuted"));
    } else {
        m_bus.say(QStringLiteral("board audio: request without a valid \"mute\" ignored"));
    }
    publishAudio();
}

void BoardService::onConfigSet(const QJsonObject &request)
{
    const QJsonValue delay = request.value("device").toObject().value("delayShutdownFor");
    if (const auto seconds = wholeNumber(delay, 0, MaxSeconds)) {
        m_delayShutdownFor = int(*seconds);
        m_bus.say(QStringLiteral("board shutdown delay set to %1 s").arg(m_delayShutdownFor));
    } else {
        m_bus.say(QStringLiteral("board configuration without a valid shutdown delay ignored"));
    }
    publishConfig();
}

void BoardService::setIgnition(bool on)
{
    m_ignition = on;
    m_bus.say(QStringLiteral("ignition ") + onOff(on));
    publishStatus();
    m_bus.publish(topic("/event"), QJsonObject{{"name", "IgnitionChanged"}, {"data", on ? 1 : 0}});
}

// --- Inspector service -----------------------------------------------------------------------

InspectorService::InspectorService(Bus &bus, const QString &base)
    : Service(bus, base, "[Simulator][Inspector] ")
{
    onGet("/info/get", [this] { m_bus.publish(topic("/info"), QJsonObject{{"service", QJsonObject{{"version", "1.6.0"}}}}, true); });
    onGet("/status/get", [this] { m_bus.publish(topic("/status"), QJsonObject{{"service", true}}, true); });
    onGet("/audio/get", [this] { publishAudio(); });
    onGet("/stats/cpu/get", [this] {
        m_bus.publish(topic("/stats/cpu"),
                      QJsonObject{{"cores", 4}, {"usage", 14.2}, {"load", QJsonArray{0.31, 0.27, 0.22}}});
    });
    onGet("/stats/memory/get", [this] {
        m_bus.publish(topic("/stats/memory"),
                      QJsonObject{{"total", 2063597568.0}, {"available", 1288490188.0}, {"used", 775107380.0}});
    });
    onGet("/stats/disk/get", [this] {
        m_bus.publish(topic("/stats/disk"),
                      QJsonObject{{"/", QJsonObject{{"total", 7818182656.0}, {"used", 2147483648.0}}},
                                  {"/data", QJsonObject{{"total", 7516192768.0}, {"used", 402653184.0}}}});
    });
    onRequest("/audio/set", [this](const QJsonObject &request) { onAudioSet(request); });
    onRequest("/audio/play", [this](const QJsonObject &request) { onAudioPlay(request); });
    // Requests to reboot or power off are only shown: the computer running us is not the device.
    onGet("/power/reboot/request/1", [this] { m_bus.say(QStringLiteral("system reboot requested (not acted on)")); });
    onGet("/power/shutdown/request/1", [this] { m_bus.say(QStringLiteral("system shutdown requested (not acted on)")); });
}

void InspectorService::publishState()
{
    handle(topic("/info/get"), QByteArray());
    handle(topic("/status/get"), QByteArray());
    publishAudio();
}

void InspectorService::publishAudio()
{
    m_bus.publish(topic("/audio"), QJsonObject{{"internal", QJsonObject{{"volume", m_volume}}}}, true);
}

void InspectorService::onAudioSet(const QJsonObject &request)
{
    if (const auto volume = wholeNumber(request.value("internal").toObject().value("volume"), 0, 100)) {
        m_volume = int(*volume);
        m_bus.say(QStringLiteral("volume set to %1%").arg(m_volume));
    } else {
        m_bus.say(QStringLiteral("volume request without a valid volume ignored"));
    }
    publishAudio();
}

void InspectorService::onAudioPlay(const QJsonObject &request)
{
    const QString file = request.value("filepath").toString();
    if (file.isEmpty()) {
        m_bus.say(QStringLiteral("sound request without a file ignored"));
        return;
    }
    const QString card = request.value("device").toString();
    m_bus.say(QStringLiteral("playing %1 on the %2 sound card").arg(file, card.isEmpty() ? QStringLiteral("default") : card));
}

// --- Network service -------------------------------------------------------------------------

namespace {
const char Interface[] = "eth0";
const char AddressKeys[][8] = {"address", "netmask", "gateway", "dns0", "dns1"};

// What the site's DHCP server hands out to this validator.
QJsonObject dhcpLease()
{
    return {{"address", "192.168.1.142"},
            {"netmask", "255.255.255.0"},
            {"gateway", "192.168.1.1"},
            {"dns0", "192.168.1.1"},
            {"dns1", "192.168.1.2"}};
}
} // namespace

NetworkService::NetworkService(Bus &bus, const QString &base)
    : Service(bus, base, "[Simulator][Network] ")
{
    onGet("/info/get", [this] { m_bus.publish(topic("/info"), QJsonObject{{"service", QJsonObject{{"version", "1.2.4"}}}}, true); });
    onGet("/status/get", [this] { publishStatus(); });
    onGet("/ethernet/state/get", [this] { publishEthernetState(); });
    onGet("/ethernet/config/get", [this] { publishEthernetConfig(); });
    onRequest("/ethernet/config/set", [this](const QJsonObject &request) { onEthernetConfigSet(request); });
}

void NetworkService::publishState()
{
    handle(topic("/info/get"), QByteArray());
    publishStatus();
    publishEthernetState();
    publishEthernetConfig();
}

QJsonObject NetworkService::currentIpv4() const
{
    return m_method == "manual" ? m_manual : dhcpLease();
}

void NetworkService::publishStatus()
{
    const QJsonObject primary{{"interface", Interface}, {"stateStr", "activated"}, {"typeStr", "ethernet"}, {"ipv4", currentIpv4()}};
    m_bus.publish(topic("/status"),
                  QJsonObject{{"stateStr", "connected"},
                              {"connectivityStr", "full"},
                              {"hostname", "orvo-validator-0142"},
                              {"primaryConnection", primary}},
                  true);
}

void NetworkService::publishEthernetState()
{
    m_bus.publish(topic("/ethernet/state"),
                  QJsonObject{{"interface", Interface},
                              {"typeStr", "ethernet"},
                              {"stateStr", "connected"},
                              {"reasonStr", "none"},
                              {"mac", "02:4F:52:56:01:42"},
                              {"ipv4", currentIpv4()}},
                  true);
}

void NetworkService::publishEthernetConfig()
{
    QJsonObject config{{"interface", Interface}, {"method", m_method}};
    for (const char *key : AddressKeys)
        config.insert(key, m_method == "manual" ? m_manual.value(key).toString() : QString());
    m_bus.publish(topic("/ethernet/config"), config, true);
}

void NetworkService::onEthernetConfigSet(const QJsonObject &request)
{
    const QString interface = request.value("interface").toString();
    // An empty name comes from a client that has not yet seen our state: it means the wired one.
    if (!interface.isEmpty() && interface != Interface) {
        m_bus.say(QStringLiteral("ethernet configuration for unknown interface %1 ignored").arg(interface));
        return;
    }
    const QString method = request.value("method").toString();
    QString problem;
    QJsonObject manual;
    if (method == "manual") {
        for (const char *key : AddressKeys) {
            const QString text = request.value(key).toString();
            manual.insert(key, text);
            const bool required = qstrcmp(key, "address") == 0 || qstrcmp(key, "netmask") == 0;
            const bool valid = qstrcmp(key, "netmask") == 0 ? isNetmask(text) : bool(ipv4Address(text));
            if (problem.isEmpty() && (required || !text.isEmpty()) && !valid)
                problem = QStringLiteral("invalid %1 \"%2\"").arg(key, text);
        }
    } else if (method != "auto") {
        problem = QStringLiteral("unknown method \"%1\"").arg(method);
    }
    if (!problem.isEmpty()) {
        // The configuration in force is announced again, so that the client shows the truth.
        m_bus.say(QStringLiteral("ethernet configuration refused: ") + problem);
        publishEthernetConfig();
        return;
    }
    m_method = method;
    m_manual = manual;
    m_bus.say(method == "manual"
                      ? QStringLiteral("ethernet set to manual: %1/%2 via %3")
                                .arg(manual.value("address").toString(), manual.value("netmask").toString(),
                                     manual.value("gateway").toString())
                      : QStringLiteral("ethernet set to automatic"));
    publishEthernetConfig();
    publishEthernetState();
    publishStatus();
}

// --- Device service --------------------------------------------------------------------------

DeviceService::DeviceService(Bus &bus, const QString &base)
    : Service(bus, base, "[Simulator][Device] ")
{
    onGet("/status/get", [this] { publishStatus(); });
    onGet("/clock/ntp/status/get", [this] { publishNtpStatus(); });
    onGet("/clock/ntp/config/get", [this] { publishNtpConfig(); });
    onRequest("/clock/ntp/config/set", [this](const QJsonObject &request) { onNtpConfigSet(request); });
    onGet("/clock/ntp/sync", [this] { onNtpSync(); });
    onGet("/software/check", [this] { onCheck(); });
    onGet("/update/software/install", [this] { onInstall(); });
}

void DeviceService::publishState()
{
    publishStatus();
    publishUpdateStatus();
    publishNtpStatus();
    publishNtpConfig();
}

void DeviceService::publishStatus()
{
    const QJsonObject software{{"current", m_current}, {"pending", m_pending}};
    m_bus.publish(topic("/status"), QJsonObject{{"service", true}, {"update", QJsonObject{{"software", software}}}}, true);
}

void DeviceService::publishNtpStatus()
{
    m_bus.publish(topic("/clock/ntp/status"), QJsonObject{{"enabled", m_ntpEnabled}, {"synced", m_ntpSynced}}, true);
}

void DeviceService::publishNtpConfig()
{
    m_bus.publish(topic("/clock/ntp/config"), QJsonObject{{"enabled", m_ntpEnabled}, {"server", m_ntpServer}}, true);
}

void DeviceService::onNtpConfigSet(const QJsonObject &request)
{
    QStringList refused;
    const QJsonValue enabled = request.value("enabled");
    if (enabled.isBool())
        m_ntpEnabled = enabled.toBool();
    else if (!enabled.isUndefined())
        refused << QStringLiteral("enabled");
    const QJsonValue server = request.value("server");
    if (server.isString() && isHostName(server.toString()))
        m_ntpServer = server.toString();
    else if (!server.isUndefined())
        refused << QStringLiteral("server");
    m_bus.say(QStringLiteral("NTP %1, server %2").arg(m_ntpEnabled ? "enabled" : "disabled", m_ntpServer)
              + (refused.isEmpty() ? QString() : QStringLiteral(" (ignored: %1)").arg(refused.join(", "))));
    publishNtpConfig();
    // A new setting means a new synchronisation.
    onNtpSync();
}

void DeviceService::onNtpSync()
{
    m_ntpSynced = false;
    publishNtpStatus();
    if (!m_ntpEnabled) {
        m_bus.say(QStringLiteral("NTP synchronisation not possible: NTP is disabled"));
        return;
    }
    const int request = ++m_syncRequests;
    m_bus.later(NtpSyncMs, this, [this, request] {
        if (request != m_syncRequests || !m_ntpEnabled)
            return; // a later request or setting took over
        m_ntpSynced = true;
        m_bus.say(QStringLiteral("clock synchronised with ") + m_ntpServer);
        publishNtpStatus();
    });
}

void DeviceService::publishProgress(const QString &message, int percent, const QString &version)
{
    m_bus.publish(topic("/update/software/progress"),
                  QJsonObject{{"message", message}, {"progress", percent}, {"version", version}});
}

void DeviceService::runSteps(QVector<Step> steps, const QString &version, std::function<void()> done)
{
    if (steps.isEmpty()) {
        done();
        return;
    }
    const Step step = steps.takeFirst();
    publishProgress(step.message, step.percent, version);
    m_bus.later(UpdateStepMs, this, [this, steps, version, done] { runSteps(steps, version, done); });
}

void DeviceService::publishUpdateStatus()
{
    QJsonObject status{{"current", m_current}, {"pending", m_pending}};
    // A failed install is reported until the next check or install replaces it.
    if (!m_lastError.isEmpty())
        status.insert("error", m_lastError);
    m_bus.publish(topic("/update/software/status"), status, true);
}

void DeviceService::offer(const QString &version)
{
    m_available = version;
    m_bus.say(QStringLiteral("update server offers ") + version);
}

void DeviceService::failNextInstall(const QString &reason)
{
    m_failure = reason;
    m_bus.say(QStringLiteral("the next install fails: ") + reason);
}

void DeviceService::onCheck()
{
    if (m_busy) {
        m_bus.say(QStringLiteral("update check refused: an update is under way"));
        return;
    }
    if (m_available.isEmpty()) {
        m_bus.say(QStringLiteral("update check: no newer software than ") + m_current);
        publishStatus();
        return;
    }
    m_busy = true;
    m_lastError.clear();
    m_bus.say(QStringLiteral("update check: fetching the index"));
    const QVector<Step> steps{{QStringLiteral("Fetching update index 1/2"), 50},
                              {QStringLiteral("Fetching update index 2/2"), 100}};
    runSteps(steps, m_available, [this] {
        m_busy = false;
        m_pending = m_available;
        m_bus.say(QStringLiteral("update check: %1 is ready to install").arg(m_pending));
        publishUpdateStatus();
        publishStatus();
    });
}

void DeviceService::onInstall()
{
    if (m_busy || m_pending.isEmpty()) {
        m_bus.say(m_busy ? QStringLiteral("install refused: an update is under way")
                         : QStringLiteral("install refused: nothing pending"));
        publishStatus();
        return;
    }
    m_busy = true;
    m_lastError.clear();
    m_bus.say(QStringLiteral("installing ") + m_pending);
    // The download counts its parts ("1/4"); the steps after it carry no slash.
    QVector<Step> steps;
    for (int part = 1; part <= 4; ++part)
        steps.append({QStringLiteral("Downloading %1/4").arg(part), part * 15});
    if (!m_failure.isEmpty()) {
        // The package does not verify: the version stays, the pending one too.
        runSteps(steps, m_pending, [this] {
            m_busy = false;
            m_lastError = m_failure;
            m_failure.clear();
            publishProgress(QStringLiteral("Installation failed: ") + m_lastError, 0, m_pending);
            m_bus.say(QStringLiteral("install of %1 failed: %2").arg(m_pending, m_lastError));
            publishUpdateStatus();
            publishStatus();
        });
        return;
    }
    steps.append({QStringLiteral("Verifying package"), 70});
    steps.append({QStringLiteral("Installing %1").arg(m_pending), 85});
    steps.append({QStringLiteral("Installation complete"), 100});
    runSteps(steps, m_pending, [this] {
        m_busy = false;
        m_current = m_pending;
        m_pending.clear();
        m_available.clear();
        m_bus.say(QStringLiteral("software %1 installed").arg(m_current));
        publishUpdateStatus();
        publishStatus();
    });
}

} // namespace simulator
