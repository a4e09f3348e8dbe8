#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

namespace fleet {

// What the depot knows of one validator, from the topics its bridge shares there.
struct Validator
{
    enum class Flag { Unknown, Yes, No };

    QString serial;
    bool expected = false;  // named in the operator's list of validators
    bool heard = false;     // any message at all, retained or live
    Flag link = Flag::Unknown;       // the bridge's own flag on the depot
    Flag app = Flag::Unknown;        // the application's status, or its will
    Flag technician = Flag::Unknown; // a maintenance session is open
    QString validation;              // as the application reads it: "online", "offline #0004"
    QString version;
    QJsonObject config;
    bool hasConfig = false;
    // The last live message; a validator known only from retained state has none.
    QDateTime lastSeen;
    // Asked for its state and silent until the time was up.
    bool silent = false;
};

// The fleet as the depot broker shows it below "fleet/<serial>/". Every message is checked
// before it is used: a malformed or hostile one is skipped with one line, never trusted.
class Fleet : public QObject
{
    Q_OBJECT

public:
    enum class Part { Bridge, Info, Status, Config, Validation };

    // The topics to subscribe to on the depot, one per part.
    static QStringList topics();
    // A serial number as the bridge set-up accepts it: one topic level, no wildcards.
    static bool isSerial(const QString &level);
    static QString topic(const QString &serial, const QString &suffix);

    explicit Fleet(QObject *parent = nullptr);

    // Serial numbers that must show even when the depot never heard of them.
    void expect(const QStringList &serials);
    // One message from the depot; `live` is false for the retained state that comes with
    // a subscription.
    void handle(const QByteArray &topic, const QByteArray &payload, bool live);
    void setSilent(const QString &serial, bool silent);

    const QMap<QString, Validator> &validators() const { return m_validators; }
    const Validator *find(const QString &serial) const;

    // One word or two for the table: "up", "application down", "never seen", ...
    QString state(const Validator &validator) const;
    QString header() const;
    QString row(const Validator &validator) const;

signals:
    void updated(const QString &serial, fleet::Fleet::Part part);
    void skipped(const QString &line);

private:
    void skip(const QByteArray &topic, const QString &reason);
    QString newestVersion() const;

    QMap<QString, Validator> m_validators;
};

// The validation service's status as the application itself turns it into a word and a
// reason code ("offline #0004").
QString validationStatus(const QJsonObject &status);

} // namespace fleet
