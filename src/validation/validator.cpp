#include "validator.h"

#include "mqtt/jsonmessage.h"
#include "mqtt/mqttclient.h"

#include <QDebug>
#include <QHash>
#include <QJsonArray>
#include <QStringList>
#include <QUrl>

// Topics below the validation service's base ("orvo/blm" by default):
//   "/info", "/status", "/config"        service reports, read into the properties and records
//   "/rfid/retry"                        the card must be presented again
//   "/rfid/removed"                      subscribed, nothing to do: removal comes from the reader
//   "/rfid/scanned", "/barcode/scanned"  validation results, each carrying a "transaction"
//   "/barcode/maintenance/scanned"       a technician's barcode, handed on as it is
//   "/config/set", "/config/get"         published: store the settings, ask for them
// and the card reader's own "orvo/rfid/card/removed" and "orvo/rfid/card/found". The readers
// are switched on and off through their fixed command topics below "orvo/rfid" and
// "orvo/barcode".

namespace manager {

namespace {

const char Tag[] = "[Validator] ";

const QString ConfigSetSuffix = QStringLiteral("/config/set");
const QString ConfigGetSuffix = QStringLiteral("/config/get");

const QString BarcodeEnableTopic = QStringLiteral("orvo/barcode/enable");
const QString BarcodeDisableTopic = QStringLiteral("orvo/barcode/disable");
const QString RfidEnableTopic = QStringLiteral("orvo/rfid/enable");
const QString RfidDisableTopic = QStringLiteral("orvo/rfid/disable");

using Status = Validator::Status;

QJsonObject member(const QJsonObject &object, const char *name)
{
    return object.value(QLatin1String(name)).toObject();
}

bool flag(const QJsonObject &object, const char *name)
{
    return object.value(QLatin1String(name)).toBool();
}

QString text(const QJsonObject &object, const char *name)
{
    return object.value(QLatin1String(name)).toString();
}

// A TCP port from its text; anything that is not one (empty, not a number, out of range)
// reads as 0, as an unparsable number does, instead of making the whole URL invalid.
int portFromText(const QString &value)
{
    bool ok = false;
    const int port = value.toInt(&ok, 10);
    return (ok && port >= 0 && port <= 65535) ? port : 0;
}

} // namespace

const TopicRoute<Validator> Validator::Routes[] = {
    {"/info", &Validator::onInfoReceived},
    {"/status", &Validator::onStatusReceived},
    {"/config", &Validator::onConfigReceived},
    {"/rfid/retry", &Validator::onRetryReceived},
    // Nothing to do: removal comes from the reader.
    {"/rfid/removed", nullptr},
    {"/rfid/scanned", &Validator::onScannedReceived},
    {"/barcode/scanned", &Validator::onScannedReceived},
    {"/barcode/maintenance/scanned", &Validator::onMaintenanceReceived},
    // Removal is acted on whatever the payload: the card is gone either way.
    {"orvo/rfid/card/removed", &Validator::onCardRemovedReceived, TopicKind::FixedAnyPayload},
    {"orvo/rfid/card/found", &Validator::onCardFoundReceived, TopicKind::Fixed},
};

Validator::Validator(MqttClient &client, const QString &baseTopic, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_baseTopic(baseTopic)
{
    // Receivers on a queued connection get their own copy of each validation result.
    qRegisterMetaType<Transaction>();

    connect(&m_client, &MqttClient::disconnected, this, &Validator::onMqttDisconnected);

    routes::subscribe(m_client, this, m_baseTopic, Routes,
                      {Tag, EmptyPayload::AsEmptyObject, ParseFailureDetail::ParserError});
}

QString Validator::mapCardType(int type)
{
    static const QHash<int, QString> names = {
        {0, QStringLiteral("Unknown")},
        {1, QStringLiteral("ISO14443-4A")},
        {2, QStringLiteral("ISO14443-4B")},
        {4, QStringLiteral("MIFARE Classic 1K")},
        {8, QStringLiteral("MIFARE Classic 4K")},
        {16, QStringLiteral("MIFARE Plus 2K")},
        {32, QStringLiteral("MIFARE Plus 4K")},
        {64, QStringLiteral("MIFARE Ultralight")},
        {128, QStringLiteral("MIFARE Mini")},
        {256, QStringLiteral("MIFARE DESFire")},
        {512, QStringLiteral("EMV")},
        {32768, QStringLiteral("Other")},
    };
    return names.value(type, QStringLiteral("Unknown"));
}

QString Validator::mapRfidState(int state)
{
    return ValidatorRfid::mapState(state);
}

void Validator::onCardRemovedReceived(const QJsonObject &)
{
    emit cardRemoved();
}

void Validator::onRetryReceived(const QJsonObject &)
{
    emit cardRetry();
}

void Validator::onMaintenanceReceived(const QJsonObject &object)
{
    emit maintenanceBarcodeScanned(object);
}

void Validator::onMqttDisconnected()
{
    setStatus(Status::Offline);
    setReason(QStringLiteral("MQTT Disconnected"), QStringLiteral("#0001"));
}

void Validator::onInfoReceived(const QJsonObject &object)
{
    const QJsonObject device = member(object, "device");
    m_barcode.fromJson(member(device, "barcode"));
    m_rfid.fromJson(member(device, "rfid"));
    setVersion(text(member(object, "service"), "version"));
}

void Validator::onStatusReceived(const QJsonObject &object)
{
    const QJsonObject device = member(object, "device");
    m_rfid.fromJson(member(device, "rfid"));
    m_barcode.fromJson(member(device, "barcode"));

    if (!flag(object, "service")) {
        setStatus(Status::Offline);
        setReason(QStringLiteral("BLM service down"), QStringLiteral("#0002"));
        return;
    }

    setVehicle(text(member(object, "obu"), "vehicleUuid"));
    setRoute(text(member(object, "route"), "axisName"));

    const QJsonObject state = member(object, "state");
    if (flag(state, "init")) {
        setStatus(Status::Init);
        setReason(QString(), QString());
        return;
    }
    if (!flag(state, "hasRfid")) {
        setStatus(Status::Offline);
        if (m_rfid.state() == QLatin1String("Updating"))
            setReason(QStringLiteral("RFID firmware is updating"), QStringLiteral("#0003"));
        else
            setReason(QStringLiteral("RFID is not operational"), QStringLiteral("#0004"));
        return;
    }
    // A service that does not report its clock is taken as synchronised.
    if (state.contains(QLatin1String("hasNtp")) && !flag(state, "hasNtp")) {
        setStatus(Status::Offline);
        setReason(QStringLiteral("NTP not synchronized"), QStringLiteral("#0007"));
        return;
    }
    if (!flag(state, "hasRoute")) {
        setStatus(Status::OutOfService);
        setReason(QStringLiteral("No route"), QStringLiteral("#0006"));
        return;
    }
    const bool hasQr = flag(state, "hasQr");
    const bool hasObu = flag(state, "hasObu");
    if (hasQr && hasObu) {
        setStatus(Status::Online);
        setReason(QString(), QString());
        return;
    }
    QStringList missing;
    if (!hasObu)
        missing << QStringLiteral("OBC lost");
    if (!hasQr)
        missing << QStringLiteral("Barcode not operational");
    setStatus(Status::Degraded);
    setReason(missing.join(QLatin1Char(',')), QStringLiteral("#0005"));
}

void Validator::onConfigReceived(const QJsonObject &object)
{
    const QJsonObject blm = member(object, "blm");
    const QJsonObject validator = member(object, "validator");

    QUrl url;
    url.setScheme(QStringLiteral("mqtt"));
    url.setHost(text(blm, "obu_host"), QUrl::DecodedMode);
    url.setUserName(text(blm, "obu_username"), QUrl::DecodedMode);
    url.setPassword(text(blm, "obu_password"), QUrl::DecodedMode);
    url.setPort(portFromText(text(blm, "obu_port")));
    m_config.setObuUrl(url);

    bool ok = false;
    const int passbackSecs = text(validator, "passbackTime").toInt(&ok, 10);
    m_config.setPassbackSecs(ok ? passbackSecs : 0);
    m_config.setPassbackQrEnabled(text(validator, "qr_passback") == QLatin1String("true"));

    // The password stays out of the log; everything else of the URL is shown.
    qWarning().noquote().nospace() << Tag << "Config received : ";
    qWarning().noquote().nospace() << Tag << "OBU URL         : " << url.toString(QUrl::RemovePassword);
    qWarning().noquote().nospace() << Tag << "Passback Time   : " << m_config.passbackSecs() << " sec(s)";
    qWarning().noquote().nospace() << Tag << "Passback QR En  : "
                                   << (m_config.passbackQrEnabled() ? "true" : "false");
    emit configChanged();
}

void Validator::onCardFoundReceived(const QJsonObject &object)
{
    emit cardDetected(text(object, "uid"), mapCardType(object.value(QLatin1String("type")).toInt()));
}

void Validator::onScannedReceived(const QJsonObject &object)
{
    const Transaction transaction(member(object, "transaction"), nullptr);
    emit ticketValidated(transaction);
}

void Validator::enableBarcode()
{
    if (!m_barcode.enabled())
        m_client.publish(QByteArray(), BarcodeEnableTopic, 0, false);
}

void Validator::disableBarcode()
{
    if (m_barcode.enabled())
        m_client.publish(QByteArray(), BarcodeDisableTopic, 0, false);
}

void Validator::enableRfid()
{
    if (!m_rfid.enabled())
        m_client.publish(requestBody({{QStringLiteral("autoread"), true}}), RfidEnableTopic, 0, false);
}

void Validator::disableRfid()
{
    if (m_rfid.enabled())
        m_client.publish(QByteArray(), RfidDisableTopic, 0, false);
}

bool Validator::saveConfig()
{
    const QUrl url = m_config.obuUrl();
    const QJsonObject blm = {
        {QStringLiteral("obu_username"), url.userName(QUrl::FullyDecoded)},
        {QStringLiteral("obu_password"), url.password(QUrl::FullyDecoded)},
        {QStringLiteral("obu_host"), url.host(QUrl::FullyDecoded)},
        {QStringLiteral("obu_port"), url.port()},
    };
    const QJsonObject validator = {
        {QStringLiteral("passbackTime"), m_config.passbackSecs()},
        {QStringLiteral("qr_passback"), m_config.passbackQrEnabled()},
    };
    const QJsonObject body = {{QStringLiteral("blm"), blm}, {QStringLiteral("validator"), validator}};
    return m_client.publish(requestBody(body), m_baseTopic + ConfigSetSuffix, 0, false);
}

void Validator::refreshConfig()
{
    m_client.publish(QByteArrayLiteral("{ }"), m_baseTopic + ConfigGetSuffix, 0, false);
}

QString Validator::statusText(Status status)
{
    switch (status) {
    case Status::Init:
        return QStringLiteral("init");
    case Status::Online:
        return QStringLiteral("online");
    case Status::Degraded:
        return QStringLiteral("degraded");
    case Status::Offline:
        return QStringLiteral("offline");
    case Status::OutOfService:
        return QStringLiteral("out-of-service");
    case Status::Unknown:
        break;
    }
    return QString();
}

void Validator::setStatus(Status status)
{
    if (m_status == status)
        return;
    qWarning().noquote().nospace() << Tag << "Validator status is : " << statusText(status);
    m_status = status;
    emit statusChanged();
}

void Validator::setReason(const QString &reason, const QString &code)
{
    if (m_reason == reason && m_reasonCode == code)
        return;
    m_reason = reason;
    m_reasonCode = code;
    emit reasonChanged();
}

void Validator::setVersion(const QString &version)
{
    if (m_version == version)
        return;
    m_version = version;
    emit versionChanged();
}

void Validator::setRoute(const QString &route)
{
    if (m_route == route)
        return;
    m_route = route;
    emit routeChanged();
}

void Validator::setVehicle(const QString &vehicle)
{
    if (m_vehicle == vehicle)
        return;
    m_vehicle = vehicle;
    emit vehicleChanged();
}

} // namespace manager
