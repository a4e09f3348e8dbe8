#include "console.h"

#include "controller/guimanager.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTimer>

namespace fleet {

namespace {

// How often a waiting command looks again at what has come in.
// A configuration that does not (yet) show the new value may have been on its way before the
// change arrived; the verdict "refused" waits this long for a later one.
constexpr int RefusalGraceMs = 1500;

const QString Masked = QStringLiteral("********");
// A configuration value or key as a validator sent it is shown this far.
constexpr int MaxShownValue = 200;

const QString InfoGet = QStringLiteral("orvo/ui/info/get");
const QString StatusGet = QStringLiteral("orvo/ui/status/get");
const QString ConfigGet = QStringLiteral("orvo/ui/config/get");
const QString ConfigSet = QStringLiteral("orvo/ui/config/set");
const QByteArray EmptyRequest = QByteArrayLiteral("{ }");
// The member of the depot's copy of a configuration that counts the writes of each secret
// setting, whose value never leaves the validator.
const QString SecretWrites = QStringLiteral("secretWrites");
const QString NotShown = QStringLiteral("applied (not shown)");

// How often the validator has taken the secret setting; -1 when its copy does not say.
int secretWrites(const Validator &validator, const QString &key)
{
    const QJsonValue writes = validator.config.value(SecretWrites).toObject().value(key);
    return validator.hasConfig && writes.isDouble() ? writes.toInt() : -1;
}

// A setting's value as text, the same for a number sent and the text the file gives back.
QString valueText(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double: {
        const double number = value.toDouble();
        if (number == double(qint64(number)))
            return QString::number(qint64(number));
        return QString::number(number);
    }
    case QJsonValue::String:
        return value.toString();
    default:
        return QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
    }
}

QString shown(const QString &key, const QString &text)
{
    return Console::isSecret(key) ? Masked : printable(text, MaxShownValue);
}

QString depotName(const Depot::Settings &settings)
{
    return settings.host + QLatin1Char(':') + QString::number(settings.port);
}

} // namespace

