#include "logcapture.h"

#include "app/config.h"
#include "controller/guimanager.h"
#include "maintenance/eventmanager.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>


namespace {

// A fixed "now" so that the 30-day and period boundaries can be checked to the millisecond.
const QDateTime Now(QDate(2024, 5, 15), QTime(12, 0));
const EventManager::Clock FixedClock = [] { return Now; };

struct Entry
{
    QString name;
    QDateTime timestamp;
};

void writeEvents(const QString &path, const QList<Entry> &entries)
{
    QSettings settings(path, QSettings::NativeFormat);
    settings.beginWriteArray(QStringLiteral("events"));
    for (int i = 0; i < entries.size(); ++i) {
        settings.setArrayIndex(i);
        settings.setValue(QStringLiteral("category"), QStringLiteral("General"));
        settings.setValue(QStringLiteral("name"), entries.at(i).name);
        settings.setValue(QStringLiteral("desc"), QString());
        settings.setValue(QStringLiteral("timestamp"), entries.at(i).timestamp);
    }
    settings.endArray();
}

QList<Entry> numbered(int count)
{
    QList<Entry> entries;
    for (int i = 0; i < count; ++i)
        entries.append({QStringLiteral("e%1").arg(i), Now.addSecs(-count + i)});
    return entries;
}

int entriesInFile(const QString &path)
{
    QSettings settings(path, QSettings::NativeFormat);
    return settings.beginReadArray(QStringLiteral("events"));
}

QStringList viewNames(const EventManager &log)
{
    QStringList names;
    const auto view = log.data().value<QList<QObject *>>();
    for (const QObject *event : view)
        names.append(event->property("name").toString());
    return names;
}

QStringList eventNames(const EventManager &log)
{
    QStringList names;
    for (const Event *event : log.events())
        names.append(event->name());
    return names;
}

void writeRaw(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

} // namespace

class TestEventLog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void pushBeyondLimitDropsOldestLater();
    void loadKeepsLastThousand();
    void retentionAtStart_data();
    void retentionAtStart();
    void namedPeriods_data();
    void namedPeriods();
    void nameFilterIgnoresCase_data();
    void nameFilterIgnoresCase();
    void entriesSurviveRestart();
    void sampleFileStillLoads();
    void clearOnEmptyLog();
    void clearAllEmptiesFile();
    void damagedFileLoadsWhatIsReadable_data();
    void damagedFileLoadsWhatIsReadable();
    void unwritableFileKeepsEntriesInMemory();
    void killDuringPushBurstLosesAtMostOne();
    void ownerlessLockDoesNotStallSaves();

private:
    QString path() const { return m_dir->filePath(QStringLiteral("events.ini")); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Config> m_config;
};

void TestEventLog::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Creating default config file")));
    m_config.reset(new Config(m_dir->filePath(QStringLiteral("gui.conf")), GUIManager::Defaults));
}

void TestEventLog::cleanup()
{
    m_config.reset();
    m_dir.reset();
}

// The 1002nd push drops the oldest: list and file hold 1001; the dropped entry lives until
// control returns to the event loop.
void TestEventLog::pushBeyondLimitDropsOldestLater()
{
    writeEvents(path(), numbered(1000));
    EventManager log(*m_config, path(), FixedClock);
    QPointer<Event> oldest = log.events().first();

    log.push(new Event(QStringLiteral("Board"), QStringLiteral("e1000"), QString(), Now));
    QCOMPARE(log.events().size(), 1001);
    QVERIFY(oldest);

    log.push(new Event(QStringLiteral("Board"), QStringLiteral("e1001"), QString(), Now));

    QCOMPARE(log.events().size(), 1001);
    QCOMPARE(log.events().first()->name(), QStringLiteral("e1"));
    QCOMPARE(log.events().last()->name(), QStringLiteral("e1001"));
    QCOMPARE(entriesInFile(path()), 1001);
    QVERIFY(oldest);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!oldest);
}

// Of 1500 saved entries the last 1000 are loaded, and the load line says so.
void TestEventLog::loadKeepsLastThousand()
{
    writeEvents(path(), numbered(1500));
    QTest::ignoreMessage(QtInfoMsg, "[EventManager] Loading saved events : from=500 to=1500");

    EventManager log(*m_config, path(), FixedClock);

    QCOMPARE(log.events().size(), 1000);
    QCOMPARE(log.events().first()->name(), QStringLiteral("e500"));
    QCOMPARE(log.events().last()->name(), QStringLiteral("e1499"));
}

