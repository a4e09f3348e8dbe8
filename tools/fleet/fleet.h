#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVersionNumber>

namespace fleet {

// What the depot knows of one validator, from the topics its bridge shares there.
struct Validator
{
    enum class Flag { Unknown, Yes, No };

    QString serial;
    int depot = -1;         // which of the console's depots holds it; -1 for none yet
    bool expected = false;  // named in the operator's list of validators
    bool heard = false;     // any message at all, retained or live
    Flag link = Flag::Unknown;       // the bridge's own flag on the depot
    Flag app = Flag::Unknown;        // the application's status, or its will
    Flag technician = Flag::Unknown; // a maintenance session is open
    QString validation;              // as the application reads it: "online", "offline #0004"
    QString version;        // printable and cut short, as every text from a validator
    QVersionNumber versionNumber;
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
    // A validator as one depot holds it: the same serial number may show on two depots (a
    // vehicle moved to another garage), and each keeps its own state of it.
    using Key = QPair<QString, int>;

    // The topics to subscribe to on the depot, one per part.
    static QStringList topics();
    // A serial number as the bridge set-up accepts it: one topic level, no wildcards.
    static bool isSerial(const QString &level);
    static QString topic(const QString &serial, const QString &suffix);

    explicit Fleet(QObject *parent = nullptr);

    // Serial numbers that must show even when the depot never heard of them.
    void expect(const QStringList &serials);
    // The depots' names for the DEPOT column, which shows when there is more than one.
    void setDepots(const QStringList &names);
    // One message from depot number `depot`; `live` is false for the retained state that
    // comes with a subscription.
    void handle(const QByteArray &topic, const QByteArray &payload, bool live, int depot = 0);
    void setSilent(const Key &key, bool silent);

    // By serial number, then depot: the merged table's order.
    const QMap<Key, Validator> &validators() const { return m_validators; }
    // The first depot's record of the serial number (or its place holder while no depot
    // knows it); all of them.
    const Validator *find(const QString &serial) const;
    QList<const Validator *> findAll(const QString &serial) const;
    const Validator *find(const Key &key) const;
    static Key keyOf(const Validator &validator) { return {validator.serial, validator.depot}; }

    // The newest version any validator reports, kept up to date with each report rather
    // than looked for in every row.
    QVersionNumber newestVersion() const;
    QString newestVersionText() const { return m_newestText; }
    bool isBehind(const Validator &validator) const;

    // Messages taken and skipped since the start, for the exporter's own figures.
    quint64 handledCount() const { return m_handled; }
    quint64 skippedCount() const { return m_skipped; }

    // One word or two for the table: "up", "application down", "never seen", ...
    QString state(const Validator &validator) const;
    static QStringList states();
    QString header() const;
    QString row(const Validator &validator) const;
    // The row of a depot that could not be reached: no validator of it is known.
    QString depotRow(const QString &depot) const;
    QString depotName(int depot) const { return m_depots.value(depot, QStringLiteral("-")); }

signals:
    void updated(const QString &serial, int depot, fleet::Fleet::Part part);
    // The newest version changed: rows of other validators may now read "old version".
    void newestChanged();
    void skipped(const QString &line);

private:
    void skip(const QByteArray &topic, const QString &reason);
    void setVersion(Validator &validator, const QString &text);
    QString columns(QStringList cells) const;
    QString cachedValidationStatus(const QByteArray &payload, const QJsonObject &object);

    QMap<Key, Validator> m_validators;
    QStringList m_depots;
    // How many validators report each version; the last key is the newest.
    QMap<QVersionNumber, int> m_versions;
    QString m_newestText;
    QHash<QByteArray, QString> m_validationCache;
    quint64 m_handled = 0;
    quint64 m_skipped = 0;
};

// Text from a validator fit for one line of a terminal or a label: control characters
// (escape sequences included) replaced, cut to `maxLength` with "..." after it.
QString printable(const QString &text, int maxLength);

// The validation service's status as the application itself turns it into a word and a
// reason code ("offline #0004").
QString validationStatus(const QJsonObject &status);

} // namespace fleet