Console::Console(const Options &options, QTextStream &out, QTextStream &err, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_out(out)
    , m_err(err)
{
    for (int i = 0; i < options.depots.size(); ++i) {
        m_depots.push_back(std::make_unique<Depot>(options.depots.at(i), Fleet::topics()));
        m_names << depotName(options.depots.at(i));
        connect(m_depots.back().get(), &Depot::message, &m_fleet,
                [this, i](const QByteArray &topic, const QByteArray &payload, bool live) {
                    m_fleet.handle(topic, payload, live, i);
                });
    }
    m_fleet.setDepots(m_names);
    m_fleet.expect(options.expected);
    connect(&m_fleet, &Fleet::skipped, this, [this](const QString &line) {
        if (m_printing || !m_watching)
            m_err << (m_watching ? time() + QLatin1Char(' ') : QString()) << line << Qt::endl;
    });
    connect(&m_fleet, &Fleet::updated, this, &Console::onUpdated);
    // A new newest version may turn other rows into "old version": the one pass over the
    // table that such a change costs. Any other change costs its own row only.
    connect(&m_fleet, &Fleet::newestChanged, this, [this] {
        if (!m_printing)
            return;
        for (auto it = m_fleet.validators().cbegin(); it != m_fleet.validators().cend(); ++it)
            watchLine(it.key());
    });
}

void Console::onUpdated(const QString &serial, int depot, Fleet::Part part)
{
    const Key key(serial, depot);
    const bool synced = m_depots.at(depot)->isSynced();
    const auto pending = m_pending.find(key);
    if (pending != m_pending.end() && synced) {
        if (part == Fleet::Part::Status)
            pending->status = true;
        else if (part == Fleet::Part::Info)
            pending->info = true;
        if (pending->status && pending->info)
            m_pending.erase(pending);
    }
    if (!m_watching)
        return;
    // A bridge that is back: ask the application again, its version is not retained.
    const Validator *validator = m_fleet.find(key);
    if (part == Fleet::Part::Bridge && validator && validator->link == Validator::Flag::Yes && synced)
        ask({key});
    watchLine(key);
}

QList<DepotState> Console::depots() const
{
    QList<DepotState> states;
    for (size_t i = 0; i < m_depots.size(); ++i)
        states << DepotState{m_names.at(int(i)), m_depots.at(i)->isSynced()};
    return states;
}

QList<int> Console::routes(const QString &serial) const
{
    QList<int> depots;
    for (const Validator *validator : m_fleet.findAll(serial)) {
        if (validator->depot >= 0 && m_depots.at(size_t(validator->depot))->isSynced())
            depots << validator->depot;
    }
    if (depots.isEmpty()) {
        for (size_t i = 0; i < m_depots.size(); ++i) {
            if (m_depots.at(i)->isSynced())
                depots << int(i);
        }
    }
    return depots;
}

bool Console::isSecret(const QString &key)
{
    return key == QLatin1String("mqtt/password") || key == QLatin1String("gui/settingsPin");
}

QJsonValue Console::typedValue(const QString &key, const QString &text)
{
    const QVariant model = GUIManager::Defaults.value(key);
    if (model.type() == QVariant::Int) {
        bool ok = false;
        const qint64 number = text.toLongLong(&ok);
        if (ok)
            return QJsonValue(double(number));
    } else if (model.type() == QVariant::Bool) {
        if (text == QLatin1String("true") || text == QLatin1String("false"))
            return QJsonValue(text == QLatin1String("true"));
    }
    // Text the application refuses for a number or a flag, as it should.
    return QJsonValue(text);
}

QString Console::time() const
{
    return QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss"));
}

bool Console::open()
{
    for (const auto &depot : m_depots)
        depot->start();
    const auto allSynced = [this] {
        for (const auto &depot : m_depots) {
            if (!depot->isSynced())
                return false;
        }
        return true;
    };
    if (waitUntil(allSynced, m_options.timeoutMs))
        return true;
    const QString warning = m_options.lastClientWarning ? m_options.lastClientWarning() : QString();
    bool any = false;
    for (size_t i = 0; i < m_depots.size(); ++i) {
        if (m_depots.at(i)->isSynced()) {
            any = true;
            continue;
        }
        // With several depots the client's last complaint may be another one's.
        m_err << "cannot reach the depot broker " << m_names.at(int(i)) << " within " << m_options.timeoutMs / 1000.0
              << " s"
              << (warning.isEmpty() || m_depots.size() > 1 ? QString() : QStringLiteral(": ") + warning) << Qt::endl;
    }
    return any;
}

QList<Console::Key> Console::reachable(int depot) const
{
    QList<Key> keys;
    for (const Validator &validator : m_fleet.validators()) {
        if (validator.heard && validator.link != Validator::Flag::No && validator.app != Validator::Flag::No
            && (depot < 0 || validator.depot == depot) && m_depots.at(size_t(validator.depot))->isSynced())
            keys << Fleet::keyOf(validator);
    }
    return keys;
}

void Console::ask(const QList<Key> &keys)
{
    for (const Key &key : keys) {
        m_pending.insert(key, Pending());
        Depot &depot = *m_depots.at(size_t(key.second));
        depot.request(key.first, StatusGet, EmptyRequest);
        depot.request(key.first, InfoGet, EmptyRequest);
    }
    if (!m_watching)
        return;
    QTimer::singleShot(m_options.timeoutMs, this, [this, keys] {
        for (const Key &key : keys) {
            if (m_pending.remove(key)) {
                m_fleet.setSilent(key, true);
                watchLine(key);
            }
        }
    });
}

void Console::watchLine(const Key &key)
{
    if (!m_printing)
        return;
    const Validator *validator = m_fleet.find(key);
    if (!validator)
        return;
    // The time of the last message alone is no change worth a line.
    Validator quiet = *validator;
    quiet.lastSeen = QDateTime();
    const QString row = m_fleet.row(quiet);
    const auto shown = m_shown.find(key);
    if (shown != m_shown.end() && shown.value() == row)
        return;
    m_shown.insert(key, row);
    m_out << time() << ' ' << m_fleet.row(*validator) << Qt::endl;
}

void Console::startWatching(bool print)
{
    m_watching = true;
    m_printing = print;
    for (size_t i = 0; i < m_depots.size(); ++i) {
        Depot *depot = m_depots.at(i).get();
        const QString which = m_depots.size() > 1 ? QStringLiteral(": ") + m_names.at(int(i)) : QString();
        connect(depot, &Depot::lost, this, [this, which] {
            if (m_printing)
                m_out << time() << " depot connection lost" << which << Qt::endl;
        });
        connect(depot, &Depot::synced, this, [this, which, i] {
            if (m_printing)
                m_out << time() << " depot connection back" << which << Qt::endl;
            ask(reachable(int(i)));
        });
    }
}

void Console::follow()
{
    startWatching(false);
    for (const auto &depot : m_depots)
        depot->start();
}

int Console::status(bool watch)
{
    if (!open())
        return NoDepot;
    ask(reachable());
    waitUntil([this] { return m_pending.isEmpty(); }, m_options.timeoutMs);
    for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it)
        m_fleet.setSilent(it.key(), true);
    m_pending.clear();

    bool allUp = true;
    bool anyHeard = false;
    m_out << m_fleet.header() << Qt::endl;
    for (const Validator &validator : m_fleet.validators()) {
        m_out << m_fleet.row(validator) << Qt::endl;
        allUp = allUp && m_fleet.state(validator) == QLatin1String("up");
        anyHeard = anyHeard || validator.heard;
    }
    bool allDepots = true;
    for (size_t i = 0; i < m_depots.size(); ++i) {
        if (!m_depots.at(i)->isSynced()) {
            m_out << m_fleet.depotRow(m_names.at(int(i))) << Qt::endl;
            allDepots = false;
        }
    }
    if (!anyHeard)
        m_err << "the depot knows no validator: a wrong depot, an ACL that hides fleet/#, or its retained state lost"
              << Qt::endl;
    if (!watch)
        return !allDepots ? NoDepot : !anyHeard ? NoValidator : allUp ? Success : TargetFailed;

    // From here on, one line for each validator whose row changes.
    for (auto it = m_fleet.validators().cbegin(); it != m_fleet.validators().cend(); ++it) {
        Validator quiet = it.value();
        quiet.lastSeen = QDateTime();
        m_shown.insert(it.key(), m_fleet.row(quiet));
    }
    startWatching(true);
    return QCoreApplication::exec();
}

