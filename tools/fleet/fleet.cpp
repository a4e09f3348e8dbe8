#include "fleet.h"

#include "mqtt/mqttclient.h"
#include "validation/validator.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>

#include <climits>

// Topics below "fleet/<serial>/" on the depot, as each validator's bridge renames them:
//   "bridge"            the bridge's own retained flag, "1" connected, "0" its will
//   "orvo/ui/info"      {"version": ...}, sent on request
//   "orvo/ui/status"    retained {"technician": ..., "service": true}, or the will {"service": false}
//   "orvo/ui/fleet/config"  the application's settings, sent on request and after each change,
//                       in the copy without secrets: "secretWrites" counts their writes instead
//   "orvo/blm/status"   the validation service's retained status

namespace fleet {

namespace {

const QString BridgeSuffix = QStringLiteral("bridge");
const QString InfoSuffix = QStringLiteral("orvo/ui/info");
const QString StatusSuffix = QStringLiteral("orvo/ui/status");
const QString ConfigSuffix = QStringLiteral("orvo/ui/fleet/config");
const QString ValidationSuffix = QStringLiteral("orvo/blm/status");

// A status or configuration is a few hundred bytes; anything far beyond is not one of ours.
constexpr int MaxPayload = 64 * 1024;
// The version comes from the validator's own build, the one text a broken or hostile build
// may make huge: it is taken up to this size and shown cut short, not dropped.
constexpr int MaxInfoPayload = 2 * 1024 * 1024;
// A version beyond this is not one of ours either; it is shown this far, with "...".
constexpr int MaxVersion = 40;
// Far more than an operator runs; a flood of invented serial numbers stops here.
constexpr int MaxValidators = 100000;
// A hostile topic is shown cut short.
constexpr int MaxShownTopic = 120;

const char *flagText(Validator::Flag flag, const char *yes, const char *no)
{
    switch (flag) {
    case Validator::Flag::Yes:
        return yes;
    case Validator::Flag::No:
        return no;
    default:
        return "?";
    }
}

// A topic fit for one line of a terminal: no control characters, no escape sequences.
QString printableTopic(const QByteArray &topic)
{
    return printable(QString::fromUtf8(topic.left(MaxShownTopic * 4)), MaxShownTopic);
}

bool parseObject(const QByteArray &payload, QJsonObject *object)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    *object = document.object();
    return true;
}

} // namespace

QString printable(const QString &text, int maxLength)
{
    QString shown = text.left(maxLength + 1);
    for (QChar &c : shown) {
        if (!c.isPrint())
            c = QLatin1Char('?');
    }
    if (shown.size() > maxLength)
        shown = shown.left(maxLength) + QStringLiteral("...");
    return shown;
}

QString validationStatus(const QJsonObject &status)
{
    // A fresh proxy for each report, fed as the application's client would feed it, so
    // that nothing of another validator's report stays in its records.
    manager::MqttClient feed;
    manager::Validator proxy(feed, QStringLiteral("orvo/blm"));
    feed.deliver(QJsonDocument(status).toJson(QJsonDocument::Compact), QStringLiteral("orvo/blm/status"));
    if (proxy.reasonCode().isEmpty())
        return proxy.status();
    return proxy.status() + QLatin1Char(' ') + proxy.reasonCode();
}

QStringList Fleet::topics()
{
    QStringList list;
    for (const QString &suffix : {BridgeSuffix, InfoSuffix, StatusSuffix, ConfigSuffix, ValidationSuffix})
        list << topic(QStringLiteral("+"), suffix);
    return list;
}

bool Fleet::isSerial(const QString &level)
{
    static const QRegularExpression serial(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9._-]{0,63}$"));
    return serial.match(level).hasMatch();
}

QString Fleet::topic(const QString &serial, const QString &suffix)
{
    return QStringLiteral("fleet/") + serial + QLatin1Char('/') + suffix;
}

Fleet::Fleet(QObject *parent)
    : QObject(parent)
{
}

QString Fleet::cachedValidationStatus(const QByteArray &payload, const QJsonObject &object)
{
    // Most validators report one of a few statuses; each is read once, not once per validator.
    constexpr int MaxCached = 256;
    const auto it = m_validationCache.constFind(payload);
    if (it != m_validationCache.constEnd())
        return it.value();
    if (m_validationCache.size() >= MaxCached)
        m_validationCache.clear();
    const QString status = validationStatus(object);
    m_validationCache.insert(payload, status);
    return status;
}

void Fleet::expect(const QStringList &serials)
{
    for (const QString &serial : serials) {
        if (find(serial))
            continue;
        // A place holder until a depot tells of it.
        Validator &validator = m_validators[Key(serial, -1)];
        validator.serial = serial;
        validator.expected = true;
    }
}

