#include "app/renderbackend.h"
#include "app/systemdnotifier.h"

#include "notifysocket.h"
#include "waituntil.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

// The choice of the scene's back end, the program's start on platforms that cannot draw, and
// what it tells the service manager.
class TestRenderBackend : public QObject
{
    Q_OBJECT

private slots:
    void choice_data();
    void choice();
    void nothingToDrawOnEndsWithOneLine_data();
    void nothingToDrawOnEndsWithOneLine();
    void softwareRendererWithoutXServer_data();
    void softwareRendererWithoutXServer();
    void watchdogPingsOnlyWhileTheEventLoopTurns();
    void serviceManagerNotices_data();
    void serviceManagerNotices();

private:
    // The program in a folder of its own, with the environment changed as given.
    static QProcessEnvironment environment(const QMap<QString, QString> &set);
};

QProcessEnvironment TestRenderBackend::environment(const QMap<QString, QString> &set)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "QT_QUICK_BACKEND", "QMLSCENE_DEVICE",
                             "TESSIVO_SCREENSHOTS", "NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID"})
        environment.remove(QString::fromLatin1(name));
    for (auto it = set.cbegin(); it != set.cend(); ++it)
        environment.insert(it.key(), it.value());
    return environment;
}

void TestRenderBackend::choice_data()
{
    QTest::addColumn<QString>("platform");
    QTest::addColumn<QString>("requested");
    QTest::addColumn<bool>("openGl");
    QTest::addColumn<bool>("software");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("asked"); // whether OpenGL had to be tried

    QTest::newRow("eglfs with GL") << "eglfs" << "" << true << false << "" << true;
    QTest::newRow("xcb with GL") << "xcb" << "" << true << false << "" << true;
    QTest::newRow("xcb, broken driver") << "xcb" << "" << false << true << "no OpenGL context could be created" << true;
    QTest::newRow("offscreen, no X server") << "offscreen" << "" << false << true
                                            << "no OpenGL context could be created" << true;
    QTest::newRow("linuxfb") << "linuxfb" << "" << true << true << "platform linuxfb" << false;
    QTest::newRow("variable") << "eglfs" << "software" << true << true << "QT_QUICK_BACKEND=software" << false;
    QTest::newRow("older name") << "xcb" << "softwarecontext" << true << true << "QT_QUICK_BACKEND=software" << false;
    QTest::newRow("variable on linuxfb") << "linuxfb" << "software" << false << true << "QT_QUICK_BACKEND=software"
                                         << false;
    QTest::newRow("another back end named") << "xcb" << "openvg" << false << false << "" << false;
}

// OpenGL where a context can be made; the software renderer when the variable asks for it, on
// the framebuffer platform, and when no OpenGL context can be created. A back end named
// otherwise is left to Qt.
void TestRenderBackend::choice()
{
    QFETCH(QString, platform);
    QFETCH(QString, requested);
    QFETCH(bool, openGl);
    QFETCH(bool, software);
    QFETCH(QString, reason);
    QFETCH(bool, asked);
    bool tried = false;
    const renderbackend::Choice choice = renderbackend::decide(platform, requested, [&] {
        tried = true;
        return openGl;
    });
    QCOMPARE(choice.software, software);
    QCOMPARE(choice.reason, reason);
    QCOMPARE(tried, asked);
}

void TestRenderBackend::nothingToDrawOnEndsWithOneLine_data()
{
    QTest::addColumn<QString>("platform");
    QTest::addColumn<QString>("line");

    QTest::newRow("xcb without an X server")
            << "xcb" << "[RenderBackend] ERROR: No display to draw on, platform xcb: This application failed to start "
                        "because no Qt platform plugin could be initialized. Reinstalling the application may fix "
                        "this problem.";
    QTest::newRow("linuxfb without its device")
            << "linuxfb:fb=/dev/no-such-fb" << "[RenderBackend] ERROR: No display to draw on, platform linuxfb: no screen";
    if (!QDir(QStringLiteral("/dev/dri")).exists())
        QTest::newRow("eglfs without a GPU")
                << "eglfs" << "[RenderBackend] ERROR: No display to draw on, platform eglfs: Could not find DRM device!";
}

