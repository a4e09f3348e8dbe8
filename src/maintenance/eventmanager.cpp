#include "eventmanager.h"

#include "app/settingslock.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <new>

// The file is a settings array "events" (oldest first) with the keys "category", "name", "desc"
// and "timestamp" per element, the timestamp stored as a typed date-time. It is rewritten whole
// after every change; the settings store writes a temporary file and renames it over the old
// one, so a power cut during a write leaves either the old or the new log, never half of one.


namespace {
const char Tag[] = "[EventManager] ";
const QString ArrayName = QStringLiteral("events");
const QString CategoryKey = QStringLiteral("category");
const QString NameKey = QStringLiteral("name");
const QString DescKey = QStringLiteral("desc");
const QString TimestampKey = QStringLiteral("timestamp");

// Highest element number present in the array, whatever its "size" entry says: a file cut
// short loses "size" (it is written after the elements), and a damaged one may claim more.
int highestElement(QSettings &settings)
{
    int highest = 0;
    settings.beginGroup(ArrayName);
    const QStringList groups = settings.childGroups();
    settings.endGroup();
    for (const QString &group : groups) {
        bool ok = false;
        const int index = group.toInt(&ok);
        if (ok && index > highest)
            highest = index;
    }
    return highest;
}

} // namespace

EventManager::EventManager(Config &config, QObject *parent)
    : EventManager(config, defaultFileName(), Clock(), parent)
{
}

EventManager::EventManager(Config &config, const QString &fileName, Clock clock, QObject *parent)
    : QObject(parent)
    , m_config(config)
    , m_fileName(fileName)
    , m_clock(std::move(clock))
{
    qRegisterMetaType<Event *>("Event*");
    load();
    clear(now().addDays(-RetentionDays));
}

QString EventManager::defaultFileName()
{
    // An installed validator keeps its program read-only; its service names a writable place.
    const QString named = qEnvironmentVariable("TESSIVO_EVENTS_FILE");
    if (!named.isEmpty())
        return named;
    return QCoreApplication::applicationDirPath() + QStringLiteral("/events.ini");
}

QDateTime EventManager::now() const
{
    return m_clock ? m_clock() : QDateTime::currentDateTime();
}

QVariant EventManager::data() const
{
    QList<QObject *> list;
    list.reserve(m_view.size());
    for (Event *event : m_view)
        list.append(event);
    return QVariant::fromValue(list);
}

void EventManager::push(Event *event)
{
    // The same entry twice would be deleted twice when both copies are dropped.
    if (!event || m_events.contains(event))
        return;

    if (m_events.size() > MaxEvents) {
        Event *oldest = m_events.takeFirst();
        oldest->deleteLater();
    }
    // Owned from now on; a parent also keeps the scene from ever taking the entry over.
    event->setParent(this);
    m_events.append(event);
    save();
    update();
}

