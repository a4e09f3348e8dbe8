#include "logcapture.h"
#include "proxyrig.h"

#include "services/clock.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

using manager::Clock;

namespace {
const QString Base = QStringLiteral("orvo/device");
const QString Ntp = QStringLiteral("orvo/device/clock/ntp");
const QString Probe = QStringLiteral("orvo/device/clock/ntp/probe");

QString topic(const char *suffix)
{
    return Ntp + QLatin1String(suffix);
}

// Plays `timedatectl`: writes each call's arguments, one bracketed per argument, as a line
// of calls.log; "status" prints status.txt, "set-timezone" rewrites it with the new zone (or,
// with a file "refuse" beside it, fails as an unprivileged caller would); with a file "hang"
// beside it, it stops answering after its output.
const char FakeScript[] = R"(#!/bin/sh
dir=$(dirname "$0")
line=""
for a in "$@"; do line="$line[$a]"; done
printf '%s\n' "$line" >> "$dir/calls.log"
case "$1" in
  --no-pager) cat "$dir/zones.txt" ;;
  status) cat "$dir/status.txt" ;;
  set-timezone) [ -f "$dir/refuse" ] && { echo "Access denied" >&2; exit 1; }
    printf '                Time zone: %s (EET, +0200)\n' "$2" > "$dir/status.txt" ;;
esac
if [ -f "$dir/hang" ]; then exec sleep 30; fi
)";

const char AthensStatus[] = "               Local time: Tue 2026-12-08 14:00:00 EET\n"
                            "           Universal time: Tue 2026-12-08 12:00:00 UTC\n"
                            "                 RTC time: Tue 2026-12-08 12:00:00\n"
                            "                Time zone: Europe/Athens (EET, +0200)\n"
                            "System clock synchronized: yes\n";

class FakeTimedatectl
{
public:
    FakeTimedatectl()
    {
        QFile script(program());
        script.open(QIODevice::WriteOnly);
        script.write(FakeScript);
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        write("zones.txt", "Africa/Abidjan\nEurope/Athens\nEurope/Berlin\n");
        write("status.txt", AthensStatus);
    }
    QString program() const { return m_dir.filePath(QStringLiteral("timedatectl")); }
    void write(const char *name, const QByteArray &content) const
    {
        QFile file(m_dir.filePath(QLatin1String(name)));
        file.open(QIODevice::WriteOnly);
        file.write(content);
    }
    QStringList calls() const
    {
        QFile file(m_dir.filePath(QStringLiteral("calls.log")));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private:
    QTemporaryDir m_dir;
};
} // namespace

class TestClock : public ProxyTest
{
    Q_OBJECT

public:
    TestClock()
        : ProxyTest(Probe, Ntp + QStringLiteral("/#"))
    {
    }

private slots:
    void zoneListIsReadOnceAtConstruction();
    void zoneIsParsedFromStatus_data();
    void zoneIsParsedFromStatus();
    void zoneNameStaysOneArgument_data();
    void zoneNameStaysOneArgument();
    void sameZoneRunsNoSetCommand();
    void refusedZoneIsReportedAsFailure();
    void hungCommandIsEndedAtItsBound();
    void missingProgramGivesEmptyValues();
    void refreshesOnConnection();
    void reportsSignalOnlyChanges();
    void configWithoutServerEmptiesIt();
    void ntpSyncClearsSyncedFirst();
    void settersPublishOnlyChanges();
    void badPayloadsAreLoggedRaw_data();
    void badPayloadsAreLoggedRaw();

};

// The zone list comes from one call at construction, split at line breaks with the final
// empty entry kept; the zone from a status call after it. Both run in the background.
void TestClock::zoneListIsReadOnceAtConstruction()
{
    FakeTimedatectl fake;
    Clock clock(rig().client, Base, fake.program());
    QVERIFY(clock.isBusy());
    QSignalSpy listed(&clock, &Clock::timezonesChanged);
    QVERIFY(listed.wait());
    QCOMPARE(clock.timezones(), (QStringList{"Africa/Abidjan", "Europe/Athens", "Europe/Berlin", ""}));
    QTRY_COMPARE(clock.timezone(), QStringLiteral("Europe/Athens"));
    QCOMPARE(fake.calls(), (QStringList{"[--no-pager][list-timezones]", "[status]"}));
    clock.timezones();
    clock.timezone();
    QCOMPARE(fake.calls().size(), 2);
}