// At start an entry exactly 30 days old goes (and the file follows); one a millisecond
// younger stays.
void TestEventLog::retentionAtStart_data()
{
    QTest::addColumn<qint64>("ageMs");
    QTest::addColumn<bool>("kept");

    const qint64 thirtyDays = Now.addDays(-30).msecsTo(Now);
    QTest::newRow("30 days") << thirtyDays << false;
    QTest::newRow("30 days less 1 ms") << thirtyDays - 1 << true;
    QTest::newRow("31 days") << thirtyDays + 86400000 << false;
    QTest::newRow("fresh") << qint64(0) << true;
}

void TestEventLog::retentionAtStart()
{
    QFETCH(qint64, ageMs);
    QFETCH(bool, kept);

    writeEvents(path(), {{QStringLiteral("old"), Now.addMSecs(-ageMs)},
                         {QStringLiteral("new"), Now.addSecs(10)}});
    QTest::ignoreMessage(QtInfoMsg, qPrintable(QStringLiteral(
        "[EventManager] Deleted %1 event(s) older than 2024-04-15 12:00:00").arg(kept ? 0 : 1)));

    EventManager log(*m_config, path(), FixedClock);

    const QStringList expected = kept ? QStringList{"old", "new"} : QStringList{"new"};
    QCOMPARE(eventNames(log), expected);
    QCOMPARE(entriesInFile(path()), expected.size());
}

// Each named period selects exactly its bounds ("Today" ends at 23:59:59.000); any other
// text shows the whole history. The view is newest first.
void TestEventLog::namedPeriods_data()
{
    QTest::addColumn<QString>("period");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("hour") << "Last hour" << QStringList{"hour in"};
    QTest::newRow("2 hours") << "Last 2 hours" << QStringList{"hour in", "hour out"};
    QTest::newRow("5 hours") << "Last 5 hours" << QStringList{"hour in", "hour out", "5 hours"};
    QTest::newRow("today")
        << "Today" << QStringList{"day end", "hour in", "hour out", "5 hours", "day start"};
    QTest::newRow("yesterday") << "Yesterday" << QStringList{"yesterday end"};
    QTest::newRow("week") << "Last week"
                          << QStringList{"hour in", "hour out", "5 hours", "day start",
                                         "yesterday late", "yesterday end", "week start"};
    QTest::newRow("month") << "Last month"
                           << QStringList{"hour in", "hour out", "5 hours", "day start",
                                          "yesterday late", "yesterday end", "week start",
                                          "before week", "month edge"};
    const QStringList all{"day last half", "day end", "hour in", "hour out", "5 hours",
                          "day start", "yesterday late", "yesterday end", "week start",
                          "before week", "month edge"};
    QTest::newRow("all history") << "All history" << all;
    QTest::newRow("other case") << "today" << all;
}

void TestEventLog::namedPeriods()
{
    QFETCH(QString, period);
    QFETCH(QStringList, expected);

    const QDate today = Now.date();
    const QDate yesterday = today.addDays(-1);
    // Written out of order: the view sorts by time, not by file position.
    writeEvents(path(), {
        {"day last half", QDateTime(today, QTime(23, 59, 59, 500))},
        {"hour in", Now.addSecs(-3600)},
        {"hour out", Now.addMSecs(-3600001)},
        {"5 hours", Now.addSecs(-18000)},
        {"day start", QDateTime(today, QTime(0, 0))},
        {"day end", QDateTime(today, QTime(23, 59, 59))},
        {"yesterday end", QDateTime(yesterday, QTime(23, 59, 59))},
        {"yesterday late", QDateTime(yesterday, QTime(23, 59, 59, 500))},
        {"week start", QDateTime(today.addDays(-7), QTime(0, 0))},
        {"before week", QDateTime(today.addDays(-7), QTime(0, 0)).addMSecs(-1)},
        {"month edge", Now.addDays(-30).addMSecs(1)},
    });
    EventManager log(*m_config, path(), FixedClock);
    QSignalSpy changed(&log, &EventManager::dataChanged);
    QTest::ignoreMessage(QtInfoMsg, qPrintable("[EventManager] Filtering (period) : " + period));

    log.applyFilterPeriod(period);

    QCOMPARE(changed.count(), 1);
    QCOMPARE(viewNames(log), expected);
}