int Console::set(const QString &key, const QString &value, const QStringList &ids, bool all)
{
    const QStringList parts = key.split(QLatin1Char('/'));
    if (parts.size() != 2 || parts.at(0).isEmpty() || parts.at(1).isEmpty()) {
        m_err << "a setting is named group/name, as in gui/displayOffMin: " << key << Qt::endl;
        return Usage;
    }
    if (key == QLatin1String("mqtt/password")) {
        m_err << "mqtt/password is never published, so a change could not be read back; set it on the validator"
              << Qt::endl;
        return Usage;
    }
    // A bridge carries the topics by the names it was written with; a renamed topic is one the
    // depot no longer hears.
    if (!m_options.force && key == QLatin1String("mqtt/base")) {
        m_err << "mqtt/base moves the validators' own topics off those their bridges carry to the depot: refused "
                 "without --force (with it, each validator answers on its old base too, until tessivo-bridge-setup "
                 "is run on it again)" << Qt::endl;
        return Usage;
    }
    if (!m_options.force && parts.at(0) == QLatin1String("topics")) {
        m_err << key << " moves a service off the topics the bridges carry to the depot (orvo/blm/status for the "
                        "validation service): refused without --force" << Qt::endl;
        return Usage;
    }
    if (!open())
        return NoDepot;

    QStringList targets = ids;
    if (all) {
        for (const Validator &validator : m_fleet.validators()) {
            if (validator.heard)
                targets << validator.serial;
        }
    }
    targets.removeDuplicates();
    targets.sort();
    if (targets.isEmpty()) {
        m_err << "no validator to send to: the depot knows none" << Qt::endl;
        return NoValidator;
    }

    const QJsonValue typed = typedValue(key, value);
    const QString wanted = valueText(typed);
    const QByteArray request =
            QJsonDocument(QJsonObject{{parts.at(0), QJsonObject{{parts.at(1), typed}}}}).toJson(QJsonDocument::Indented);

    struct Outcome
    {
        QString verdict;
        QString detail;
        bool final = false;
        QDeadlineTimer decideBy;
    };
    QHash<QString, Outcome> outcomes;
    // A secret is proved by its count of writes going up, so the count before comes first.
    QHash<QString, int> writesBefore;
    if (isSecret(key)) {
        QSet<QString> asked;
        for (const QString &serial : targets) {
            const Validator *validator = m_fleet.find(serial);
            if (!validator || (validator->link != Validator::Flag::No && validator->app != Validator::Flag::No)) {
                asked.insert(serial);
                for (const int depot : routes(serial))
                    m_depots.at(size_t(depot))->request(serial, ConfigGet, EmptyRequest);
            }
        }
        const auto read = connect(&m_fleet, &Fleet::updated, this, [&](const QString &serial, int depot, Fleet::Part part) {
            if (part == Fleet::Part::Config && asked.remove(serial))
                writesBefore.insert(serial, secretWrites(*m_fleet.find(Key(serial, depot)), key));
        });
        waitUntil([&] { return asked.isEmpty(); }, m_options.timeoutMs);
        disconnect(read);
        for (const QString &serial : asked) {
            outcomes[serial] = {QStringLiteral("no answer"),
                                QStringLiteral("within %1 s (not sent)").arg(m_options.timeoutMs / 1000.0), true, {}};
        }
    }
    int open = 0;
    for (const QString &serial : targets) {
        if (outcomes.contains(serial))
            continue;
        const Validator *validator = m_fleet.find(serial);
        Outcome &outcome = outcomes[serial];
        if (validator && validator->link == Validator::Flag::No) {
            outcome = {QStringLiteral("unreachable"), QStringLiteral("(not sent)"), true, {}};
        } else if (writesBefore.value(serial, 0) < 0) {
            outcome = {QStringLiteral("refused"), key + QStringLiteral(": no such secret setting (not sent)"), true, {}};
        } else if (validator && validator->app == Validator::Flag::No) {
            outcome = {QStringLiteral("application down"), QStringLiteral("(not sent)"), true, {}};
        } else {
            // The read-back request follows the change on the same path, so its answer shows
            // the change once applied, even when the value was already in force.
            for (const int depot : routes(serial)) {
                m_depots.at(size_t(depot))->request(serial, ConfigSet, request);
                m_depots.at(size_t(depot))->request(serial, ConfigGet, EmptyRequest);
            }
            ++open;
        }
    }

    const auto connection = connect(&m_fleet, &Fleet::updated, this, [&](const QString &serial, int depot, Fleet::Part part) {
        const auto it = outcomes.find(serial);
        if (part != Fleet::Part::Config || it == outcomes.end() || it->final)
            return;
        const Validator &validator = *m_fleet.find(Key(serial, depot));
        if (writesBefore.contains(serial)) {
            const int writes = secretWrites(validator, key);
            if (writes > writesBefore.value(serial)) {
                *it = {NotShown, key + QStringLiteral(": written %1 time(s) since the validator started").arg(writes),
                       true, {}};
                --open;
            } else if (it->verdict.isEmpty()) {
                *it = {QStringLiteral("refused"), key + QStringLiteral(" unchanged (not shown)"), false,
                       QDeadlineTimer(RefusalGraceMs)};
            }
            return;
        }
        const QJsonObject group = validator.config.value(parts.at(0)).toObject();
        if (!group.contains(parts.at(1))) {
            *it = {QStringLiteral("refused"), key + QStringLiteral(": no such setting"), true, {}};
            --open;
            return;
        }
        const QString reads = valueText(group.value(parts.at(1)));
        if (reads == wanted) {
            *it = {QStringLiteral("applied"), key + QStringLiteral(" = ") + shown(key, reads), true, {}};
            --open;
        } else if (it->verdict.isEmpty()) {
            *it = {QStringLiteral("refused"), key + QStringLiteral(" reads ") + shown(key, reads), false,
                   QDeadlineTimer(RefusalGraceMs)};
        } else {
            it->detail = key + QStringLiteral(" reads ") + shown(key, reads);
        }
    });
    const auto decided = [&] {
        for (auto it = outcomes.begin(); it != outcomes.end(); ++it) {
            if (!it->final && !it->verdict.isEmpty() && it->decideBy.hasExpired()) {
                it->final = true;
                --open;
            }
        }
        return open == 0;
    };
    waitUntil(decided, m_options.timeoutMs);
    disconnect(connection);

    bool allApplied = true;
    for (const QString &serial : targets) {
        Outcome outcome = outcomes.value(serial);
        if (outcome.verdict.isEmpty()) {
            const Validator *validator = m_fleet.find(serial);
            outcome = {QStringLiteral("no answer"),
                       QStringLiteral("within %1 s").arg(m_options.timeoutMs / 1000.0)
                               + (validator && validator->heard ? QString() : QStringLiteral(" (never seen by the depot)")),
                       true, {}};
        }
        allApplied = allApplied && outcome.verdict.startsWith(QLatin1String("applied"));
        m_out << serial.leftJustified(13) << ' ' << outcome.verdict.leftJustified(16) << ' ' << outcome.detail
              << Qt::endl;
    }
    return allApplied ? Success : TargetFailed;
}

