#include "logcapture.h"

#include "app/config.h"
#include "controller/guimanager.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class TestConfig : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void firstStartWritesEveryDefault();
    void existingFileValuesWin();
    void getFollowsTheLayers();
    void setWritesAndAnnouncesOnlyRealChanges_data();
    void setWritesAndAnnouncesOnlyRealChanges();
    void setRemovesOverride();
    void outsideEditIsAnnounced();
    void unchangedRewriteIsSilent();
    void editorReplacementStaysWatched();
    void deletedAndRecreatedFileStaysWatched();
    void fromJsonAppliesKnownKeysAndKeepsOverrides();
    void fromJsonIgnoresWhatItCannotStore();
    void fromJsonNumbers_data();
    void fromJsonNumbers();
    void toJsonGroupsByKey();
    void printAlignsValuesAndHidesPassword();
    void fileIsOwnerOnly();
    void garbageFileFallsBackToDefaults();
    void unwritableFileIsReported();

private:
    QString path(const QString &name = QStringLiteral("gui.conf")) const { return m_dir->filePath(name); }
    static mode_t modeOf(const QString &fileName)
    {
        struct stat status = {};
        ::stat(QFile::encodeName(fileName).constData(), &status);
        return status.st_mode & 0777;
    }
    static void writeFile(const QString &fileName, const QByteArray &content)
    {
        QFile file(fileName);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }

    QScopedPointer<QTemporaryDir> m_dir;
};

void TestConfig::init()
{
    m_dir.reset(new QTemporaryDir);
}

// A missing file is created with all 26 defaults in the four groups, after one warning.
void TestConfig::firstStartWritesEveryDefault()
{
    QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("[Config] Creating default config file : ") + path()));
    Config config(path(), GUIManager::Defaults);
    QVERIFY(QFile::exists(path()));
    QSettings file(path(), QSettings::NativeFormat);
    QCOMPARE(file.allKeys().size(), 26);
    QCOMPARE(file.childGroups(), QStringList({"gui", "log", "mqtt", "topics"}));
    QCOMPARE(file.value("mqtt/port").toInt(), 1883);
    QCOMPARE(config.keys().size(), 26);
}

// Values in the file replace the defaults; keys unknown to the defaults are kept too.
void TestConfig::existingFileValuesWin()
{
    writeFile(path(), "[gui]\ndisplayOffMin=7\n[extra]\nkey=1\n");
    Config config(path(), GUIManager::Defaults);
    QCOMPARE(config.get("gui/displayOffMin").toInt(), 7);
    QCOMPARE(config.get("extra/key").toString(), QStringLiteral("1"));
    QCOMPARE(config.get("gui/locale").toString(), QStringLiteral("el_GR"));
    QVERIFY(!config.get("no/such").isValid());
}

// Overrides win over file and defaults; the override added last wins.
void TestConfig::getFollowsTheLayers()
{
    writeFile(path(), "[mqtt]\nport=1999\n");
    Config config(path(), GUIManager::Defaults);
    config.addOverrides({{"mqtt/port", 2000}});
    config.addOverrides({{"mqtt/port", 2001}});
    QCOMPARE(config.get("mqtt/port").toInt(), 2001);
    QCOMPARE(config.toJson().value("mqtt").toObject().value("port").toString(), QStringLiteral("1999"));
}

void TestConfig::setWritesAndAnnouncesOnlyRealChanges_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("changes");
    QTest::newRow("text true vs bool true") << "gui/showCursor" << QVariant(true) << false;
    QTest::newRow("text 3 vs int 3") << "gui/displayOffMin" << QVariant(3) << false;
    QTest::newRow("text 3 vs int 4") << "gui/displayOffMin" << QVariant(4) << true;
    QTest::newRow("new key") << "gui/newKey" << QVariant(QStringLiteral("x")) << true;
    QTest::newRow("false vs text true") << "gui/showCursor" << QVariant(false) << true;
}