// The name filter is a case-insensitive substring match; empty shows everything.
void TestEventLog::nameFilterIgnoresCase_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("login") << "login" << QStringList{"Maintenance login"};
    QTest::newRow("log") << "LOG" << QStringList{"Maintenance logout", "Maintenance login"};
    QTest::newRow("ignition") << "iGnItIoN" << QStringList{"Ignition on"};
    QTest::newRow("empty") << ""
                           << QStringList{"Maintenance logout", "Maintenance login",
                                          "Ignition on", "Application started"};
    QTest::newRow("none") << "reboot" << QStringList{};
}

void TestEventLog::nameFilterIgnoresCase()
{
    QFETCH(QString, filter);
    QFETCH(QStringList, expected);

    EventManager log(*m_config, path(), FixedClock);
    log.push(new Event("General", "Application started", QString(), Now.addSecs(-30)));
    log.push(new Event("Board", "Ignition on", QString(), Now.addSecs(-20)));
    log.push(new EventLogin(0, "ORVO", "Admin", Now.addSecs(-10)));
    log.push(new EventLogout(Now));
    QTest::ignoreMessage(QtInfoMsg, qPrintable("[EventManager] Filtering : name=" + filter));

    log.applyFilter(filter);

    QCOMPARE(viewNames(log), expected);
}

// After a restart every entry has the category, name, description and time it was saved with.
void TestEventLog::entriesSurviveRestart()
{
    const QDateTime loginTime(QDate(2024, 5, 14), QTime(8, 30, 15, 123));
    const QDateTime logoutTime(QDate(2024, 5, 14), QTime(8, 41, 2, 999));
    const QString odd = QStringLiteral("κλειδί = \"τιμή\"; a,b\\c [x] #1\n\tsecond line");
    {
        EventManager log(*m_config, path(), FixedClock);
        log.push(new Event("General", "Application started", QString(), Now.addDays(-2)));
        log.push(new EventLogin(0, "ORVO", "Admin", loginTime));
        log.push(new EventLogout(logoutTime));
        log.push(new Event("Board", odd, odd, Now));
    }
    // The time is stored typed, not as text that would lose its milliseconds.
    QFile file(path());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("timestamp=@DateTime("));

    EventManager log(*m_config, path(), FixedClock);
    const QList<Event *> events = log.events();
    QCOMPARE(events.size(), 4);
    QCOMPARE(events.at(0)->description(), QString());
    QCOMPARE(events.at(1)->category(), QStringLiteral("General"));
    QCOMPARE(events.at(1)->name(), QStringLiteral("Maintenance login"));
    QCOMPARE(events.at(1)->description(),
             QStringLiteral("User ID : 0\nFirst name : ORVO\nLast name : Admin\nDate : ")
                 + loginTime.toString(Qt::TextDate));
    QCOMPARE(events.at(1)->timestamp(), loginTime);
    QCOMPARE(events.at(1)->timestamp().time().msec(), 123);
    QCOMPARE(events.at(2)->name(), QStringLiteral("Maintenance logout"));
    QCOMPARE(events.at(2)->description(), "Date : " + logoutTime.toString(Qt::TextDate));
    QCOMPARE(events.at(2)->timestamp(), logoutTime);
    QCOMPARE(events.at(3)->category(), QStringLiteral("Board"));
    QCOMPARE(events.at(3)->name(), odd);
    QCOMPARE(events.at(3)->description(), odd);
    QCOMPARE(events.at(3)->timestamp(), Now);
    QCOMPARE(events.at(3)->timestamp().timeSpec(), Qt::LocalTime);
}