int Console::get(const QString &what, const QStringList &ids)
{
    static const QHash<QString, QPair<QString, Fleet::Part>> requests = {
        {QStringLiteral("config"), {ConfigGet, Fleet::Part::Config}},
        {QStringLiteral("info"), {InfoGet, Fleet::Part::Info}},
        {QStringLiteral("status"), {StatusGet, Fleet::Part::Status}},
    };
    const auto request = requests.constFind(what);
    if (request == requests.constEnd()) {
        m_err << "get what? config, info or status, not " << what << Qt::endl;
        return Usage;
    }
    if (ids.isEmpty()) {
        m_err << "get needs --id SERIAL" << Qt::endl;
        return Usage;
    }
    if (!open())
        return NoDepot;

    QSet<QString> waiting(ids.cbegin(), ids.cend());
    QHash<QString, int> answeredBy;
    const auto connection = connect(&m_fleet, &Fleet::updated, this, [&](const QString &serial, int depot, Fleet::Part part) {
        if (part == request->second && waiting.remove(serial))
            answeredBy.insert(serial, depot);
    });
    for (const QString &serial : waiting) {
        for (const int depot : routes(serial))
            m_depots.at(size_t(depot))->request(serial, request->first, EmptyRequest);
    }
    waitUntil([&] { return waiting.isEmpty(); }, m_options.timeoutMs);
    disconnect(connection);

    QStringList sorted = ids;
    sorted.removeDuplicates();
    sorted.sort();
    for (const QString &serial : sorted) {
        if (sorted.size() > 1)
            m_out << '[' << serial << ']' << Qt::endl;
        if (waiting.contains(serial)) {
            m_err << serial << ": no answer within " << m_options.timeoutMs / 1000.0 << " s" << Qt::endl;
            continue;
        }
        const Validator &validator = *m_fleet.find(Key(serial, answeredBy.value(serial)));
        QStringList lines;
        if (what == QLatin1String("config")) {
            for (auto group = validator.config.constBegin(); group != validator.config.constEnd(); ++group) {
                if (group.key() == SecretWrites) {
                    // Only the counts come to the depot: the settings are there, their values not.
                    const QJsonObject secretKeys = group.value().toObject();
                    for (auto secret = secretKeys.constBegin(); secret != secretKeys.constEnd(); ++secret)
                        lines << secret.key() + QStringLiteral(" = ") + Masked;
                    continue;
                }
                const QJsonObject members = group.value().toObject();
                for (auto member = members.constBegin(); member != members.constEnd(); ++member) {
                    const QString key = printable(group.key() + QLatin1Char('/') + member.key(), MaxShownValue);
                    lines << key + QStringLiteral(" = ") + shown(key, valueText(member.value()));
                }
            }
        } else if (what == QLatin1String("info")) {
            lines << QStringLiteral("version = ") + validator.version;
        } else {
            lines << QStringLiteral("service = ") + (validator.app == Validator::Flag::Yes ? "true" : "false");
            if (validator.technician != Validator::Flag::Unknown)
                lines << QStringLiteral("technician = ") + (validator.technician == Validator::Flag::Yes ? "true" : "false");
        }
        lines.sort();
        for (const QString &line : lines)
            m_out << line << Qt::endl;
    }
    return waiting.isEmpty() ? Success : TargetFailed;
}

} // namespace fleet