void EventManager::clear(const QDateTime &before)
{
    int count = 0;
    for (auto it = m_events.begin(); it != m_events.end();) {
        // An entry whose time could not be read counts as older than any bound.
        const QDateTime stamp = (*it)->timestamp();
        if (!stamp.isValid() || !(stamp > before)) {
            (*it)->deleteLater();
            it = m_events.erase(it);
            ++count;
        } else {
            ++it;
        }
    }
    qInfo().noquote().nospace() << Tag
        << QStringLiteral("Deleted %1 event(s) older than %2")
               .arg(count)
               .arg(before.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    if (count != 0)
        save();
    update();
}

void EventManager::clear()
{
    if (m_events.isEmpty())
        return;
    for (Event *event : qAsConst(m_events))
        event->deleteLater();
    m_events.clear();
    save();
    update();
}

void EventManager::applyFilter(const QString &name)
{
    qInfo().noquote().nospace() << Tag << "Filtering : name=" << name;
    m_nameFilter = name;
    update();
}

void EventManager::applyFilter(int severity)
{
    qInfo().noquote().nospace() << Tag << "Filtering : severity=" << severity;
    m_severity = severity;
    update();
}

void EventManager::applyFilter(const QDateTime &from, const QDateTime &to)
{
    qInfo().noquote().nospace() << Tag << "Filtering : from=" << from.toString(Qt::TextDate)
                                << " to=" << to.toString(Qt::TextDate);
    m_from = from;
    m_to = to;
    update();
}

void EventManager::applyFilter(const QDateTime &from)
{
    applyFilter(from, now());
}

void EventManager::applyFilterPeriod(const QString &period)
{
    qInfo().noquote().nospace() << Tag << "Filtering (period) : " << period;

    const QDateTime current = now();
    const QDate today = current.date();
    const QTime midnight(0, 0);
    const QTime lastSecond(23, 59, 59);
    QDateTime from;
    QDateTime to;

    if (period == QLatin1String("Last hour")) {
        from = current.addSecs(-3600);
        to = current;
    } else if (period == QLatin1String("Last 2 hours")) {
        from = current.addSecs(-7200);
        to = current;
    } else if (period == QLatin1String("Last 5 hours")) {
        from = current.addSecs(-18000);
        to = current;
    } else if (period == QLatin1String("Today")) {
        from = QDateTime(today, midnight);
        to = QDateTime(today, lastSecond);
    } else if (period == QLatin1String("Yesterday")) {
        from = QDateTime(today.addDays(-1), midnight);
        to = QDateTime(today.addDays(-1), lastSecond);
    } else if (period == QLatin1String("Last week")) {
        from = QDateTime(today.addDays(-7), midnight);
        to = current;
    } else if (period == QLatin1String("Last month")) {
        from = QDateTime(today.addMonths(-1), midnight);
        to = current;
    }
    applyFilter(from, to);
}

void EventManager::update()
{
    m_view.clear();
    for (Event *event : qAsConst(m_events)) {
        const QDateTime stamp = event->timestamp();
        if (m_from.isValid()) {
            // An entry without a readable time belongs to no period.
            if (!stamp.isValid() || stamp < m_from)
                continue;
            if (m_to.isValid() && stamp > m_to)
                continue;
        }
        if (!m_nameFilter.isEmpty() && !event->name().contains(m_nameFilter, Qt::CaseInsensitive))
            continue;
        m_view.append(event);
    }
    // Newest first; among equal times the later pushed comes first, and entries without a
    // readable time go to the end.
    std::reverse(m_view.begin(), m_view.end());
    std::stable_sort(m_view.begin(), m_view.end(), [](const Event *a, const Event *b) {
        const QDateTime ta = a->timestamp();
        const QDateTime tb = b->timestamp();
        if (ta.isValid() != tb.isValid())
            return ta.isValid();
        return ta > tb;
    });
    emit dataChanged();
}

void EventManager::load()
{
    removeOwnerlessSettingsLock(m_fileName);
    try {
        QSettings settings(m_fileName, QSettings::NativeFormat);
        const int highest = highestElement(settings);
        int n = settings.beginReadArray(ArrayName);
        if (n <= 0 || n > highest)
            n = highest;
        const int first = n < MaxEvents ? 0 : n - MaxEvents;
        qInfo().noquote().nospace() << Tag
            << QStringLiteral("Loading saved events : from=%1 to=%2").arg(first).arg(n);

        for (int i = first; i < n; ++i) {
            settings.setArrayIndex(i);
            // A hole in the numbering is no entry at all.
            if (!settings.contains(CategoryKey) && !settings.contains(NameKey)
                    && !settings.contains(DescKey) && !settings.contains(TimestampKey))
                continue;
            m_events.append(new Event(settings.value(CategoryKey).toString(),
                                      settings.value(NameKey).toString(),
                                      settings.value(DescKey).toString(),
                                      settings.value(TimestampKey).toDateTime(), this));
        }
        settings.endArray();
    } catch (const std::bad_alloc &) {
        // A damaged typed value can announce a container of billions of elements, and the
        // settings store parses a whole section at once. The log starts empty rather than
        // taking the validator down, and the file is kept aside for the technician: left in
        // place, it would fail the same way at every save.
        qDeleteAll(m_events);
        m_events.clear();
        const QString aside = m_fileName + QStringLiteral(".bad");
        QFile::remove(aside);
        QFile::rename(m_fileName, aside);
        qWarning().noquote().nospace() << Tag << "WARN: Unreadable events file moved to " << aside;
    }
}

void EventManager::save()
{
    try {
        write();
    } catch (const std::bad_alloc &) {
        qWarning().noquote().nospace() << Tag << "WARN: Failed to save events to " << m_fileName;
    }
}

void EventManager::write()
{
    QSettings settings(m_fileName, QSettings::NativeFormat);
    settings.clear();
    settings.beginWriteArray(ArrayName);
    for (int i = 0; i < m_events.size(); ++i) {
        const Event *event = m_events.at(i);
        settings.setArrayIndex(i);
        settings.setValue(CategoryKey, event->category());
        settings.setValue(NameKey, event->name());
        settings.setValue(DescKey, event->description());
        settings.setValue(TimestampKey, event->timestamp());
    }
    settings.endArray();
    settings.sync();
    // The entries stay in memory either way; the technician still sees them until a restart.
    // A format error of the old content is no write failure: the file was just replaced.
    if (settings.status() == QSettings::AccessError)
        qWarning().noquote().nospace() << Tag << "WARN: Failed to save events to " << m_fileName;
}