// A log written by an earlier build loads with every field.
void TestEventLog::sampleFileStillLoads()
{
    QVERIFY(QFile::copy(QStringLiteral(EVENTLOG_SAMPLE_DIR "/events.ini"), path()));
    QFile::setPermissions(path(), QFile::ReadOwner | QFile::WriteOwner);

    EventManager log(*m_config, path(), FixedClock);

    QCOMPARE(eventNames(log), QStringList({"Application started", "Maintenance login",
                                           "Maintenance logout", "Ignition off"}));
    const Event *login = log.events().at(1);
    QCOMPARE(login->description(),
             QStringLiteral("User ID : 0\nFirst name : ORVO\nLast name : Admin\n"
                            "Date : Fri May 10 09:15:30 2024"));
    QCOMPARE(login->timestamp(), QDateTime(QDate(2024, 5, 10), QTime(9, 15, 30, 250)));
    QCOMPARE(log.events().at(3)->category(), QStringLiteral("Board"));
}

// On an empty log clear() does nothing at all; clear(before) reports 0, writes nothing and
// still rebuilds the view.
void TestEventLog::clearOnEmptyLog()
{
    EventManager log(*m_config, path(), FixedClock);
    QSignalSpy changed(&log, &EventManager::dataChanged);

    log.clear();
    QCOMPARE(changed.count(), 0);

    QTest::ignoreMessage(QtInfoMsg, "[EventManager] Deleted 0 event(s) older than 2024-05-15 12:00:00");
    log.clear(Now);
    QCOMPARE(changed.count(), 1);
    QVERIFY(!QFile::exists(path()));
}

// clear() empties the list, the view and the file.
void TestEventLog::clearAllEmptiesFile()
{
    writeEvents(path(), numbered(5));
    EventManager log(*m_config, path(), FixedClock);
    QSignalSpy changed(&log, &EventManager::dataChanged);

    log.clear();

    QCOMPARE(changed.count(), 1);
    QVERIFY(viewNames(log).isEmpty());
    QCOMPARE(entriesInFile(path()), 0);
}

// A damaged file yields the entries that can be read (those without a readable time are
// dropped with the old ones at start; a file the store cannot parse at all is set aside) and is
// replaced by a sound one at the next push.
void TestEventLog::damagedFileLoadsWhatIsReadable_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("expected");

    const QByteArray t1 = "2024-05-15T10:00:00";
    const QByteArray t2 = "2024-05-15T11:00:00";
    auto element = [](int i, const QByteArray &name, const QByteArray &stamp) {
        QByteArray text = QByteArray::number(i) + "\\category=General\n"
                          + QByteArray::number(i) + "\\name=" + name + "\n";
        if (!stamp.isNull())
            text += QByteArray::number(i) + "\\timestamp=" + stamp + "\n";
        return text;
    };

    QByteArray garbage;
    quint32 seed = 12345;
    for (int i = 0; i < 4096; ++i) {
        seed = seed * 1103515245u + 12345u;
        garbage.append(char(seed >> 24));
    }
    QTest::newRow("binary garbage") << garbage << QStringList{};
    QTest::newRow("empty") << QByteArray() << QStringList{};
    QTest::newRow("other section") << QByteArray("[general]\nx=1\n") << QStringList{};
    QTest::newRow("size missing")
        << "[events]\n" + element(1, "a", t1) + element(2, "b", t2) << QStringList{"a", "b"};
    QTest::newRow("size too large")
        << "[events]\n" + element(1, "a", t1) + element(2, "b", t2) + "size=2000000000\n"
        << QStringList{"a", "b"};
    QTest::newRow("size negative")
        << "[events]\n" + element(1, "a", t1) + element(2, "b", t2) + "size=-5\n"
        << QStringList{"a", "b"};
    QTest::newRow("hole")
        << "[events]\n" + element(1, "a", t1) + element(3, "c", t2) + "size=3\n"
        << QStringList{"a", "c"};
    QTest::newRow("missing timestamp")
        << "[events]\n" + element(1, "a", t1) + element(2, "b", QByteArray())
               + element(3, "c", t2) + "size=3\n"
        << QStringList{"a", "c"};
    QTest::newRow("unreadable timestamp")
        << "[events]\n" + element(1, "a", "@Variant(\\0\\0\\0\\x10\\x1\\x2)")
               + element(2, "b", "not a time") + element(3, "c", "@DateTime(\\0\\x1)")
               + element(4, "d", t2) + "size=4\n"
        << QStringList{"d"};
    QTest::newRow("huge typed list")
        << "[events]\n" + element(1, "a", "@Variant(\\0\\0\\0\\t\\x7f\\xff\\xff\\xf0)")
               + element(2, "b", t2) + "size=2\n"
        << QStringList{};
    QTest::newRow("cut short")
        << QByteArray("[events]\n") + element(1, "a", t1) + element(2, "b", t2) + "3\\category=Gen"
        << QStringList{"a", "b"};
}