// The zone is the text between "Time zone:" plus one blank and the last blank before "(".
void TestClock::zoneIsParsedFromStatus_data()
{
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QString>("zone");
    QTest::newRow("full status") << QByteArray(AthensStatus) << "Europe/Athens";
    QTest::newRow("no zone line") << QByteArray("Local time: Tue\nNTP service: active\n") << "";
    QTest::newRow("empty output") << QByteArray() << "";
    QTest::newRow("no parenthesis") << QByteArray("Time zone: Europe/Athens\n") << "";
    QTest::newRow("blank in name") << QByteArray("Time zone: Etc/Some Zone (XYZ, +0100)\n") << "Etc/Some Zone";
    QTest::newRow("UTF-8") << QByteArray("Time zone: Ευρώπη/Αθήνα (EET, +0200)\n")
                           << QString::fromUtf8("Ευρώπη/Αθήνα");
    QTest::newRow("cut at zero byte") << QByteArray("x\0Time zone: Europe/Athens (EET, +0200)\n", 41) << "";
}

void TestClock::zoneIsParsedFromStatus()
{
    FakeTimedatectl fake;
    QFETCH(QByteArray, status);
    QFETCH(QString, zone);
    fake.write("status.txt", status);
    Clock clock(rig().client, Base, fake.program());
    QTRY_VERIFY(!clock.isBusy());
    QCOMPARE(clock.timezone(), zone);
    QCOMPARE(fake.calls().last(), QStringLiteral("[status]"));
}

// A new zone is set with one call whose zone argument is the name exactly as given, blanks
// and dashes included; the signal follows.
void TestClock::zoneNameStaysOneArgument_data()
{
    QTest::addColumn<QString>("zone");
    QTest::newRow("plain") << "Europe/Berlin";
    QTest::newRow("option inside") << "Europe/Athens --foo";
    QTest::newRow("shell characters") << "Europe/Athens; rm -rf x $(id) `id`";
    QTest::newRow("quotes") << "Europe/\"Athens' x";
}

void TestClock::zoneNameStaysOneArgument()
{
    FakeTimedatectl fake;
    QFETCH(QString, zone);
    Clock clock(rig().client, Base, fake.program());
    QTRY_VERIFY(!clock.isBusy());
    QSignalSpy changed(&clock, &Clock::timezoneChanged);
    clock.setTimezone(zone);
    QVERIFY(changed.wait());
    const QStringList calls = fake.calls();
    QCOMPARE(calls.mid(1), (QStringList{"[status]", "[set-timezone][" + zone + "]"}));
    QCOMPARE(clock.timezone(), zone);
}

// Setting the zone already in force runs no set command and signals nothing.
void TestClock::sameZoneRunsNoSetCommand()
{
    FakeTimedatectl fake;
    Clock clock(rig().client, Base, fake.program());
    QTRY_VERIFY(!clock.isBusy());
    QSignalSpy changed(&clock, &Clock::timezoneChanged);
    clock.setTimezone(QStringLiteral("Europe/Athens"));
    QVERIFY(!clock.isBusy());
    QCOMPARE(changed.count(), 0);
    QCOMPARE(fake.calls().mid(1), QStringList{QStringLiteral("[status]")});
}

// A zone the system refuses is reported as a failure, with one warning; the zone in force
// stays and no change is announced.
void TestClock::refusedZoneIsReportedAsFailure()
{
    FakeTimedatectl fake;
    fake.write("refuse", "");
    LogCapture log;
    Clock clock(rig().client, Base, fake.program());
    QTRY_VERIFY(!clock.isBusy());
    QSignalSpy changed(&clock, &Clock::timezoneChanged);
    QSignalSpy failed(&clock, &Clock::timezoneSetFailed);
    clock.setTimezone(QStringLiteral("Europe/Berlin"));
    QVERIFY(failed.wait());
    QCOMPARE(failed.first().at(0).toString(), QStringLiteral("Europe/Berlin"));
    QCOMPARE(changed.count(), 0);
    QCOMPARE(clock.timezone(), QStringLiteral("Europe/Athens"));
    QCOMPARE(log.count(QStringLiteral("WARN: Could not set time zone : Europe/Berlin (exit status 1)")), 1);
}

