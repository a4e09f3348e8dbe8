#pragma once

#include "console.h"
#include "depot.h"
#include "fleet.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <functional>

namespace fleet {

// A software roll-out from the depot. It sends each validator's device service the check and
// install requests that the Update page sends on board, through the bridge, follows the
// service's status and progress, and ends in one line per validator. An install over many
// validators goes in waves: the next starts only once every validator of the one before reports
// the new version, and a validator that fails, refuses or stays silent stops the roll-out. An
// install request is sent once per validator and run, whatever happens to the depot meanwhile.
class Rollout : public QObject
{
    Q_OBJECT

public:
    enum class Action { Check, Install };

    struct Plan
    {
        Action action = Action::Check;
        QStringList ids;
        bool all = false;
        QString version;      // the version to reach; empty: what each validator has pending
        int waveCount = 0;    // validators per wave; 0: wavePercent of them
        int wavePercent = 10;
    };

    Rollout(const Options &options, QTextStream &out, QTextStream &err, QObject *parent = nullptr);

    int run(const Plan &plan);

    // "N" validators or "N%" of them per wave; false for anything else.
    static bool parseWave(const QString &text, int *count, int *percent);
    // How many validators go in one wave of `total`, at least one.
    static int waveSize(int total, int count, int percent);

private:
    // Idle, Checking and Installing are under way; the others are verdicts.
    enum class Phase { Idle, Checking, Installing, Current, Pending, Done, Failed, Refused, NoAnswer, NotStarted };

    struct Unit
    {
        QString serial;
        // As the device service reports it.
        QString current;
        QString pending;
        QString error;
        QString progress; // the last progress message, empty before one
        int percent = 0;
        bool heard = false;
        bool reported = false; // a status came since the last request

        Phase phase = Phase::Idle;
        QString target; // the version the install is to reach
        QString detail;
        bool installSent = false;
        bool acrossOutage = false; // an install on its way when the depot went away
        // Its bridge is known to be connected to the depot as it is now: false from a loss of the
        // depot until the bridge's flag comes again. Until then a request may go nowhere, and a
        // status may be the one the bridge resends as it reconnects, not an answer.
        bool linked = true;
        QDeadlineTimer silentBy;
    };

    bool open();
    void onMessage(const QByteArray &topic, const QByteArray &payload, bool live);
    void onDeviceMessage(Unit &unit, const QString &suffix, const QJsonObject &object);
    void onBridgeFlag(Unit &unit, bool connected);
    Unit &unit(const QString &serial);
    void onLost();
    void onSynced();

    void start(Unit &unit);
    void sendInstall(Unit &unit);
    // Moves the unit on after a report or a tick; final phases stay.
    void advance(Unit &unit);
    void finish(Unit &unit, Phase phase, const QString &detail);
    static bool isFinal(Phase phase);
    QString result(const Unit &unit) const;
    void printTable(const QStringList &serials);

    Options m_options;
    QTextStream &m_out;
    QTextStream &m_err;
    Fleet m_fleet;
    Depot m_depot;
    Action m_action = Action::Check;
    QString m_version;
    QHash<QString, Unit> m_units;
    QStringList m_active; // the serial numbers of the wave under way
    bool m_lost = false;
};

} // namespace fleet
