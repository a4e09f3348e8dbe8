#include "scenario.h"

#include "simulator.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTimer>

#include <unistd.h>

namespace simulator {

namespace {
// Each result screen shows for 3 s; a little more lets the idle page come back between steps.
constexpr int DemoStepMs = 4000;
// A passenger holds the card on the reader for a moment after the beep.
constexpr int CardHoldMs = 800;
// A maintenance barcode holds a few settings; anything larger is not one.
constexpr qint64 MaxBarcodeBytes = 64 * 1024;
// Command syntaxes are padded to this width in front of their description.
constexpr int UsageWidth = 26;

bool readNumber(const QStringList &args, int index, int fallback, int *number)
{
    if (args.size() <= index) {
        *number = fallback;
        return true;
    }
    bool ok = false;
    *number = args.at(index).toInt(&ok);
    return ok && *number >= 0;
}

// "0004", "#0004" and "4" all name reason code 4.
bool readReasonCode(const QString &text, int *code)
{
    QString digits = text;
    if (digits.startsWith(QLatin1Char('#')))
        digits.remove(0, 1);
    bool ok = false;
    *code = digits.toInt(&ok);
    return ok && !digits.isEmpty();
}
} // namespace

// --- Scenario --------------------------------------------------------------------------------

Scenario::Scenario(Simulator &simulator)
    : m_simulator(simulator)
{
}

QStringList Scenario::names()
{
    return {QStringLiteral("demo"), QStringLiteral("idle"), QStringLiteral("interactive")};
}

std::unique_ptr<Scenario> Scenario::create(const QString &name, Simulator &simulator)
{
    if (name == QLatin1String("demo"))
        return std::make_unique<DemoScenario>(simulator);
    if (name == QLatin1String("idle"))
        return std::make_unique<IdleScenario>(simulator);
    if (name == QLatin1String("interactive"))
        return std::make_unique<InteractiveScenario>(simulator);
    return nullptr;
}

void Scenario::validate(const ValidationResult &result)
{
    ValidationService &validation = m_simulator.validation();
    if (result.medium == Medium::Barcode) {
        validation.report(result);
        m_simulator.bus().say(QStringLiteral("ticket scanned: ") + result.summary);
        return;
    }
    const Card card = nextCard();
    validation.presentCard(card);
    validation.report(result);
    m_simulator.bus().later(CardHoldMs, this, [this, card] { m_simulator.validation().removeCard(card); });
    m_simulator.bus().say(QStringLiteral("card %1 presented: %2").arg(card.uid, result.summary));
}

void Scenario::retry()
{
    const Card card = nextCard();
    m_simulator.validation().presentCard(card);
    m_simulator.validation().askRetry();
    m_simulator.bus().say(QStringLiteral("card %1 read badly: present it again").arg(card.uid));
}

// --- Demo ------------------------------------------------------------------------------------

DemoScenario::DemoScenario(Simulator &simulator)
    : Scenario(simulator)
{
    ValidationService &validation = simulator.validation();
    BoardService &board = simulator.board();
    const auto valid = [this](int type) { return [this, type] { validate(validResult(type)); }; };
    const auto deny = [this](int reason) { return [this, reason] { validate(deniedResult(reason)); }; };
    m_steps = {
            [&validation] { validation.setOnline(); },
            valid(8),   // monthly pass
            valid(2),   // stored value
            valid(5),   // stored journeys
            valid(14),  // e-purse transfer
            valid(0),   // paper ticket
            deny(207),  // card already validated
            deny(103),  // ticket already validated
            deny(201),  // card expired
            deny(205),  // balance too low
            deny(100),  // ticket invalid
            deny(252),  // card blocked
            [this] { retry(); },
            [&validation] { validation.setDegraded(true, false); },
            [&validation] { validation.setOffline(4); },
            [&validation] { validation.setOutOfService(); },
            [&validation] { validation.setInitialising(); },
            [&validation] { validation.setOnline(); },
            [&board] { board.setIgnition(false); },
            [&board] { board.setIgnition(true); },
    };
}

void DemoScenario::start()
{
    m_simulator.bus().say(QStringLiteral("demo: %1 steps, %2 ms apart, repeated")
                                  .arg(m_steps.size())
                                  .arg(m_simulator.bus().scaled(DemoStepMs)));
    runStep();
}

void DemoScenario::runStep()
{
    m_steps.at(m_next)();
    m_next = (m_next + 1) % m_steps.size();
    m_simulator.bus().later(DemoStepMs, this, [this] { runStep(); });
}

// --- Idle ------------------------------------------------------------------------------------

void IdleScenario::start()
{
    m_simulator.bus().say(QStringLiteral("idle: services online, answering requests"));
}

// --- Interactive -----------------------------------------------------------------------------

InteractiveScenario::InteractiveScenario(Simulator &simulator)
    : Scenario(simulator)
{
    addCommand("valid", "valid [TYPE]", "valid result of product type TYPE (default 8; 0 is a paper ticket)",
               [this](const QStringList &args) {
                   int type = 0;
                   if (!readNumber(args, 0, 8, &type))
                       return false;
                   validate(validResult(type));
                   return true;
               });
    addCommand("deny", "deny [REASON]", "refused result (default 201; 103 and 207 are already validated)",
               [this](const QStringList &args) {
                   int reason = 0;
                   if (!readNumber(args, 0, 201, &reason))
                       return false;
                   validate(deniedResult(reason));
                   return true;
               });
    addCommand("retry", "retry", "card read badly: present it again", [this](const QStringList &) {
        retry();
        return true;
    });
    addCommand("card", "card", "a card presented and taken away, no result", [this](const QStringList &) {
        const Card card = nextCard();
        m_simulator.validation().presentCard(card);
        m_simulator.bus().later(CardHoldMs, this, [this, card] { m_simulator.validation().removeCard(card); });
        m_simulator.bus().say(QStringLiteral("card %1 presented").arg(card.uid));
        return true;
    });
    addCommand("status", "status STATUS",
               "online | degraded [obc|barcode|both] | offline CODE (2, 3, 4 or 7) | out-of-service | init",
               [this](const QStringList &args) { return setStatus(args); });
    addCommand("ignition", "ignition on|off", "the vehicle's ignition", [this](const QStringList &args) {
        if (args.size() != 1 || (args.at(0) != "on" && args.at(0) != "off"))
            return false;
        m_simulator.board().setIgnition(args.at(0) == "on");
        return true;
    });
    addCommand("update", "update offer V|fail [WHY]",
               "the update server offers version V; or the next install fails after its download",
               [this](const QStringList &args) {
                   if (args.size() == 2 && args.at(0) == "offer") {
                       m_simulator.device().offer(args.at(1));
                       return true;
                   }
                   if (!args.isEmpty() && args.at(0) == "fail") {
                       const QString reason = args.mid(1).join(' ');
                       m_simulator.device().failNextInstall(reason.isEmpty() ? QStringLiteral("package does not verify")
                                                                              : reason);
                       return true;
                   }
                   return false;
               });
    addCommand("maintenance-barcode", "maintenance-barcode FILE", "scan a maintenance barcode holding FILE's JSON",
               [this](const QStringList &args) { return args.size() == 1 && scanMaintenanceBarcode(args.at(0)); });
    addCommand("help", "help", "this list", [this](const QStringList &) {
        help();
        return true;
    });
    addCommand("quit", "quit", "stop the simulator", [this](const QStringList &) {
        m_simulator.bus().say(QStringLiteral("quitting"));
        QCoreApplication::quit();
        return true;
    });
}

void InteractiveScenario::addCommand(const QString &name, const QString &syntax, const QString &description,
                                     std::function<bool(const QStringList &)> run)
{
    m_commands.insert(name, {syntax.leftJustified(UsageWidth) + description, std::move(run)});
    m_order << name;
}

void InteractiveScenario::start()
{
    m_simulator.bus().say(QStringLiteral("interactive: one command per line; \"help\" lists them"));
    if (m_input)
        return;
    m_input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_input, &QSocketNotifier::activated, this, [this] { onInput(); });
}