// A platform that cannot draw at all ends the program with exit code 1 and one error line
// naming it, for the service manager to try again; never an abort with a core dump.
void TestRenderBackend::nothingToDrawOnEndsWithOneLine()
{
    QFETCH(QString, platform);
    QFETCH(QString, line);
    QTemporaryDir dir;
    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.setProcessEnvironment(environment({{"QT_QPA_PLATFORM", platform}}));
    process.start(QStringLiteral(TESSIVO_BINARY), QStringList());
    QVERIFY(process.waitForFinished(30000));
    const QStringList lines = QString::fromUtf8(process.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    QCOMPARE(lines.filter("ERROR"), QStringList{line});
    QCOMPARE(lines.filter("RenderBackend").size(), 1);
}

void TestRenderBackend::softwareRendererWithoutXServer_data()
{
    QTest::addColumn<QString>("requested");
    QTest::addColumn<QString>("line");

    QTest::newRow("automatic") << "" << "[RenderBackend] WARN: Drawing with the software renderer (no OpenGL context "
                                        "could be created)";
    QTest::newRow("asked for") << "software" << "[RenderBackend] WARN: Drawing with the software renderer "
                                                "(QT_QUICK_BACKEND=software)";
}

// On the offscreen platform with no X server the program draws with the software renderer,
// says so in one line before the scene loads, and its screenshots show the page.
void TestRenderBackend::softwareRendererWithoutXServer()
{
    QFETCH(QString, requested);
    QFETCH(QString, line);
    QTemporaryDir dir;
    QMap<QString, QString> set{{"QT_QPA_PLATFORM", "offscreen"}, {"TESSIVO_SCREENSHOTS", dir.filePath("shots")}};
    if (!requested.isEmpty())
        set.insert("QT_QUICK_BACKEND", requested);
    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.setProcessEnvironment(environment(set));
    // No broker: the program shows its first page and keeps trying to connect.
    process.start(QStringLiteral(TESSIVO_BINARY), {"-e", "-P", "1"});
    const QString shot = dir.filePath("shots/001-Busy.png");
    QVERIFY(waitUntil([&] { return QFile::exists(shot) || process.state() == QProcess::NotRunning; }, 30000));
    QTest::qWait(200);
    process.terminate();
    QVERIFY(process.waitForFinished(10000));
    const QString err = QString::fromUtf8(process.readAllStandardError());
    const QStringList lines = err.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.filter("[RenderBackend]"), QStringList{line});
    const int chosen = err.indexOf(line);
    const int styled = err.indexOf("QtQuick Style name is");
    QVERIFY2(chosen >= 0 && styled > chosen, qPrintable(err));
    QVERIFY(!err.contains("Failed to create OpenGL context"));

    const QImage image(shot);
    QCOMPARE(image.size(), QSize(480, 800));
    // Not one flat colour: the background, the header and the page are in it.
    QVERIFY(image.pixel(240, 400) != image.pixel(100, 60) || image.pixel(240, 400) != image.pixel(5, 795));
}

// The pings come from the event loop: none while it is blocked, and again once it turns.
void TestRenderBackend::watchdogPingsOnlyWhileTheEventLoopTurns()
{
    QTemporaryDir dir;
    NotifySocket socket(dir.filePath("notify"));
    qputenv("NOTIFY_SOCKET", QFile::encodeName(socket.path()));
    qputenv("WATCHDOG_USEC", "200000");
    SystemdNotifier notifier;
    QCOMPARE(notifier.watchdogIntervalMs(), 100);
    QCOMPARE(socket.take(), QStringList{"WATCHDOG=1"});
    QVERIFY(waitUntil([&] { return socket.take().contains("WATCHDOG=1"); }));

    socket.take();
    QThread::msleep(1000); // ten intervals with the loop blocked
    QCOMPARE(socket.take(), QStringList());
    QVERIFY(waitUntil([&] { return socket.take().contains("WATCHDOG=1"); }));
    qunsetenv("NOTIFY_SOCKET");
    qunsetenv("WATCHDOG_USEC");
}

