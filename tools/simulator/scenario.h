#pragma once

#include "samples.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace simulator {

class Simulator;

// What happens on the device once the services are up: passengers presenting cards and
// tickets, faults, the ignition. Each scenario starts when the simulator first connects.
class Scenario : public QObject
{
public:
    // The scenario of that name ("demo", "idle", "interactive"), or null for an unknown name.
    static std::unique_ptr<Scenario> create(const QString &name, Simulator &simulator);
    static QStringList names();

    virtual void start() = 0;

protected:
    explicit Scenario(Simulator &simulator);

    // A card presented and taken away again, or a ticket scanned, with its result.
    void validate(const ValidationResult &result);
    void retry();

    Simulator &m_simulator;
};

// Passes through every passenger screen in turn, a few seconds each, and starts over.
class DemoScenario : public Scenario
{
public:
    explicit DemoScenario(Simulator &simulator);
    void start() override;

private:
    void runStep();

    QVector<std::function<void()>> m_steps;
    int m_next = 0;
};

// The services only: online and answering requests.
class IdleScenario : public Scenario
{
public:
    explicit IdleScenario(Simulator &simulator)
        : Scenario(simulator)
    {
    }
    void start() override;
};

// One command per line on standard input; "help" lists them.
class InteractiveScenario : public Scenario
{
public:
    explicit InteractiveScenario(Simulator &simulator);
    void start() override;
    // Runs one command line; false when it was not understood.
    bool execute(const QString &line);

private:
    struct Command
    {
        QString usage;
        std::function<bool(const QStringList &)> run; // false on wrong arguments
    };
    void addCommand(const QString &name, const QString &syntax, const QString &description,
                    std::function<bool(const QStringList &)> run);
    void onInput();
    bool setStatus(const QStringList &args);
    bool scanMaintenanceBarcode(const QString &fileName);
    void help();

    QHash<QString, Command> m_commands;
    QStringList m_order;
    QSocketNotifier *m_input = nullptr;
    QByteArray m_pending;
};

} // namespace simulator