// A command that does not finish never holds up the caller; it is ended at its bound and
// what it wrote so far is used, and a set that did not finish counts as failed.
void TestClock::hungCommandIsEndedAtItsBound()
{
    FakeTimedatectl fake;
    fake.write("hang", "");
    Clock clock(rig().client, Base, fake.program());
    QVERIFY(clock.isBusy());
    QTRY_COMPARE_WITH_TIMEOUT(clock.timezone(), QStringLiteral("Europe/Athens"), 20000);

    QSignalSpy changed(&clock, &Clock::timezoneChanged);
    QSignalSpy failed(&clock, &Clock::timezoneSetFailed);
    clock.setTimezone(QStringLiteral("Europe/Berlin"));
    QVERIFY(clock.isBusy());
    QVERIFY(failed.wait(20000));
    QCOMPARE(changed.count(), 0);
}

// Without the program: a list with one empty entry, an empty zone, and a set reported failed.
void TestClock::missingProgramGivesEmptyValues()
{
    FakeTimedatectl fake;
    LogCapture log;
    Clock clock(rig().client, Base, fake.program() + QStringLiteral("-missing"));
    QTRY_VERIFY(!clock.isBusy());
    QCOMPARE(clock.timezones(), QStringList{QString()});
    QCOMPARE(clock.timezone(), QString());
    QSignalSpy changed(&clock, &Clock::timezoneChanged);
    QSignalSpy failed(&clock, &Clock::timezoneSetFailed);
    clock.setTimezone(QStringLiteral("Europe/Athens"));
    QVERIFY(failed.count() || failed.wait());
    QCOMPARE(changed.count(), 0);
    QCOMPARE(log.count(QStringLiteral("WARN: Could not set time zone : Europe/Athens (not started)")), 1);
}

// Every connection asks for the NTP status and configuration with empty payloads.
void TestClock::refreshesOnConnection()
{
    FakeTimedatectl fake;
    LogCapture log;
    Clock clock(rig().client, Base, fake.program());
    QVERIFY(connectOnly());
    QVERIFY(rig().service.waitFor(topic("/status/get")));
    QVERIFY(rig().service.waitFor(topic("/config/get")));
    QCOMPARE(rig().service.payloads(topic("/status/get")).first(), QByteArray());
    QCOMPARE(rig().service.payloads(topic("/config/get")).first(), QByteArray());
    QCOMPARE(log.count(QStringLiteral("Refreshing Clock status and config")), 1);
}

// Status and config reports set enabled, synced and server, each signalling only a change.
void TestClock::reportsSignalOnlyChanges()
{
    FakeTimedatectl fake;
    Clock clock(rig().client, Base, fake.program());
    QVERIFY(start());
    QSignalSpy enabled(&clock, &Clock::ntpEnabledChanged);
    QSignalSpy synced(&clock, &Clock::ntpSyncedChanged);
    QSignalSpy server(&clock, &Clock::ntpServerChanged);
    QVERIFY(rig().deliver(topic("/status"), QJsonObject{{"enabled", true}, {"synced", true}}));
    QVERIFY(rig().deliver(topic("/status"), QJsonObject{{"enabled", true}, {"synced", true}}));
    QVERIFY(rig().deliver(topic("/config"), QJsonObject{{"enabled", true}, {"server", "pool.ntp.example"}}));
    QVERIFY(clock.ntpEnabled());
    QVERIFY(clock.ntpSynced());
    QCOMPARE(clock.ntpServer(), QStringLiteral("pool.ntp.example"));
    QCOMPARE(enabled.count(), 1);
    QCOMPARE(synced.count(), 1);
    QCOMPARE(server.count(), 1);

    QVERIFY(rig().deliver(topic("/status"), QJsonObject{{"enabled", "yes"}}));
    QVERIFY(!clock.ntpEnabled());
    QVERIFY(!clock.ntpSynced());
    QCOMPARE(clock.ntpServer(), QStringLiteral("pool.ntp.example"));
}

// A config report without "server" empties it.
void TestClock::configWithoutServerEmptiesIt()
{
    FakeTimedatectl fake;
    Clock clock(rig().client, Base, fake.program());
    QVERIFY(start());
    QVERIFY(rig().deliver(topic("/config"), QJsonObject{{"server", "ntp.example"}}));
    QSignalSpy server(&clock, &Clock::ntpServerChanged);
    QVERIFY(rig().deliver(topic("/config"), QJsonObject{{"enabled", false}}));
    QCOMPARE(clock.ntpServer(), QString());
    QCOMPARE(server.count(), 1);
}