// set() compares after converting to the stored type; only a real change signals and writes.
void TestConfig::setWritesAndAnnouncesOnlyRealChanges()
{
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QFETCH(bool, changes);
    writeFile(path(), "[gui]\nshowCursor=true\ndisplayOffMin=3\n");
    Config config(path(), GUIManager::Defaults);
    QSignalSpy changed(&config, &Config::configChanged);
    config.set(key, value);
    QCOMPARE(changed.count(), changes ? 1 : 0);
    if (changes) {
        QCOMPARE(changed.first().at(0).toMap(), QVariantMap({{key, value}}));
        QSettings file(path(), QSettings::NativeFormat);
        QCOMPARE(file.value(key).toString(), value.toString());
    }
}

// set() on an overridden key removes the override, so the new value is in force.
void TestConfig::setRemovesOverride()
{
    Config config(path(), GUIManager::Defaults);
    config.addOverrides({{"log/level", 3}});
    config.set("log/level", 1);
    QCOMPARE(config.get("log/level").toInt(), 1);
    // Setting the value the file already holds does nothing, not even drop the override.
    config.addOverrides({{"log/level", 4}});
    config.set("log/level", 1);
    QCOMPARE(config.get("log/level").toInt(), 4);
}

// An outside edit is announced: configFileChanged first, then the changed key as text.
void TestConfig::outsideEditIsAnnounced()
{
    Config config(path(), GUIManager::Defaults);
    QStringList order;
    QVariantMap changes;
    connect(&config, &Config::configFileChanged, this, [&] { order << "file"; });
    connect(&config, &Config::configChanged, this, [&](const QVariantMap &c) { order << "config"; changes = c; });

    QString text;
    {
        QFile file(path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        text = QString::fromUtf8(file.readAll());
    }
    text.replace(QStringLiteral("displayOffMin=3"), QStringLiteral("displayOffMin=5"));
    writeFile(path(), text.toUtf8());

    QTRY_COMPARE(order, QStringList({"file", "config"}));
    QCOMPARE(changes, QVariantMap({{"gui/displayOffMin", QStringLiteral("5")}}));
    QCOMPARE(config.get("gui/displayOffMin").toInt(), 5);
}

// Rewriting the file with the same values announces nothing; a later real edit still comes.
void TestConfig::unchangedRewriteIsSilent()
{
    Config config(path(), GUIManager::Defaults);
    QSignalSpy changed(&config, &Config::configChanged);
    QFile file(path());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray content = file.readAll();
    file.close();
    writeFile(path(), content);
    content.replace("locale=el_GR", "locale=en_IE");
    writeFile(path(), content);
    QTRY_VERIFY(changed.count() >= 1);
    for (const auto &args : changed)
        QCOMPARE(args.at(0).toMap(), QVariantMap({{"gui/locale", QStringLiteral("en_IE")}}));
}

// Editors write a new file and rename it over the old one; the watch must survive that, twice.
void TestConfig::editorReplacementStaysWatched()
{
    Config config(path(), GUIManager::Defaults);
    QSignalSpy changed(&config, &Config::configChanged);
    for (int minutes : {8, 9}) {
        const QString temp = path(QStringLiteral("gui.conf.swp"));
        writeFile(temp, QStringLiteral("[gui]\ndisplayOffMin=%1\n").arg(minutes).toUtf8());
        QVERIFY(::rename(qPrintable(temp), qPrintable(path())) == 0);
        QTRY_COMPARE(config.get("gui/displayOffMin").toInt(), minutes);
    }
    QCOMPARE(changed.count(), 2);
}

// A file deleted and written again a moment later is still followed.
void TestConfig::deletedAndRecreatedFileStaysWatched()
{
    Config config(path(), GUIManager::Defaults);
    QVERIFY(QFile::remove(path()));
    QTest::qWait(50); // let the watcher see the file gone before it reappears
    writeFile(path(), "[gui]\nlocale=en_IE\n");
    QTRY_COMPARE(config.get("gui/locale").toString(), QStringLiteral("en_IE"));
}

// Remote changes go to the file and are announced, while a command-line override stays in force.
void TestConfig::fromJsonAppliesKnownKeysAndKeepsOverrides()
{
    Config config(path(), GUIManager::Defaults);
    config.addOverrides({{"mqtt/port", 1999}});
    QSignalSpy changed(&config, &Config::configChanged);
    config.fromJson(QJsonObject{{"mqtt", QJsonObject{{"port", 1884}}}});
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.first().at(0).toMap().value("mqtt/port").toInt(), 1884);
    QCOMPARE(config.get("mqtt/port").toInt(), 1999);
    QSettings file(path(), QSettings::NativeFormat);
    QCOMPARE(file.value("mqtt/port").toString(), QStringLiteral("1884"));
    // Whole numbers stay integers when published again.
    QVERIFY(config.toJson().value("mqtt").toObject().value("port").isDouble());
}

