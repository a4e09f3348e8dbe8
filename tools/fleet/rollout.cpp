#include "rollout.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QTimer>

// The device service's software update below "fleet/<serial>/", as the bridge shares it:
//   "orvo/device/status"                    retained; "update" / "software": the current version,
//                                           or an object with "current" and "pending"
//   "orvo/device/update/software/status"    retained {"current", "pending"}, and "error" after an
//                                           install that failed
//   "orvo/device/update/software/progress"  {"message", "progress", "version"}; a message with
//                                           "/" is a download step ("progess", the old spelling, too)
// Sent, with empty payloads as the Update page sends them: "orvo/device/status/get",
// "orvo/device/software/check" and "orvo/device/update/software/install".

namespace fleet {

namespace {

// How often a waiting roll-out looks again at what has come in.
// A depot away for longer than this ends the roll-out with what is known of each validator.
constexpr int DepotOutageMs = 10 * 60 * 1000;
// A status is a few hundred bytes; anything far beyond is not the device service's.
constexpr int MaxPayload = 64 * 1024;
// The same bound as the table of the fleet: a flood of invented serial numbers stops here.
constexpr int MaxUnits = 100000;
// A version or reason from a validator is shown cut short.
constexpr int MaxShownText = 40;

const QString DeviceStatus = QStringLiteral("orvo/device/status");
const QString UpdateStatus = QStringLiteral("orvo/device/update/software/status");
const QString Progress = QStringLiteral("orvo/device/update/software/progress");
const QString ProgressOldSpelling = QStringLiteral("orvo/device/update/software/progess");
const QString StatusGet = QStringLiteral("orvo/device/status/get");
const QString CheckRequest = QStringLiteral("orvo/device/software/check");
const QString InstallRequest = QStringLiteral("orvo/device/update/software/install");

QStringList deviceTopics()
{
    QStringList topics;
    for (const QString &suffix : {DeviceStatus, UpdateStatus, Progress, ProgressOldSpelling})
        topics << Fleet::topic(QStringLiteral("+"), suffix);
    return topics;
}

// Text from a validator fit for one cell of a terminal line.
QString shown(const QString &text)
{
    QString cell = text.left(MaxShownText * 2);
    for (QChar &c : cell) {
        if (!c.isPrint())
            c = QLatin1Char('?');
    }
    return cell.size() > MaxShownText ? cell.left(MaxShownText) + QStringLiteral("...") : cell;
}

QString now()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss"));
}

} // namespace

Rollout::Rollout(const Options &options, QTextStream &out, QTextStream &err, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_out(out)
    , m_err(err)
    , m_depot(options.depots.value(0), Fleet::topics() + deviceTopics())
{
    connect(&m_depot, &Depot::message, this, &Rollout::onMessage);
    connect(&m_fleet, &Fleet::skipped, this, [this](const QString &line) { m_err << line << Qt::endl; });
}

bool Rollout::parseWave(const QString &text, int *count, int *percent)
{
    bool ok = false;
    if (text.endsWith(QLatin1Char('%'))) {
        const int value = text.chopped(1).toInt(&ok);
        if (!ok || value < 1 || value > 100)
            return false;
        *count = 0;
        *percent = value;
        return true;
    }
    const int value = text.toInt(&ok);
    if (!ok || value < 1)
        return false;
    *count = value;
    *percent = 0;
    return true;
}

int Rollout::waveSize(int total, int count, int percent)
{
    if (count > 0)
        return count;
    return qMax(1, (total * percent + 99) / 100);
}

bool Rollout::open()
{
    m_depot.start();
    if (waitUntil([this] { return m_depot.isSynced(); }, m_options.timeoutMs)) {
        connect(&m_depot, &Depot::lost, this, &Rollout::onLost);
        connect(&m_depot, &Depot::synced, this, &Rollout::onSynced);
        return true;
    }
    const QString warning = m_options.lastClientWarning ? m_options.lastClientWarning() : QString();
    m_err << "cannot reach the depot broker " << m_options.depots.value(0).host << ':' << m_options.depots.value(0).port << " within "
          << m_options.timeoutMs / 1000.0 << " s" << (warning.isEmpty() ? QString() : QStringLiteral(": ") + warning)
          << Qt::endl;
    return false;
}

void Rollout::onMessage(const QByteArray &topicName, const QByteArray &payload, bool live)
{
    const QString topic = QString::fromUtf8(topicName);
    const QString serial = topic.section(QLatin1Char('/'), 1, 1);
    const QString suffix = topic.section(QLatin1Char('/'), 2);
    const bool device = suffix == DeviceStatus || suffix == UpdateStatus || suffix == Progress
            || suffix == ProgressOldSpelling;
    if (!device || !topic.startsWith(QLatin1String("fleet/")) || !Fleet::isSerial(serial)) {
        m_fleet.handle(topicName, payload, live);
        if (suffix == QLatin1String("bridge") && (payload == "1" || payload == "0") && Fleet::isSerial(serial)
            && (m_units.contains(serial) || m_units.size() < MaxUnits))
            onBridgeFlag(unit(serial), payload == "1");
        return;
    }
    // The serial number and the suffix are checked: the topic is safe to show.
    if (payload.size() > MaxPayload) {
        m_err << "skipped " << topic << ": " << payload.size() << " bytes, too large" << Qt::endl;
        return;
    }
    QJsonObject object;
    if (!payload.isEmpty()) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) {
            m_err << "skipped " << topic << ": not a JSON object" << Qt::endl;
            return;
        }
        object = document.object();
    }
    if (!m_units.contains(serial) && m_units.size() >= MaxUnits)
        return;
    onDeviceMessage(unit(serial), suffix, object);
}