// A sync request clears "synced" and signals it, even when already clear, before it leaves;
// the service's later report sets it back.
void TestClock::ntpSyncClearsSyncedFirst()
{
    FakeTimedatectl fake;
    LogCapture log;
    Clock clock(rig().client, Base, fake.program());
    QVERIFY(start());
    QSignalSpy synced(&clock, &Clock::ntpSyncedChanged);
    clock.ntpSync();
    QCOMPARE(synced.count(), 1);
    QVERIFY(!clock.ntpSynced());
    QCOMPARE(log.count(QStringLiteral("Requesting NTP sync")), 1);
    QVERIFY(rig().service.waitFor(topic("/sync")));
    QCOMPARE(rig().service.payloads(topic("/sync")).first(), QByteArray());

    QVERIFY(rig().deliver(topic("/status"), QJsonObject{{"synced", true}}));
    QVERIFY(clock.ntpSynced());
    clock.ntpSync();
    QVERIFY(!clock.ntpSynced());
    QCOMPARE(synced.count(), 3);
}

// Each setter sends both members (the other one as last reported) and nothing when unchanged;
// the properties wait for the service's report.
void TestClock::settersPublishOnlyChanges()
{
    FakeTimedatectl fake;
    LogCapture log;
    Clock clock(rig().client, Base, fake.program());
    QVERIFY(start());
    QVERIFY(rig().deliver(topic("/config"), QJsonObject{{"enabled", true}, {"server", "a.example"}}));
    const QString set = topic("/config/set");

    clock.setNtpServer(QStringLiteral("a.example"));
    clock.setNtpEnabled(true);
    clock.setNtpServer(QStringLiteral("b.example"));
    QVERIFY(rig().service.waitFor(set));
    const QByteArray first = rig().service.payloads(set).first();
    QCOMPARE(parsed(first), (QJsonObject{{"enabled", true}, {"server", "b.example"}}));
    QCOMPARE(first, QJsonDocument(parsed(first)).toJson(QJsonDocument::Indented));
    QCOMPARE(log.count(QStringLiteral("Setting NTP server : b.example")), 1);
    QCOMPARE(clock.ntpServer(), QStringLiteral("a.example"));

    clock.setNtpEnabled(false);
    QVERIFY(rig().service.waitFor(set, 2));
    QCOMPARE(parsed(rig().service.payloads(set).last()), (QJsonObject{{"enabled", false}, {"server", "a.example"}}));
    QCOMPARE(log.count(QStringLiteral("Setting NTP : disabled")), 1);
    QCOMPARE(rig().service.count(set), 2);
    QVERIFY(clock.ntpEnabled());
}

// Non-JSON, a zero-byte payload included, is logged with the payload itself; nothing changes.
void TestClock::badPayloadsAreLoggedRaw_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QByteArray>("payload");
    for (const char *suffix : {"/status", "/config"}) {
        QTest::addRow("%s empty", suffix) << QString::fromLatin1(suffix) << QByteArray();
        QTest::addRow("%s text", suffix) << QString::fromLatin1(suffix) << QByteArray("not json");
        QTest::addRow("%s truncated", suffix) << QString::fromLatin1(suffix) << QByteArray("{\"synced\": fal");
        QTest::addRow("%s bare number", suffix) << QString::fromLatin1(suffix) << QByteArray("1");
    }
}

void TestClock::badPayloadsAreLoggedRaw()
{
    FakeTimedatectl fake;
    QFETCH(QString, suffix);
    QFETCH(QByteArray, payload);
    Clock clock(rig().client, Base, fake.program());
    QVERIFY(start());
    QVERIFY(rig().deliver(topic("/config"), QJsonObject{{"enabled", true}, {"server", "a.example"}}));
    QVERIFY(rig().deliver(topic("/status"), QJsonObject{{"enabled", true}, {"synced", true}}));
    QTest::ignoreMessage(QtCriticalMsg, qPrintable("Failed to parse JSON message: " + QString::fromUtf8(payload)));
    QVERIFY(rig().deliver(Ntp + suffix, payload));
    QVERIFY(clock.ntpEnabled() && clock.ntpSynced());
    QCOMPARE(clock.ntpServer(), QStringLiteral("a.example"));

    // Valid JSON of another shape reads as an object without members.
    QVERIFY(rig().deliver(Ntp + suffix, QByteArray("[1,2]")));
    QVERIFY(!clock.ntpEnabled());
}

QTEST_GUILESS_MAIN(TestClock)
#include "tst_clock.moc"