// Unknown groups and names, non-object groups and values that are not settings change nothing.
void TestConfig::fromJsonIgnoresWhatItCannotStore()
{
    Config config(path(), GUIManager::Defaults);
    QSignalSpy changed(&config, &Config::configChanged);
    config.fromJson(QJsonObject{
        {"nosuch", QJsonObject{{"key", 1}}},
        {"gui", QJsonObject{{"nosuch", 1}, {"locale", QJsonValue::Null}, {"pin", QJsonArray{1}},
                            {"deviceId", QJsonObject{{"a", 1}}}}},
        {"mqtt", 5},
        {"log", QJsonArray{}},
    });
    QCOMPARE(changed.count(), 0);
    QCOMPARE(config.get("gui/locale").toString(), QStringLiteral("el_GR"));
    QCOMPARE(config.get("gui/deviceId").toString(), QStringLiteral("/etc/serialnumber"));
}

void TestConfig::fromJsonNumbers_data()
{
    QTest::addColumn<double>("number");
    QTest::addColumn<QString>("written");
    QTest::newRow("whole") << 5.0 << "5";
    QTest::newRow("negative") << -30.0 << "-30";
    QTest::newRow("int max") << 2147483647.0 << "2147483647";
    QTest::newRow("above int") << 2147483648.0 << "2147483648";
    QTest::newRow("fraction") << 7.25 << "7.25";
    QTest::newRow("huge") << 1e308 << "1e+308";
    QTest::newRow("huge negative") << -1e308 << "-1e+308";
}

// Whole numbers that fit an integer are stored as integers, so that they are written and
// published again as integers; any other number, however large, stays the number it was.
void TestConfig::fromJsonNumbers()
{
    QFETCH(double, number);
    QFETCH(QString, written);
    Config config(path(), GUIManager::Defaults);
    config.fromJson(QJsonObject{{"gui", QJsonObject{{"displayOffMin", number}}}});
    QCOMPARE(config.get("gui/displayOffMin").toDouble(), number);
    QSettings file(path(), QSettings::NativeFormat);
    QCOMPARE(file.value("gui/displayOffMin").toString(), written);
    const QJsonValue published = config.toJson().value("gui").toObject().value("displayOffMin");
    QCOMPARE(published.toDouble(), number);
}

// The JSON form nests by group; a key without a group (a [General] entry) stays a plain member.
void TestConfig::toJsonGroupsByKey()
{
    writeFile(path(), "[General]\nloose=value\n[gui]\nlocale=en_IE\n");
    Config config(path(), GUIManager::Defaults);
    const QJsonObject json = config.toJson();
    QCOMPARE(json.keys(), QStringList({"gui", "log", "loose", "mqtt", "topics"}));
    QCOMPARE(json.value("gui").toObject().value("locale").toString(), QStringLiteral("en_IE"));
    QCOMPARE(json.value("log").toObject().value("level").toInt(), 2);
    QCOMPARE(json.value("log").toObject().value("syslog").toBool(), true);
    QCOMPARE(json.value("loose").toString(), QStringLiteral("value"));
    QCOMPARE(json.value("gui").toObject().size(), 11);
    // A plain member coming back is not a setting: nothing changes.
    QSignalSpy changed(&config, &Config::configChanged);
    config.fromJson(QJsonObject{{"loose", "other"}});
    QCOMPARE(changed.count(), 0);
}

