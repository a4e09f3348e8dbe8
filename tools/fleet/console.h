#pragma once

#include "depot.h"
#include "fleet.h"

#include <QHash>
#include <QJsonValue>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <functional>
#include <memory>
#include <vector>

namespace fleet {

struct Options
{
    // One depot broker per garage; the table merges them.
    QList<Depot::Settings> depots;
    QStringList expected; // the operator's list of validators, may be empty
    int timeoutMs = 5000; // for the depot's state and for every answer
    // Sends changes of the topics themselves ("mqtt/base", "topics/*"), which the bridges do not follow.
    bool force = false;
    // The client's last complaint, for the line that says the depot could not be reached.
    std::function<QString()> lastClientWarning;
};

// Exit status of every command. NoValidator: a depot that answers but knows no validator is
// a wrong depot, an ACL that hides "fleet/#" or lost retained state, never "all up".
enum Status { Success = 0, TargetFailed = 1, Usage = 2, NoDepot = 3, NoValidator = 4, CannotListen = 5 };

// One depot as the exporter reports it.
struct DepotState
{
    QString name;
    bool up = false;
};

// The commands of the depot console. Each one connects, takes the depot's retained state,
// asks the validators what it needs and prints the outcome; `status --watch` then stays.
class Console : public QObject
{
    Q_OBJECT

public:
    Console(const Options &options, QTextStream &out, QTextStream &err, QObject *parent = nullptr);

    int status(bool watch);
    int set(const QString &key, const QString &value, const QStringList &ids, bool all);
    int get(const QString &what, const QStringList &ids);
    // Keeps the table live without printing it, for the exporter: connects to every depot
    // and keeps trying those that are away.
    void follow();

    const Fleet &fleet() const { return m_fleet; }
    QList<DepotState> depots() const;

    // The value of a setting as the application takes it from "/config/set": a number or a
    // boolean where its built-in default is one, text otherwise (also for unknown keys).
    static QJsonValue typedValue(const QString &key, const QString &text);
    // Settings whose value is never shown: the broker password and the maintenance PIN.
    static bool isSecret(const QString &key);

private:
    struct Pending
    {
        bool status = false;
        bool info = false;
    };

    using Key = Fleet::Key;

    // Connects to every depot; false when none could be reached. Each one that could not is
    // named on stderr.
    bool open();
    // Asks for the application's status and version; those that stay silent are marked.
    void ask(const QList<Key> &keys);
    // Validators that should answer, on one depot or (-1) on all.
    QList<Key> reachable(int depot = -1) const;
    // The depots to send a request for this serial number through: those that know it, or
    // every depot that is up when none does.
    QList<int> routes(const QString &serial) const;
    QString time() const;
    void watchLine(const Key &key);
    void onUpdated(const QString &serial, int depot, Fleet::Part part);
    void startWatching(bool print);

    Options m_options;
    QTextStream &m_out;
    QTextStream &m_err;
    Fleet m_fleet;
    std::vector<std::unique_ptr<Depot>> m_depots;
    QStringList m_names; // host:port of each depot
    QHash<Key, Pending> m_pending;
    QHash<Key, QString> m_shown; // the row last printed in watch mode
    bool m_watching = false;
    bool m_printing = false;
};

} // namespace fleet