Rollout::Unit &Rollout::unit(const QString &serial)
{
    Unit &unit = m_units[serial];
    unit.serial = serial;
    return unit;
}

void Rollout::onBridgeFlag(Unit &unit, bool connected)
{
    const bool back = connected && !unit.linked;
    unit.linked = connected;
    if (!back || !m_active.contains(unit.serial) || isFinal(unit.phase))
        return;
    unit.silentBy = QDeadlineTimer(m_options.timeoutMs);
    // A check may have gone while the bridge was away; asking again does no harm. An install
    // is never asked for again: its outcome shows in the status the bridge brings.
    if (unit.phase == Phase::Checking) {
        unit.reported = false;
        unit.progress.clear();
        m_depot.request(unit.serial, CheckRequest, QByteArray());
    } else if (unit.phase == Phase::Installing) {
        m_depot.request(unit.serial, StatusGet, QByteArray());
    }
}

void Rollout::onDeviceMessage(Unit &unit, const QString &suffix, const QJsonObject &object)
{
    unit.heard = true;
    unit.silentBy = QDeadlineTimer(m_options.timeoutMs);
    // What a bridge resends as it comes back is the state, not the answer to a check.
    const bool answer = unit.linked || unit.phase != Phase::Checking;
    if (suffix == DeviceStatus) {
        const QJsonValue software = object.value(QLatin1String("update")).toObject().value(QLatin1String("software"));
        if (software.isString()) {
            unit.current = software.toString();
        } else if (software.isObject()) {
            unit.current = software.toObject().value(QLatin1String("current")).toString();
            unit.pending = software.toObject().value(QLatin1String("pending")).toString();
        }
        unit.reported = unit.reported || answer;
    } else if (suffix == UpdateStatus) {
        unit.current = object.value(QLatin1String("current")).toString();
        unit.pending = object.value(QLatin1String("pending")).toString();
        unit.error = object.value(QLatin1String("error")).toString();
        unit.reported = unit.reported || answer;
    } else {
        unit.progress = object.value(QLatin1String("message")).toString();
        unit.percent = qBound(0, object.value(QLatin1String("progress")).toInt(), 100);
    }
    advance(unit);
}

void Rollout::onLost()
{
    m_lost = true;
    m_out << now() << " depot connection lost: the roll-out waits for it; no install is sent twice" << Qt::endl;
    for (Unit &unit : m_units) {
        unit.linked = false;
        if (m_active.contains(unit.serial) && !isFinal(unit.phase) && unit.installSent)
            unit.acrossOutage = true;
    }
}

void Rollout::onSynced()
{
    m_lost = false;
    m_out << now() << " depot connection back: waiting for the bridges of the wave" << Qt::endl;
    // Each validator is asked again once its bridge shows it is back (onBridgeFlag).
    for (const QString &serial : qAsConst(m_active)) {
        Unit &unit = m_units[serial];
        if (!isFinal(unit.phase))
            unit.silentBy = QDeadlineTimer(m_options.timeoutMs);
    }
}

bool Rollout::isFinal(Phase phase)
{
    return phase != Phase::Idle && phase != Phase::Checking && phase != Phase::Installing;
}