void TestEventLog::damagedFileLoadsWhatIsReadable()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, expected);
    writeRaw(path(), content);
    LogCapture quiet;

    {
        EventManager log(*m_config, path(), FixedClock);
        QCOMPARE(eventNames(log), expected);
        log.push(new Event("General", "after", QString(), Now));
    }

    EventManager reloaded(*m_config, path(), FixedClock);
    QCOMPARE(eventNames(reloaded), expected + QStringList{"after"});
}

// A file that cannot be written is reported; the entry is still shown until a restart.
void TestEventLog::unwritableFileKeepsEntriesInMemory()
{
    // A regular file where the folder should be: no user, root included, can write below it.
    writeRaw(m_dir->filePath(QStringLiteral("blocked")), "x");
    const QString blocked = m_dir->filePath(QStringLiteral("blocked/events.ini"));
    EventManager log(*m_config, blocked, FixedClock);
    QTest::ignoreMessage(QtWarningMsg,
                         qPrintable("[EventManager] WARN: Failed to save events to " + blocked));

    log.push(new Event("General", "Application started", QString(), Now));

    QCOMPARE(viewNames(log), QStringList{"Application started"});
}

// A writer killed in the middle of a burst of pushes leaves a file that loads, holding every
// push it reported and at most one more; the next run goes on writing.
void TestEventLog::killDuringPushBurstLosesAtMostOne()
{
    const QString config = m_dir->filePath(QStringLiteral("pusher.conf"));
    int saved = 0;
    // Different kill points, so that some land in the middle of a rewrite.
    for (int pushes : {25, 61, 140, 7}) {
        QProcess pusher;
        pusher.setProcessChannelMode(QProcess::SeparateChannels);
        pusher.start(QStringLiteral(EVENTPUSHER_PATH),
                     {path(), config, QString::number(saved)});
        QVERIFY(pusher.waitForStarted());
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += pusher.readAllStandardOutput()).count('\n') >= pushes,
                                 20000);
        pusher.kill();
        QVERIFY(pusher.waitForFinished());
        QCOMPARE(pusher.exitStatus(), QProcess::CrashExit);
        out += pusher.readAllStandardOutput();

        const QList<QByteArray> lines = out.split('\n');
        const int lastReported = lines.at(lines.size() - 2).toInt();

        EventManager log(*m_config, path());
        const QStringList names = eventNames(log);
        QVERIFY2(names.size() == lastReported + 1 || names.size() == lastReported + 2,
                 qPrintable(QStringLiteral("reported %1, file holds %2")
                                .arg(lastReported + 1).arg(names.size())));
        for (int i = 0; i < names.size(); ++i)
            QCOMPARE(names.at(i), QStringLiteral("burst %1").arg(i));
        QCOMPARE(log.events().last()->description(), QStringLiteral("line one\nline two"));
        saved = names.size();
    }

    LogCapture log;
    {
        EventManager events(*m_config, path());
        events.push(new Event("General", "after", QString(), QDateTime::currentDateTime()));
    }
    QVERIFY(!log.contains(QStringLiteral("WARN")));
    QCOMPARE(entriesInFile(path()), saved + 1);
}

// A lock left empty by a writer killed while taking it is cleared at start instead of holding
// up every save until it has aged.
void TestEventLog::ownerlessLockDoesNotStallSaves()
{
    writeEvents(path(), numbered(3));
    writeRaw(path() + QStringLiteral(".lock"), QByteArray());
    QElapsedTimer elapsed;
    elapsed.start();
    LogCapture log;

    {
        EventManager events(*m_config, path(), FixedClock);
        events.push(new Event("General", "after", QString(), Now));
    }

    QVERIFY(elapsed.elapsed() < 15000);
    QVERIFY(!log.contains(QStringLiteral("WARN")));
    QCOMPARE(entriesInFile(path()), 4);
}

QTEST_GUILESS_MAIN(TestEventLog)
#include "tst_eventlog.moc"
