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
constexpr int PollMs = 20;
// A configuration that does not (yet) show the new value may have been on its way before the
// change arrived; the verdict "refused" waits this long for a later one.
constexpr int RefusalGraceMs = 1500;

const QString Masked = QStringLiteral("********");

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
    return Console::isSecret(key) ? Masked : text;
}

} // namespace

Console::Console(const Options &options, QTextStream &out, QTextStream &err, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_out(out)
    , m_err(err)
    , m_depot(options.depot, Fleet::topics())
{
    m_fleet.expect(options.expected);
    connect(&m_depot, &Depot::message, &m_fleet, &Fleet::handle);
    connect(&m_fleet, &Fleet::skipped, this, [this](const QString &line) {
        m_err << (m_watching ? time() + QLatin1Char(' ') : QString()) << line << Qt::endl;
    });
    connect(&m_fleet, &Fleet::updated, this, [this](const QString &serial, Fleet::Part part) {
        const auto pending = m_pending.find(serial);
        if (pending != m_pending.end() && m_depot.isSynced()) {
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
        const Validator *validator = m_fleet.find(serial);
        if (part == Fleet::Part::Bridge && validator && validator->link == Validator::Flag::Yes && m_depot.isSynced())
            ask({serial});
        watchLine(serial);
    });
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

bool Console::waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(PollMs);
    connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
    tick.start();
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        loop.exec();
    }
    return true;
}

bool Console::open()
{
    m_depot.start();
    if (waitUntil([this] { return m_depot.isSynced(); }, m_options.timeoutMs))
        return true;
    const QString warning = m_options.lastClientWarning ? m_options.lastClientWarning() : QString();
    m_err << "cannot reach the depot broker " << m_options.depot.host << ':' << m_options.depot.port << " within "
          << m_options.timeoutMs / 1000.0 << " s" << (warning.isEmpty() ? QString() : QStringLiteral(": ") + warning)
          << Qt::endl;
    return false;
}

QStringList Console::reachable() const
{
    QStringList serials;
    for (const Validator &validator : m_fleet.validators()) {
        if (validator.heard && validator.link != Validator::Flag::No && validator.app != Validator::Flag::No)
            serials << validator.serial;
    }
    return serials;
}

void Console::ask(const QStringList &serials)
{
    for (const QString &serial : serials) {
        m_pending.insert(serial, Pending());
        m_depot.request(serial, StatusGet, EmptyRequest);
        m_depot.request(serial, InfoGet, EmptyRequest);
    }
    if (!m_watching)
        return;
    QTimer::singleShot(m_options.timeoutMs, this, [this, serials] {
        for (const QString &serial : serials) {
            if (m_pending.remove(serial)) {
                m_fleet.setSilent(serial, true);
                watchLine(serial);
            }
        }
    });
}

void Console::watchLine(const QString &serial)
{
    const Validator *validator = m_fleet.find(serial);
    if (!validator)
        return;
    // The time of the last message alone is no change worth a line.
    Validator quiet = *validator;
    quiet.lastSeen = QDateTime();
    const QString key = m_fleet.row(quiet);
    if (m_shown.value(serial) == key)
        return;
    m_shown.insert(serial, key);
    m_out << time() << ' ' << m_fleet.row(*validator) << Qt::endl;
}

int Console::status(bool watch)
{
    if (!open())
        return NoDepot;
    const QStringList asked = reachable();
    ask(asked);
    waitUntil([this] { return m_pending.isEmpty(); }, m_options.timeoutMs);
    for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it)
        m_fleet.setSilent(it.key(), true);
    m_pending.clear();

    bool allUp = true;
    m_out << m_fleet.header() << Qt::endl;
    for (const Validator &validator : m_fleet.validators()) {
        m_out << m_fleet.row(validator) << Qt::endl;
        allUp = allUp && m_fleet.state(validator) == QLatin1String("up");
    }
    if (!watch)
        return allUp ? Success : TargetFailed;

    // From here on, one line for each validator whose row changes.
    m_watching = true;
    for (const Validator &validator : m_fleet.validators()) {
        Validator quiet = validator;
        quiet.lastSeen = QDateTime();
        m_shown.insert(validator.serial, m_fleet.row(quiet));
    }
    connect(&m_depot, &Depot::lost, this, [this] { m_out << time() << " depot connection lost" << Qt::endl; });
    connect(&m_depot, &Depot::synced, this, [this] {
        m_out << time() << " depot connection back" << Qt::endl;
        ask(reachable());
    });
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
        return TargetFailed;
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
                m_depot.request(serial, ConfigGet, EmptyRequest);
            }
        }
        const auto read = connect(&m_fleet, &Fleet::updated, this, [&](const QString &serial, Fleet::Part part) {
            if (part == Fleet::Part::Config && asked.remove(serial))
                writesBefore.insert(serial, secretWrites(*m_fleet.find(serial), key));
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
            m_depot.request(serial, ConfigSet, request);
            m_depot.request(serial, ConfigGet, EmptyRequest);
            ++open;
        }
    }

    const auto connection = connect(&m_fleet, &Fleet::updated, this, [&](const QString &serial, Fleet::Part part) {
        const auto it = outcomes.find(serial);
        if (part != Fleet::Part::Config || it == outcomes.end() || it->final)
            return;
        const Validator &validator = *m_fleet.find(serial);
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
    const auto connection = connect(&m_fleet, &Fleet::updated, this, [&](const QString &serial, Fleet::Part part) {
        if (part == request->second)
            waiting.remove(serial);
    });
    for (const QString &serial : waiting)
        m_depot.request(serial, request->first, EmptyRequest);
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
        const Validator &validator = *m_fleet.find(serial);
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
                    const QString key = group.key() + QLatin1Char('/') + member.key();
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
