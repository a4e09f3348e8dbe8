#include "app/cliargs.h"

#include "waituntil.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestCliArgs : public QObject
{
    Q_OBJECT

private slots:
    void overrides_data();
    void overrides();
    void passwordFromTheEnvironment();
    void exitingOptions_data();
    void exitingOptions();
    void configOptionChoosesTheFile();
    void noArgumentsUseGuiConfInWorkingDirectory();
    void terminateEndsTheEventLoop();

private:
    struct Run
    {
        int exitCode = -1;
        QProcess::ExitStatus exitStatus = QProcess::CrashExit;
        QString out;
        QString err;
    };
    // Starts the program and stops it once `done` holds (or it ends by itself).
    template<typename Done>
    static void runUntil(const QStringList &arguments, const QString &workingDirectory, Done done)
    {
        QProcess process;
        process.setWorkingDirectory(workingDirectory);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(TESSIVO_BINARY), arguments);
        QVERIFY(waitUntil([&] { return done() || process.state() == QProcess::NotRunning; }, 30000));
        // Never a child that did not start: Qt would signal pid -1, every process of the user.
        if (process.state() == QProcess::Running && process.processId() > 0)
            process.kill();
        process.waitForFinished(5000);
    }
    // Run as over ssh on a headless validator: no display and no platform chosen.
    static Run runProgram(const QStringList &arguments, const QString &workingDirectory)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QLatin1String(name));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(workingDirectory);
        process.start(QStringLiteral(TESSIVO_BINARY), arguments);
        process.waitForFinished(30000);
        return {process.exitCode(), process.exitStatus(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }
};

void TestCliArgs::overrides_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QVariantMap>("expected");
    QTest::addColumn<QStringList>("logLines");

    QTest::newRow("none") << QStringList() << QVariantMap() << QStringList();
    QTest::newRow("verbose 3") << QStringList({"-v", "3"}) << QVariantMap({{"log/level", 3}})
                               << QStringList({"Setting Log level : 3"});
    QTest::newRow("verbose not a number") << QStringList({"--verbose", "loud"}) << QVariantMap() << QStringList();
    QTest::newRow("combined -ec") << QStringList({"-ec"})
                                  << QVariantMap({{"log/stderr", true}, {"log/color", true}})
                                  << QStringList({"Log to stderr overridden from user to true",
                                                  "Log with color overridden from user to true"});
    QTest::newRow("port not a number") << QStringList({"-P", "18a3"}) << QVariantMap({{"mqtt/port", 0}})
                                       << QStringList({"Setting MQTT Port : 18a3"});
    QTest::newRow("host and port") << QStringList({"--host", "10.0.0.2", "--port", "1884"})
                                   << QVariantMap({{"mqtt/host", "10.0.0.2"}, {"mqtt/port", 1884}})
                                   << QStringList({"Setting MQTT Host : 10.0.0.2", "Setting MQTT Port : 1884"});
    QTest::newRow("user and password") << QStringList({"-u", "tech", "-p", "secret"})
                                       << QVariantMap({{"mqtt/username", "tech"}, {"mqtt/password", "secret"}})
                                       << QStringList({"Setting MQTT User : tech"});
    QTest::newRow("config") << QStringList({"-f", "/tmp/x.conf"}) << QVariantMap({{"config", "/tmp/x.conf"}})
                            << QStringList({"Using configuration file : /tmp/x.conf"});
}

// Each option given becomes one override with its log line; the password gets no line.
void TestCliArgs::overrides()
{
    QFETCH(QStringList, arguments);
    QFETCH(QVariantMap, expected);
    QFETCH(QStringList, logLines);
    for (const QString &line : logLines)
        QTest::ignoreMessage(QtInfoMsg, qPrintable(line));
    const QVariantMap result = parseCLIArgs(QStringList({"tessivo"}) + arguments);
    QCOMPARE(result.keys(), expected.keys());
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        QCOMPARE(result.value(it.key()), it.value());
        QCOMPARE(result.value(it.key()).userType(), it.value().userType());
    }
}

// TESSIVO_MQTT_PASSWORD gives the password without a trace in the process list; -p wins.
void TestCliArgs::passwordFromTheEnvironment()
{
    qputenv("TESSIVO_MQTT_PASSWORD", "from-env");
    const QVariantMap fromEnvironment = parseCLIArgs({"tessivo"});
    const QVariantMap fromOption = parseCLIArgs({"tessivo", "-p", "from-option"});
    qunsetenv("TESSIVO_MQTT_PASSWORD");
    QCOMPARE(fromEnvironment, QVariantMap({{"mqtt/password", "from-env"}}));
    QCOMPARE(fromOption, QVariantMap({{"mqtt/password", "from-option"}}));
}

void TestCliArgs::exitingOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");

    QTest::newRow("version") << QStringList({"-V"}) << 0 << "Tessivo 1.0.21";
    QTest::newRow("help wins over version") << QStringList({"-V", "--help"}) << 0 << "Print help and exit";
    QTest::newRow("unknown option") << QStringList({"--bogus"}) << 1 << "ERROR: Unknown option 'bogus'.";
    QTest::newRow("missing value") << QStringList({"-P"}) << 1 << "ERROR: Missing value after '-P'.";
    QTest::newRow("help beside a toolkit option") << QStringList({"-platform", "xcb", "-h"}) << 0
                                                  << "Print help and exit";
    QTest::newRow("unknown option beside a toolkit option")
        << QStringList({"--geometry", "480x800", "--bogus"}) << 1 << "ERROR: Unknown option 'bogus'.";
}

// Help, version and errors end the program before anything is created, and need no display.
void TestCliArgs::exitingOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QTemporaryDir dir;
    const Run run = runProgram(arguments, dir.path());
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2((run.out + run.err).contains(output), qPrintable(run.out + run.err));
    QVERIFY2(!run.err.contains("display"), qPrintable(run.err));
    if (arguments.contains("--help"))
        QVERIFY(!run.out.contains("1.0.21"));
    QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

// -f makes the store use (and create) that file instead of gui.conf.
void TestCliArgs::configOptionChoosesTheFile()
{
    QTemporaryDir dir;
    runUntil({"-f", "other.conf", "-P", "1"}, dir.path(), [&] { return QFile::exists(dir.filePath("other.conf")); });
    QVERIFY(QFile::exists(dir.filePath("other.conf")));
    QVERIFY(!QFile::exists(dir.filePath("gui.conf")));
}

void TestCliArgs::noArgumentsUseGuiConfInWorkingDirectory()
{
    QTemporaryDir dir;
    runUntil({}, dir.path(), [&] { return QFile::exists(dir.filePath("gui.conf")); });
    QVERIFY(QFile::exists(dir.filePath("gui.conf")));
}

// SIGTERM from the service manager ends the event loop: exit code 0 after the stop line.
void TestCliArgs::terminateEndsTheEventLoop()
{
    // The scene needs OpenGL, which only the X server (xvfb-run in the test run) gives here.
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs an X server");
    QTemporaryDir dir;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "xcb");
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(dir.path());
    process.start(QStringLiteral(TESSIVO_BINARY), {"-P", "1", "-e"});
    // The configuration file is made after the stop handler is in place.
    QVERIFY(waitUntil([&] { return QFile::exists(dir.filePath("gui.conf")); }, 30000));
    process.terminate();
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(process.readAllStandardError().contains("Stop requested (signal 15). Exiting"));
}

QTEST_GUILESS_MAIN(TestCliArgs)
#include "tst_cliargs.moc"