void Fleet::setDepots(const QStringList &names)
{
    m_depots = names;
}

const Validator *Fleet::find(const QString &serial) const
{
    const auto it = m_validators.lowerBound(Key(serial, INT_MIN));
    return it == m_validators.constEnd() || it.key().first != serial ? nullptr : &it.value();
}

QList<const Validator *> Fleet::findAll(const QString &serial) const
{
    QList<const Validator *> found;
    for (auto it = m_validators.lowerBound(Key(serial, INT_MIN)); it != m_validators.constEnd() && it.key().first == serial;
         ++it)
        found << &it.value();
    return found;
}

const Validator *Fleet::find(const Key &key) const
{
    const auto it = m_validators.constFind(key);
    return it == m_validators.constEnd() ? nullptr : &it.value();
}

void Fleet::setSilent(const Key &key, bool silent)
{
    const auto it = m_validators.find(key);
    if (it != m_validators.end())
        it->silent = silent;
}

void Fleet::skip(const QByteArray &topic, const QString &reason)
{
    ++m_skipped;
    emit skipped(QStringLiteral("skipped %1: %2").arg(printableTopic(topic), reason));
}

QVersionNumber Fleet::newestVersion() const
{
    return m_versions.isEmpty() ? QVersionNumber() : m_versions.lastKey();
}

bool Fleet::isBehind(const Validator &validator) const
{
    return !validator.versionNumber.isNull() && validator.versionNumber < newestVersion();
}

void Fleet::setVersion(Validator &validator, const QString &text)
{
    const QVersionNumber before = newestVersion();
    if (!validator.versionNumber.isNull()) {
        const auto it = m_versions.find(validator.versionNumber);
        if (it != m_versions.end() && --it.value() <= 0)
            m_versions.erase(it);
    }
    validator.version = printable(text, MaxVersion);
    validator.versionNumber = QVersionNumber::fromString(validator.version);
    if (!validator.versionNumber.isNull()) {
        const auto it = m_versions.find(validator.versionNumber);
        if (it == m_versions.end())
            m_versions.insert(validator.versionNumber, 1);
        else
            ++it.value();
    }
    const QVersionNumber after = newestVersion();
    if (after != before) {
        m_newestText = after.toString();
        emit newestChanged();
    }
}

void Fleet::handle(const QByteArray &topicName, const QByteArray &payload, bool live, int depot)
{
    const QString topic = QString::fromUtf8(topicName);
    const QStringList levels = topic.split(QLatin1Char('/'));
    if (levels.size() < 3 || levels.at(0) != QLatin1String("fleet")) {
        skip(topicName, QStringLiteral("not a topic of the fleet"));
        return;
    }
    const QString serial = levels.at(1);
    if (!isSerial(serial)) {
        skip(topicName, QStringLiteral("not a serial number"));
        return;
    }
    const QString suffix = topic.mid(levels.at(0).size() + serial.size() + 2);
    Part part;
    if (suffix == BridgeSuffix)
        part = Part::Bridge;
    else if (suffix == InfoSuffix)
        part = Part::Info;
    else if (suffix == StatusSuffix)
        part = Part::Status;
    else if (suffix == ConfigSuffix)
        part = Part::Config;
    else if (suffix == ValidationSuffix)
        part = Part::Validation;
    else {
        skip(topicName, QStringLiteral("not a topic the validators share"));
        return;
    }
    if (payload.size() > (part == Part::Info ? MaxInfoPayload : MaxPayload)) {
        skip(topicName, QStringLiteral("%1 bytes, too large").arg(payload.size()));
        return;
    }

    // An empty message clears a retained one: that part is not known any more.
    const bool cleared = payload.isEmpty();
    QJsonObject object;
    if (part == Part::Bridge) {
        if (!cleared && payload != "0" && payload != "1") {
            skip(topicName, QStringLiteral("not 0 or 1"));
            return;
        }
    } else if (!cleared) {
        if (!parseObject(payload, &object)) {
            skip(topicName, QStringLiteral("not a JSON object"));
            return;
        }
        if (part == Part::Info && !object.value(QLatin1String("version")).isString()) {
            skip(topicName, QStringLiteral("no version text"));
            return;
        }
        if (part == Part::Status && !object.value(QLatin1String("service")).isBool()) {
            skip(topicName, QStringLiteral("no service flag"));
            return;
        }
    }

    auto it = m_validators.find(Key(serial, depot));
    if (it == m_validators.end()) {
        if (m_validators.size() >= MaxValidators) {
            skip(topicName, QStringLiteral("more than %1 validators").arg(MaxValidators));
            return;
        }
        // The first depot to tell of an expected validator takes its place holder.
        const bool expected = m_validators.remove(Key(serial, -1)) > 0;
        it = m_validators.insert(Key(serial, depot), Validator());
        it->serial = serial;
        it->depot = depot;
        it->expected = expected;
    }
    ++m_handled;
    Validator &validator = it.value();
    validator.heard = true;
    // The depot's word that a bridge is gone is not a sign of life of the validator.
    if (live && !(part == Part::Bridge && payload == "0")) {
        validator.lastSeen = QDateTime::currentDateTime();
        validator.silent = false;
    }

    switch (part) {
    case Part::Bridge:
        validator.link = cleared ? Validator::Flag::Unknown : payload == "1" ? Validator::Flag::Yes : Validator::Flag::No;
        break;
    case Part::Info:
        setVersion(validator, object.value(QLatin1String("version")).toString());
        break;
    case Part::Status:
        if (cleared) {
            validator.app = validator.technician = Validator::Flag::Unknown;
        } else if (object.value(QLatin1String("service")).toBool()) {
            validator.app = Validator::Flag::Yes;
            validator.technician = object.value(QLatin1String("technician")).toBool() ? Validator::Flag::Yes
                                                                                      : Validator::Flag::No;
        } else {
            // The will: nobody is there to say whether a technician was.
            validator.app = Validator::Flag::No;
            validator.technician = Validator::Flag::Unknown;
        }
        break;
    case Part::Config:
        validator.config = object;
        validator.hasConfig = !cleared;
        break;
    case Part::Validation:
        validator.validation = cleared ? QString() : cachedValidationStatus(payload, object);
        break;
    }
    emit updated(serial, depot, part);
}