// The table lines up its " : " separators and never shows the broker password or the PIN.
void TestConfig::printAlignsValuesAndHidesPassword()
{
    Config config(path(), GUIManager::Defaults);
    config.addOverrides({{"mqtt/password", "hunter2"}, {"mqtt/host", "broker.local"}, {"gui/settingsPin", "7351"}});
    LogCapture log;
    config.print();
    const QStringList lines = log.texts();
    QCOMPARE(lines.size(), 26 + 4);
    const QString rule = QStringLiteral("[Config] ") + QString(60, '-');
    QCOMPARE(lines.at(0), rule);
    QCOMPARE(lines.at(1), QStringLiteral("[Config]  SETTINGS (") + path() + ")");
    QCOMPARE(lines.at(2), rule);
    QCOMPARE(lines.last(), rule);
    const int column = lines.at(3).indexOf(" : ");
    QVERIFY(column > 0);
    for (int i = 3; i < lines.size() - 1; ++i)
        QCOMPARE(lines.at(i).indexOf(" : "), column);
    QVERIFY(lines.contains(QStringLiteral("[Config]  mqtt/host            : broker.local")));
    QVERIFY(!log.contains("hunter2"));
    QVERIFY(!log.contains("7351"));
    QVERIFY(lines.contains(QStringLiteral("[Config]  gui/settingsPin      : ********")));
}

// The file holds the broker password and the PIN: owner-only when made under a umask of 022,
// narrowed when an older, wider one is rewritten, whatever the umask.
void TestConfig::fileIsOwnerOnly()
{
    const mode_t previous = ::umask(022);
    {
        Config config(path(), GUIManager::Defaults);
        QCOMPARE(modeOf(path()), mode_t(0600));
    }
    writeFile(path("old.conf"), "[gui]\nsettingsPin=1111\n");
    QFile::setPermissions(path("old.conf"), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    Config old(path("old.conf"), GUIManager::Defaults);
    old.set(QStringLiteral("gui/settingsPin"), QStringLiteral("2222"));
    ::umask(previous);
    QCOMPARE(modeOf(path("old.conf")), mode_t(0600));
    QCOMPARE(QSettings(path("old.conf"), QSettings::NativeFormat).value("gui/settingsPin").toString(), QStringLiteral("2222"));
}

// A file of garbage does not stop the store: it runs on the defaults.
void TestConfig::garbageFileFallsBackToDefaults()
{
    QByteArray garbage(4096, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 7919) % 256);
    writeFile(path(), garbage);
    Config config(path(), GUIManager::Defaults);
    QCOMPARE(config.get("mqtt/port").toInt(), 1883);
    QCOMPARE(config.get("gui/settingsPin").toString(), QStringLiteral("4826"));
}

// A write that cannot reach the disk is said in the log; the value still holds in memory.
void TestConfig::unwritableFileIsReported()
{
    // A folder that cannot exist, since a plain file holds its name; root can't write there either.
    writeFile(path(QStringLiteral("blocker")), "x");
    const QString unreachable = path(QStringLiteral("blocker/gui.conf"));
    QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("[Config] Creating default config file : ") + unreachable));
    QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("[Config] Failed to write config file : ") + unreachable));
    Config config(unreachable, GUIManager::Defaults);
    QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("[Config] Failed to write config file : ") + unreachable));
    config.set("gui/locale", "en_IE");
    QCOMPARE(config.get("gui/locale").toString(), QStringLiteral("en_IE"));
}

QTEST_GUILESS_MAIN(TestConfig)
#include "tst_config.moc"