void Rollout::finish(Unit &unit, Phase phase, const QString &detail)
{
    unit.phase = phase;
    unit.detail = detail;
}

void Rollout::start(Unit &unit)
{
    const Validator *validator = m_fleet.find(unit.serial);
    if (validator && validator->link == Validator::Flag::No) {
        finish(unit, Phase::NoAnswer, QStringLiteral("its bridge is down (nothing sent)"));
        return;
    }
    // After a depot outage, a wave waits for each bridge to be back before it asks.
    if (!unit.linked)
        return;
    if (m_action == Action::Install) {
        if (!m_version.isEmpty() && unit.current == m_version) {
            finish(unit, Phase::Current, QStringLiteral("at ") + shown(unit.current) + QStringLiteral(" already"));
            return;
        }
        if (!unit.pending.isEmpty() && (m_version.isEmpty() || unit.pending == m_version)) {
            sendInstall(unit);
            return;
        }
    }
    // The Update page's check: the service fetches its index and reports what is pending.
    unit.phase = Phase::Checking;
    unit.reported = false;
    unit.progress.clear();
    m_depot.request(unit.serial, CheckRequest, QByteArray());
}

void Rollout::sendInstall(Unit &unit)
{
    const Validator *validator = m_fleet.find(unit.serial);
    if (validator && validator->technician == Validator::Flag::Yes) {
        finish(unit, Phase::Refused, QStringLiteral("a technician is logged in on %1: install not sent").arg(unit.serial));
        return;
    }
    unit.target = m_version.isEmpty() ? unit.pending : m_version;
    unit.phase = Phase::Installing;
    unit.installSent = true;
    unit.reported = false;
    unit.progress.clear();
    unit.silentBy = QDeadlineTimer(m_options.timeoutMs);
    m_depot.request(unit.serial, InstallRequest, QByteArray());
}

void Rollout::advance(Unit &unit)
{
    if (!m_active.contains(unit.serial) || isFinal(unit.phase) || unit.phase == Phase::Idle)
        return;
    if (unit.phase == Phase::Checking) {
        // The index is still coming in; a status meanwhile (an answer to our "get") is no verdict.
        if (!unit.reported || (!unit.progress.isEmpty() && unit.percent < 100))
            return;
        if (m_action == Action::Check) {
            if (unit.pending.isEmpty())
                finish(unit, Phase::Current, QStringLiteral("at ") + shown(unit.current) + QStringLiteral(", nothing newer"));
            else
                finish(unit, Phase::Pending, QStringLiteral("at ") + shown(unit.current));
        } else if (unit.pending.isEmpty()) {
            finish(unit, Phase::Current, QStringLiteral("at ") + shown(unit.current) + QStringLiteral(", nothing to install"));
        } else if (!m_version.isEmpty() && unit.pending != m_version) {
            finish(unit, Phase::Failed, QStringLiteral("the update server offers %1, not %2").arg(shown(unit.pending), m_version));
        } else {
            sendInstall(unit);
        }
        return;
    }
    // Installing: done once the service reports the version, failed once it reports an error.
    if (!unit.reported)
        return;
    if (unit.current == unit.target)
        finish(unit, Phase::Done, QString());
    else if (!unit.error.isEmpty())
        finish(unit, Phase::Failed, shown(unit.error));
}

QString Rollout::result(const Unit &unit) const
{
    switch (unit.phase) {
    case Phase::Current:
        return QStringLiteral("current");
    case Phase::Pending:
        return QStringLiteral("pending ") + shown(unit.pending);
    case Phase::Done:
        return QStringLiteral("done at ") + shown(unit.target);
    case Phase::Failed:
        return QStringLiteral("failed");
    case Phase::Refused:
        return QStringLiteral("refused");
    case Phase::NoAnswer:
        return QStringLiteral("no answer");
    case Phase::NotStarted:
        return QStringLiteral("not started");
    default:
        break;
    }
    // Under way: what the last report said.
    if (!unit.progress.isEmpty() && unit.progress.contains(QLatin1Char('/')))
        return QStringLiteral("downloading %1%").arg(unit.percent);
    if (!unit.progress.isEmpty())
        return QStringLiteral("installing");
    return unit.pending.isEmpty() ? QStringLiteral("current") : QStringLiteral("pending ") + shown(unit.pending);
}