QString Fleet::state(const Validator &validator) const
{
    using Flag = Validator::Flag;
    if (!validator.heard)
        return QStringLiteral("never seen");
    if (validator.link == Flag::No)
        return QStringLiteral("unreachable");
    if (validator.app == Flag::No)
        return QStringLiteral("application down");
    if (validator.silent)
        return QStringLiteral("no answer");
    if (validator.technician == Flag::Yes)
        return QStringLiteral("maintenance");
    if (!validator.validation.isEmpty() && !validator.validation.startsWith(QLatin1String("online"))
        && !validator.validation.startsWith(QLatin1String("degraded")))
        return QStringLiteral("out of order");
    if (isBehind(validator))
        return QStringLiteral("old version");
    if (validator.link == Flag::Unknown || validator.app == Flag::Unknown)
        return QStringLiteral("unknown");
    return QStringLiteral("up");
}

QStringList Fleet::states()
{
    return {QStringLiteral("up"), QStringLiteral("unreachable"), QStringLiteral("application down"),
            QStringLiteral("no answer"), QStringLiteral("maintenance"), QStringLiteral("out of order"),
            QStringLiteral("old version"), QStringLiteral("unknown"), QStringLiteral("never seen")};
}

namespace {
// The last before DEPOT, when it shows, holds "yyyy-MM-dd HH:mm:ss".
const QList<int> Widths = {14, 17, 10, 5, 11, 19, 10, 20};
} // namespace

QString Fleet::columns(QStringList cells) const
{
    // With one depot the table stays as it always was; DEPOT comes last, after the time.
    if (m_depots.size() > 1)
        cells << cells.takeAt(0);
    else
        cells.removeFirst();
    QString line;
    for (int i = 0; i < cells.size(); ++i)
        line += i < Widths.size() && i + 1 < cells.size() ? cells.at(i).leftJustified(Widths.at(i) - 1) + QLatin1Char(' ')
                                                          : cells.at(i);
    return line.trimmed();
}

QString Fleet::header() const
{
    return columns({QStringLiteral("DEPOT"), QStringLiteral("SERIAL"), QStringLiteral("STATE"),
                    QStringLiteral("REACHABLE"), QStringLiteral("APP"), QStringLiteral("TECHNICIAN"),
                    QStringLiteral("VALIDATION"), QStringLiteral("VERSION"), QStringLiteral("LAST SEEN")});
}

QString Fleet::depotRow(const QString &depot) const
{
    const QString unknown = QStringLiteral("?");
    return columns({depot, QStringLiteral("-"), QStringLiteral("depot down"), unknown, unknown, unknown, unknown,
                    unknown, QStringLiteral("-")});
}

QString Fleet::row(const Validator &validator) const
{
    const QString unknown = QStringLiteral("?");
    return columns({depotName(validator.depot), validator.serial, state(validator), flagText(validator.link, "yes", "no"),
                    flagText(validator.app, "up", "down"), flagText(validator.technician, "yes", "no"),
                    validator.validation.isEmpty() ? unknown : validator.validation,
                    validator.version.isEmpty() ? unknown : validator.version,
                    validator.lastSeen.isValid() ? validator.lastSeen.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                                 : QStringLiteral("-")});
}

} // namespace fleet