void InteractiveScenario::onInput()
{
    char buffer[4096];
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count <= 0) {
        // The end of the input ends the session, as "quit" would.
        m_input->setEnabled(false);
        m_simulator.bus().say(QStringLiteral("end of input; quitting"));
        QCoreApplication::quit();
        return;
    }
    m_pending.append(buffer, int(count));
    int end = 0;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(m_pending.left(end));
        m_pending.remove(0, end + 1);
        execute(line);
    }
}

bool InteractiveScenario::execute(const QString &line)
{
    QStringList words = line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return true;
    const QString name = words.takeFirst();
    const auto command = m_commands.constFind(name);
    if (command == m_commands.constEnd()) {
        m_simulator.bus().say(QStringLiteral("unknown command \"%1\"; \"help\" lists them").arg(name));
        return false;
    }
    if (!command->run(words)) {
        m_simulator.bus().say(QStringLiteral("usage: ") + command->usage);
        return false;
    }
    return true;
}

bool InteractiveScenario::setStatus(const QStringList &args)
{
    ValidationService &validation = m_simulator.validation();
    const QString status = args.value(0);
    if (status == "online" && args.size() == 1) {
        validation.setOnline();
    } else if (status == "degraded" && args.size() <= 2) {
        const QString what = args.value(1, QStringLiteral("obc"));
        if (what != "obc" && what != "barcode" && what != "both")
            return false;
        validation.setDegraded(what != "barcode", what != "obc");
    } else if (status == "offline" && args.size() == 2) {
        int code = 0;
        return readReasonCode(args.at(1), &code) && validation.setOffline(code);
    } else if (status == "out-of-service" && args.size() == 1) {
        validation.setOutOfService();
    } else if (status == "init" && args.size() == 1) {
        validation.setInitialising();
    } else {
        return false;
    }
    return true;
}

bool InteractiveScenario::scanMaintenanceBarcode(const QString &fileName)
{
    QFile file(fileName);
    QString problem;
    QJsonObject content;
    if (!file.open(QIODevice::ReadOnly)) {
        problem = file.errorString();
    } else if (file.size() > MaxBarcodeBytes) {
        problem = QStringLiteral("larger than %1 bytes").arg(MaxBarcodeBytes);
    } else {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(file.read(MaxBarcodeBytes), &error);
        if (error.error != QJsonParseError::NoError)
            problem = error.errorString();
        else if (!document.isObject())
            problem = QStringLiteral("not a JSON object");
        content = document.object();
    }
    if (!problem.isEmpty()) {
        // Understood, but nothing to scan: the line says why.
        m_simulator.bus().say(QStringLiteral("maintenance barcode not scanned: %1: %2").arg(fileName, problem));
        return true;
    }
    m_simulator.validation().scanMaintenanceBarcode(content);
    m_simulator.bus().say(QStringLiteral("maintenance barcode scanned from ") + fileName);
    return true;
}

void InteractiveScenario::help()
{
    QStringList lines{QStringLiteral("commands:")};
    for (const QString &name : qAsConst(m_order))
        lines << QStringLiteral("  ") + m_commands.value(name).usage;
    m_simulator.bus().say(lines.join('\n'));
}

} // namespace simulator