void Rollout::printTable(const QStringList &serials)
{
    m_out << QStringLiteral("SERIAL").leftJustified(13) << ' ' << QStringLiteral("RESULT").leftJustified(19) << ' '
          << "DETAIL" << Qt::endl;
    for (const QString &serial : serials) {
        const Unit &unit = m_units[serial];
        m_out << (serial.leftJustified(13) + QLatin1Char(' ') + result(unit).leftJustified(19) + QLatin1Char(' ')
                  + unit.detail)
                         .trimmed()
              << Qt::endl;
    }
}

int Rollout::run(const Plan &plan)
{
    m_action = plan.action;
    m_version = plan.version;
    if (!open())
        return NoDepot;

    QStringList targets = plan.ids;
    if (plan.all) {
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
    for (const QString &serial : qAsConst(targets))
        m_units[serial].serial = serial;

    // A check goes to all at once; an install in waves.
    const int size = plan.action == Action::Check ? targets.size()
                                                  : waveSize(targets.size(), plan.waveCount, plan.wavePercent);
    const int waves = (targets.size() + size - 1) / size;
    QElapsedTimer outage;
    for (int wave = 0; wave < waves; ++wave) {
        m_active = targets.mid(wave * size, size);
        if (waves > 1)
            m_out << now() << " wave " << wave + 1 << " of " << waves << ": " << m_active.join(' ') << Qt::endl;
        for (const QString &serial : qAsConst(m_active)) {
            m_units[serial].silentBy = QDeadlineTimer(m_options.timeoutMs);
            start(m_units[serial]);
        }
        waitUntil(
                [&] {
                    bool decided = true;
                    if (m_lost && !outage.isValid())
                        outage.start();
                    else if (!m_lost)
                        outage.invalidate();
                    for (const QString &serial : qAsConst(m_active)) {
                        Unit &unit = m_units[serial];
                        if (unit.phase == Phase::Idle && unit.linked && !m_lost)
                            start(unit);
                        if (isFinal(unit.phase))
                            continue;
                        const bool away = m_lost && outage.elapsed() > DepotOutageMs;
                        // Silence counts only while the depot is there to carry an answer.
                        if (away || (!m_lost && unit.silentBy.hasExpired())) {
                            const QString was = result(unit);
                            QString detail = away ? QStringLiteral("the depot has been away for %1 s").arg(DepotOutageMs / 1000)
                                    : !unit.linked ? QStringLiteral("its bridge not back within %1 s").arg(m_options.timeoutMs / 1000.0)
                                                   : QStringLiteral("nothing within %1 s").arg(m_options.timeoutMs / 1000.0);
                            if (unit.acrossOutage)
                                detail = QStringLiteral("unknown: the install was sent before the depot outage, not again; ")
                                        + detail;
                            finish(unit, Phase::NoAnswer, detail + QStringLiteral(" (last: ") + was + QLatin1Char(')'));
                        } else {
                            decided = false;
                        }
                    }
                    return decided;
                },
                -1);

        QStringList stoppers;
        for (const QString &serial : qAsConst(m_active)) {
            Unit &unit = m_units[serial];
            if (waves > 1)
                unit.detail = (QStringLiteral("wave %1").arg(wave + 1) + QStringLiteral("; ") + unit.detail).trimmed();
            if (unit.detail.endsWith(QLatin1Char(';')))
                unit.detail.chop(1);
            if (unit.phase != Phase::Done && unit.phase != Phase::Current && unit.phase != Phase::Pending)
                stoppers << serial + QLatin1Char(' ') + result(unit);
        }
        if (!stoppers.isEmpty() && wave + 1 < waves) {
            m_out << now() << " roll-out stopped after wave " << wave + 1 << " of " << waves << ": "
                  << stoppers.join(QStringLiteral(", ")) << Qt::endl;
            for (const QString &serial : targets.mid((wave + 1) * size)) {
                Unit &unit = m_units[serial];
                finish(unit, Phase::NotStarted,
                       QStringLiteral("the roll-out stopped")
                               + (unit.current.isEmpty() ? QString() : QStringLiteral("; at ") + shown(unit.current)));
            }
            break;
        }
    }
    m_active.clear();
    printTable(targets);

    for (const QString &serial : qAsConst(targets)) {
        const Phase phase = m_units[serial].phase;
        if (phase != Phase::Done && phase != Phase::Current && phase != Phase::Pending)
            return TargetFailed;
    }
    return Success;
}

} // namespace fleet
