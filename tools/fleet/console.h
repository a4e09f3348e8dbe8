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

namespace fleet {

struct Options
{
    Depot::Settings depot;
    QStringList expected; // the operator's list of validators, may be empty
    int timeoutMs = 5000; // for the depot's state and for every answer
    // The client's last complaint, for the line that says the depot could not be reached.
    std::function<QString()> lastClientWarning;
};

// Exit status of every command.
enum Status { Success = 0, TargetFailed = 1, Usage = 2, NoDepot = 3 };

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

    bool open();
    bool waitUntil(const std::function<bool()> &done, int timeoutMs);
    // Asks for the application's status and version; those that stay silent are marked.
    void ask(const QStringList &serials);
    QStringList reachable() const;
    QString time() const;
    void watchLine(const QString &serial);

    Options m_options;
    QTextStream &m_out;
    QTextStream &m_err;
    Fleet m_fleet;
    Depot m_depot;
    QHash<QString, Pending> m_pending;
    QHash<QString, QString> m_shown; // the row last printed in watch mode, by serial
    bool m_watching = false;
};

} // namespace fleet
