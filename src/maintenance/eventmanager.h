#pragma once

#include "maintenance/event.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QVariant>

#include <functional>

class Config;


// The validator's event log: a bounded list of entries kept in "events.ini" beside the
// executable, pruned of entries older than 30 days at start, and shown to the technician as a
// filtered, newest-first list.
class EventManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QVariant data READ data NOTIFY dataChanged)

public:
    // Source of the current local date-time; tests pin it to check boundaries to the millisecond.
    using Clock = std::function<QDateTime()>;

    // A push may leave one entry more than this in memory; a load keeps this many.
    static constexpr int MaxEvents = 1000;
    // Entries older than this are dropped at start, so the log covers about a month of service.
    static constexpr int RetentionDays = 30;

    // Keeps its entries in "events.ini" in the program's directory.
    explicit EventManager(Config &config, QObject *parent = nullptr);
    // Same, with the file and the clock given (an empty clock reads the system clock).
    EventManager(Config &config, const QString &fileName, Clock clock = Clock(),
                 QObject *parent = nullptr);

    QVariant data() const;
    QString fileName() const { return m_fileName; }
    // Every entry, oldest first.
    QList<Event *> events() const { return m_events; }

    // "events.ini" beside the executable, or the file named by TESSIVO_EVENTS_FILE.
    static QString defaultFileName();

public slots:
    void push(Event *event);
    void clear(const QDateTime &before);
    void clear();
    void applyFilter(const QString &name);
    void applyFilter(int severity);
    void applyFilter(const QDateTime &from, const QDateTime &to);
    void applyFilter(const QDateTime &from);
    void applyFilterPeriod(const QString &period);

signals:
    void dataChanged();

private:
    void update();
    void load();
    void save();
    void write();
    QDateTime now() const;

    Config &m_config;
    QString m_fileName;
    Clock m_clock;
    QList<Event *> m_events;
    QList<Event *> m_view;
    int m_severity = 0;
    QString m_nameFilter;
    QDateTime m_from;
    QDateTime m_to;
};