void TestRenderBackend::serviceManagerNotices_data()
{
    QTest::addColumn<QString>("socket"); // "listening", "refusing" or "none"

    QTest::newRow("listening") << "listening";
    QTest::newRow("refusing") << "refusing";
    QTest::newRow("none") << "none";
}

// Under the service manager the program says where it stands, ready after its first frame, pings
// and says it stops; a refusing socket earns one warning and no socket no line, and the program
// shows its page all the same.
void TestRenderBackend::serviceManagerNotices()
{
    QFETCH(QString, socket);
    QTemporaryDir dir;
    NotifySocket listener(dir.filePath("notify"));
    QMap<QString, QString> set{{"QT_QPA_PLATFORM", "offscreen"}, {"TESSIVO_SCREENSHOTS", dir.filePath("shots")},
                               {"WATCHDOG_USEC", "400000"}};
    if (socket == "listening")
        set.insert("NOTIFY_SOCKET", listener.path());
    else if (socket == "refusing")
        set.insert("NOTIFY_SOCKET", dir.filePath("nobody-listens"));
    QProcess process;
    process.setWorkingDirectory(dir.path());
    QProcessEnvironment environment = TestRenderBackend::environment(set);
    if (socket == "none")
        environment.remove("NOTIFY_SOCKET");
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TESSIVO_BINARY), {"-e", "-P", "1"});
    QStringList notices;
    const QString shot = dir.filePath("shots/001-Busy.png");
    QVERIFY(waitUntil([&] { return QFile::exists(shot) || process.state() == QProcess::NotRunning; }, 30000));
    if (socket == "listening")
        QVERIFY(waitUntil([&] { return (notices << listener.take()).count("WATCHDOG=1") >= 3; }, 10000));
    process.terminate();
    QVERIFY(process.waitForFinished(10000));
    notices << listener.take();
    QStringList lines =
            QString::fromUtf8(process.readAllStandardError()).split('\n', Qt::SkipEmptyParts).filter("[SystemdNotifier]");
    lines.replaceInStrings(QRegularExpression("^\\[ *[0-9.]+\\] "), QString()); // the uptime stamp

    QVERIFY(QFile::exists(shot));
    if (socket == "listening") {
        QCOMPARE(notices.value(0), QString("WATCHDOG=1")); // before the scene loads
        notices.removeAll("WATCHDOG=1");
        // Then where it stands, ready once, the status on each change, and the stop last;
        // nothing from the processes it starts.
        QCOMPARE(notices.value(0), QString("STATUS=Busy, broker disconnected"));
        QCOMPARE(notices.count("READY=1"), 1);
        QCOMPARE(notices.takeLast(), QString("STOPPING=1"));
        notices.removeAll("READY=1");
        QCOMPARE(notices.filter(QRegularExpression("^STATUS=\\w+, broker disconnected$")), notices);
        QCOMPARE(lines, QStringList({"[SystemdNotifier] Told the service manager: READY=1 (first frame drawn)",
                                     "[SystemdNotifier] Told the service manager: STOPPING=1"}));
    } else if (socket == "refusing") {
        QCOMPARE(lines, QStringList{"[SystemdNotifier] WARN: Could not notify the service manager through " +
                                    dir.filePath("nobody-listens") + ": No such file or directory. Running on without it"});
    } else {
        QCOMPARE(lines, QStringList());
    }
}

QTEST_GUILESS_MAIN(TestRenderBackend)
#include "tst_renderbackend.moc"
