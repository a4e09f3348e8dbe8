#include "brokerfixture.h"
#include "picturecompare.h"
#include "scenetest.h"
#include "servicedouble.h"
#include "waituntil.h"

#include "app/runtimepaths.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTime>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>


#include <cmath>
#include <tuple>

// Every passenger page in both languages and the main settings pages, drawn once with OpenGL
// (under the X server) and once by the software renderer (offscreen, no X server), each by a
// process of its own since a process has one back end; then the two pictures of each page are
// compared. Pictures: TESSIVO_ARTIFACTS/backends/{opengl,software}, and the difference of each
// pair, brightened, in backends/difference.
// Then the framebuffer path: the program on Qt's vnc platform, which draws through the same
// framebuffer screen and compositor as linuxfb, grabbed by a real VNC client and held against
// the program's own offscreen screenshot of the same page (backends/framebuffer).

namespace {

const QString Blm = QStringLiteral("orvo/blm");
const QString Board = QStringLiteral("orvo/board");
const QString PassVariable = QStringLiteral("TESSIVO_BACKENDS_PASS");
const QString FramebufferVariable = QStringLiteral("TESSIVO_BACKENDS_FRAMEBUFFER");

// A pixel "in the tint": the three channels' distances from it summed.
constexpr int TintTolerance = 60;
// How far the two back ends' mark areas may differ, as a share of the OpenGL one.
constexpr double AreaTolerance = 0.15;

QJsonObject statusWith(const QString &flag = QString(), bool value = true)
{
    QJsonObject state{{"init", false}, {"hasRfid", true}, {"hasNtp", true}, {"hasRoute", true},
                      {"hasQr", true}, {"hasObu", true}};
    if (!flag.isEmpty())
        state.insert(flag, value);
    return QJsonObject{{"service", true},
                       {"obu", QJsonObject{{"vehicleUuid", "BUS-0815"}}},
                       {"device", QJsonObject{{"rfid", QJsonObject{{"state", 1}, {"active", true}}},
                                              {"barcode", QJsonObject{{"active", true}}}}},
                       {"state", state}};
}

QJsonObject cardResult(bool valid, int type, int denyReason, const QJsonObject &card)
{
    QJsonObject transaction{{"result", valid}, {"type", type}, {"fareProductName", "Monthly Pass"}, {"card", card}};
    if (denyReason)
        transaction.insert("denyReason", QJsonObject{{"id", denyReason}});
    return QJsonObject{{"transaction", transaction}};
}

// The pass's back end in the names of its folder.
QString passName(bool software)
{
    return software ? QStringLiteral("software") : QStringLiteral("opengl");
}

QString artifacts()
{
    return qEnvironmentVariable("TESSIVO_ARTIFACTS", QDir::tempPath() + "/tessivo-artifacts") + "/backends";
}

} // namespace

// One back end's pictures, in a process started by the comparison below.
class RenderPass : public SceneTest
{
    Q_OBJECT

public:
    RenderPass() : SceneTest("backends/" + qEnvironmentVariable("TESSIVO_BACKENDS_PASS")) {}

private slots:
    void passengerPages_data();
    void passengerPages();
    void settingsPages();

private:
    void startController(const QString &locale);
    // Whatever moves or tells the time stands still, the same in both passes.
    void freeze();
    void shoot(const QString &name);
    void tap(const QString &objectName);
};

void RenderPass::startController(const QString &locale)
{
    startScene(locale);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(passName(software()), qEnvironmentVariable("TESSIVO_BACKENDS_PASS"));
    QTRY_VERIFY(m_service->publish(Board + "/status",
                                   QJsonObject{{"service", true},
                                               {"device", QJsonObject{{"active", true}, {"ignition", true},
                                                                      {"poleId", "P-0099"}}}})
                && m_manager->board().status() == "online");
}

void RenderPass::freeze()
{
    for (QObject *timer : findAll("clockTimer"))
        timer->setProperty("running", false);
    for (QObject *label : findAll("clockDate"))
        label->setProperty("text", "01-01-2030");
    for (QObject *label : findAll("clockTime"))
        label->setProperty("text", "12:00");
    for (const char *timer : {"scanFrameTimer", "scanSwitchTimer"}) {
        if (QObject *object = find(timer))
            object->setProperty("running", false);
    }
    if (QObject *scan = find("scanScreensPage")) {
        scan->setProperty("mode", 0);
        scan->setProperty("frame", 0);
    }
    for (const char *animation : {"scanCardAnimation", "scanBarcodeAnimation"}) {
        if (QObject *object = find(animation)) {
            object->setProperty("running", false);
            object->parent()->setProperty("frame", 0);
        }
    }
    if (QObject *spinner = find("busyIndicator"))
        spinner->setProperty("running", false);
    if (QObject *arc = find("busyIndicatorArc"))
        arc->setProperty("rotation", 0);
    if (QObject *row = find("timeFormat")) {
        for (QObject *child : row->children()) {
            if (child->inherits("QQmlTimer"))
                child->setProperty("running", false);
        }
        row->setProperty("value", "1 Jan 30, 12:00:00 EET");
    }
    for (QObject *stamp : findAll("eventTime"))
        stamp->setProperty("text", "01-Jan-30 12:00");
}

void RenderPass::shoot(const QString &name)
{
    if (QObject *stack = find("settingsStack"))
        QVERIFY(waitUntil([stack] { return !stack->property("busy").toBool(); }));
    freeze();
    grab(name);
}

void RenderPass::tap(const QString &objectName)
{
    QQuickItem *target = item(objectName);
    QVERIFY2(target && target->isVisible(), qPrintable("not shown: " + objectName));
    if (QObject *stack = find("settingsStack"))
        QVERIFY(waitUntil([stack] { return !stack->property("busy").toBool(); }));
    touch(centreOf(target));
}

void RenderPass::passengerPages_data()
{
    QTest::addColumn<QString>("locale");
    QTest::newRow("en") << "en_IE";
    QTest::newRow("el") << "el_GR";
}

// Each passenger page as the services lead to it, and the login page.
void RenderPass::passengerPages()
{
    QFETCH(QString, locale);
    const QString suffix = locale.left(2);
    startController(locale);
    if (QTest::currentTestFailed())
        return;

    QVERIFY(m_service->publish(Blm + "/status", statusWith("init", true)));
    QTRY_COMPARE(text("busyMessage"), locale == "el_GR" ? QStringLiteral("Παρακαλώ περιμένετε") : QStringLiteral("Please Wait"));
    shoot("busy-" + suffix);

    QVERIFY(m_service->publish(Blm + "/status", statusWith()));
    QTRY_VERIFY(shown("scanScreensPage"));
    shoot("scanscreens-" + suffix);
    for (const QString &page : {QStringLiteral("ScanCard"), QStringLiteral("ScanBarcode")}) {
        m_window->setProperty("currentScreen", page);
        QTRY_VERIFY(shown(page.left(1).toLower() + page.mid(1) + "Page"));
        shoot(page.toLower() + "-" + suffix);
    }
    m_window->setProperty("currentScreen", "ScanScreens");

    const QList<std::tuple<QString, QString, QJsonObject>> results = {
        {"valid", "/rfid/scanned",
         cardResult(true, 5, 0, {{"storedJourneys", QJsonObject{{"after", 7}, {"transferRemainingMin", 45}}}})},
        {"alreadyValid", "/rfid/scanned",
         cardResult(false, 5, 207, {{"storedJourneys", QJsonObject{{"after", 6}, {"transferRemainingMin", 30}}}})},
        {"invalid", "/rfid/scanned", cardResult(false, 2, 205, {{"balanceBefore", 20}, {"balanceAfter", 20}})},
        {"retry", "/rfid/retry", QJsonObject()},
    };
    for (const auto &result : results) {
        const QString page = std::get<0>(result);
        QVERIFY(std::get<2>(result).isEmpty() ? m_service->publish(Blm + std::get<1>(result), QByteArray())
                                               : m_service->publish(Blm + std::get<1>(result), std::get<2>(result)));
        QTRY_VERIFY(shown(page + "Page"));
        QTRY_VERIFY(text(page + "Title") != "");
        shoot(page.toLower() + "-" + suffix);
    }

    QVERIFY(m_service->publish(Blm + "/status", statusWith("hasRfid", false)));
    QTRY_VERIFY(shown("outOfOrderPage") && text("outOfOrderText") == "#0004");
    shoot("outoforder-" + suffix);
    QVERIFY(m_service->publish(Blm + "/status", statusWith("hasRoute", false)));
    QTRY_VERIFY(shown("outOfServicePage"));
    shoot("outofservice-" + suffix);

    m_manager->setScreen("InitPage");
    QTRY_VERIFY(shown("initPage"));
    shoot("initpage-" + suffix);
    m_manager->setScreen("ScreenSaver");
    QTRY_VERIFY(shown("screenSaverPage"));
    shoot("screensaver-" + suffix);
    m_manager->setMaintenanceScreen();
    QTRY_VERIFY(shown("loginPage"));
    shoot("login-" + suffix);
}

// The settings menu and its eight pages, each opened from the menu.
void RenderPass::settingsPages()
{
    startController("en_IE");
    if (QTest::currentTestFailed())
        return;
    QVERIFY(m_service->publish(Blm + "/status", statusWith()));
    QTRY_VERIFY(shown("scanScreensPage"));
    m_manager->setMaintenanceScreen();
    QTRY_VERIFY(shown("loginPage"));
    for (const QString key : {"4", "8", "2", "6"})
        tap("pinKey_" + key);
    tap("loginButton");
    QTRY_VERIFY(shown("settingsPage"));
    auto depth = [this] { return find("settingsStack")->property("depth").toInt(); };
    QTRY_COMPARE(depth(), 1);
    shoot("settings-menu");

    const QList<QPair<QString, QString>> pages = {
        {"Validator", "validatorPage"}, {"Diagnostics", "diagnosticsPage"}, {"Region", "regionPage"},
        {"Audio", "audioPage"},         {"Display", "displayPage"},         {"Network", "networkPage"},
        {"Update", "updatePage"},       {"EventLog", "eventLogPage"},
    };
    for (const auto &page : pages) {
        tap("menuRow_" + page.first);
        QTRY_VERIFY(shown(page.second) && depth() == 2);
        shoot("settings-" + page.first.toLower());
        // Hidden and shown again, the settings page is back on its menu, no button pressed.
        m_window->setProperty("currentScreen", "ScreenSaver");
        QTRY_VERIFY(!shown("settingsPage"));
        m_window->setProperty("currentScreen", "Settings");
        QTRY_VERIFY(shown("settingsPage") && depth() == 1);
    }
}

// ---------------------------------------------------------------------------------------------

// The comparison: starts the two passes, then holds each pair of pictures against each other.
class TestBackends : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void samePicture_data();
    void samePicture();
    void outcomeMarkPresent_data();
    void outcomeMarkPresent();
    void framebufferPath();

private:
    static QImage load(const QString &pass, const QString &name);
};

void TestBackends::initTestCase()
{
    // Without the X server there is no OpenGL picture to compare with: a failure, since a skip
    // would count as a pass of a comparison that never ran.
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QFAIL("The OpenGL pictures need an X server (xvfb-run): DISPLAY is not set");
    for (const bool software : {false, true}) {
        QDir(artifacts() + "/" + passName(software)).removeRecursively();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(PassVariable, passName(software));
        if (software) {
            environment.insert("QT_QPA_PLATFORM", "offscreen");
            environment.insert("QT_QUICK_BACKEND", "software");
            environment.remove("DISPLAY");
            environment.remove("XAUTHORITY");
        } else {
            environment.insert("QT_QPA_PLATFORM", "xcb");
            environment.remove("QT_QUICK_BACKEND");
        }
        QProcess pass;
        pass.setProcessEnvironment(environment);
        pass.setProcessChannelMode(QProcess::MergedChannels);
        pass.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(pass.waitForFinished(240000));
        const QByteArray output = pass.readAll();
        if (pass.exitStatus() != QProcess::NormalExit || pass.exitCode() != 0)
            qWarning().noquote() << output;
        QVERIFY2(pass.exitStatus() == QProcess::NormalExit && pass.exitCode() == 0, qPrintable(passName(software)));
    }
    QVERIFY(QDir().mkpath(artifacts() + "/difference"));
}

QImage TestBackends::load(const QString &pass, const QString &name)
{
    return QImage(artifacts() + "/" + pass + "/" + name + ".png").convertToFormat(QImage::Format_RGB32);
}

void TestBackends::samePicture_data()
{
    QTest::addColumn<QString>("name");
    const QStringList names = QDir(artifacts() + "/opengl").entryList({"*.png"}, QDir::Files, QDir::Name);
    QVERIFY(names.size() >= 35);
    for (const QString &file : names)
        QTest::newRow(qPrintable(file.chopped(4))) << file.chopped(4);
}

// Both back ends draw the page alike: the pictures differ by little on average (glyph and edge
// anti-aliasing), and in no place of the page by much (a missing icon, a moved or missing text,
// a control without its face).
void TestBackends::samePicture()
{
    QFETCH(QString, name);
    const QImage opengl = load("opengl", name);
    const QImage software = load("software", name);
    QCOMPARE(software.size(), opengl.size());
    const PictureDifference difference = PictureDifference::between(opengl, software);
    difference.shown.save(artifacts() + "/difference/" + name + ".png");
    qInfo().noquote() << name + ": " + difference.summary();
    QVERIFY2(difference.alike(), qPrintable(difference.summary()));
}

void TestBackends::outcomeMarkPresent_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QColor>("tint");
    // The least area the mark covers: the outcome marks (250 or 300 px, drawn 2/24 of that wide)
    // some 9 000 px and more, the busy spinner's arc about 1 000.
    QTest::addColumn<int>("least");
    for (const QString language : {"en", "el"}) {
        QTest::newRow(qPrintable("valid-" + language)) << "valid-" + language << QColor("#41b987") << 5000;
        QTest::newRow(qPrintable("alreadyvalid-" + language)) << "alreadyvalid-" + language << QColor("#fcdb03") << 5000;
        QTest::newRow(qPrintable("invalid-" + language)) << "invalid-" + language << QColor("#db4a37") << 5000;
        QTest::newRow(qPrintable("retry-" + language)) << "retry-" + language << QColor("#fcdb03") << 5000;
        QTest::newRow(qPrintable("outoforder-" + language)) << "outoforder-" + language << QColor("#db4a37") << 5000;
        QTest::newRow(qPrintable("outofservice-" + language)) << "outofservice-" + language << QColor("#fcdb03") << 5000;
        QTest::newRow(qPrintable("busy-" + language)) << "busy-" + language << QColor("#00add7") << 500;
    }
}

// The page's mark is there on both: its tint covers about the same area of the picture.
void TestBackends::outcomeMarkPresent()
{
    QFETCH(QString, name);
    QFETCH(QColor, tint);
    QFETCH(int, least);
    auto area = [&](const QImage &image) {
        int count = 0;
        for (int y = 0; y < image.height(); ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                count += qAbs(qRed(line[x]) - tint.red()) + qAbs(qGreen(line[x]) - tint.green())
                                 + qAbs(qBlue(line[x]) - tint.blue())
                         <= TintTolerance;
            }
        }
        return count;
    };
    const int opengl = area(load("opengl", name));
    const int software = area(load("software", name));
    qInfo().noquote() << QStringLiteral("%1: %2 px of %3 with OpenGL, %4 px with the software renderer")
                                 .arg(name, tint.name())
                                 .arg(opengl)
                                 .arg(software);
    QVERIFY2(opengl >= least, qPrintable(QString::number(opengl)));
    QVERIFY2(std::abs(software - opengl) <= opengl * AreaTolerance, qPrintable(QString::number(software)));
}

// ---------------------------------------------------------------------------------------------

// The framebuffer pass, in a network namespace of its own that has only a loopback: Qt 5's vnc
// platform listens on every address of the machine and has no option to narrow it, so the
// namespace is what keeps the listener off every network.
class FramebufferPass : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void vncPictureMatchesOffscreen_data();
    void vncPictureMatchesOffscreen();

private:
    // The program with its own configuration and log in `dir`, on `platform`.
    QProcess *startProgram(const QString &dir, const QString &name, const QString &platform, int rotation);

    BrokerFixture m_broker;
    QScopedPointer<ServiceDouble> m_service;
};

void FramebufferPass::initTestCase()
{
    QVERIFY(m_broker.start());
    m_service.reset(new ServiceDouble(m_broker.port()));
    QVERIFY(m_service->start());
    // Retained, so that each program finds the fault page's state as it connects.
    QVERIFY(m_service->publish(Board + "/status",
                               QJsonObject{{"service", true}, {"device", QJsonObject{{"active", true}, {"ignition", true}}}},
                               true));
    QVERIFY(m_service->publish(Blm + "/status", statusWith("hasRfid", false), true));
}

QProcess *FramebufferPass::startProgram(const QString &dir, const QString &name, const QString &platform, int rotation)
{
    const QString conf = dir + "/" + name + ".conf";
    QFile file(conf);
    if (!file.open(QIODevice::WriteOnly))
        return nullptr;
    file.write(QStringLiteral("[log]\nsyslog=false\n[mqtt]\nhost=127.0.0.1\nport=%1\n"
                              "[gui]\ndeviceId=%2/serialnumber\nlocale=en_IE\nshowCursor=false\nrotation=%3\n")
                   .arg(m_broker.port())
                   .arg(dir)
                   .arg(rotation)
                   .toUtf8());
    file.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", platform);
    environment.insert("QT_QUICK_BACKEND", "software");
    environment.insert("TESSIVO_SCREENSHOTS", dir + "/" + name);
    environment.insert("TESSIVO_EVENTS_FILE", dir + "/" + name + "-events.ini");
    environment.remove("DISPLAY");
    auto *program = new QProcess(this);
    program->setProcessEnvironment(environment);
    program->setProcessChannelMode(QProcess::MergedChannels);
    program->setStandardOutputFile(dir + "/" + name + ".log");
    program->start(QStringLiteral(TESSIVO_BINARY), {"-f", conf});
    return program;
}

void FramebufferPass::vncPictureMatchesOffscreen_data()
{
    QTest::addColumn<QSize>("panel");
    QTest::addColumn<int>("rotation");
    QTest::newRow("portrait 480x800") << QSize(480, 800) << 0;
    QTest::newRow("landscape 800x480 turned 90") << QSize(800, 480) << 90;
}

// The fault page (header, tinted mark, texts) that the VNC client receives from the framebuffer
// compositor is the page the program draws offscreen, at the panel's size and angle.
void FramebufferPass::vncPictureMatchesOffscreen()
{
    QFETCH(QSize, panel);
    QFETCH(int, rotation);
    QTemporaryDir dir;
    QFile serial(dir.filePath("serialnumber"));
    QVERIFY(serial.open(QIODevice::WriteOnly) && serial.write("K00000042") > 0);
    serial.close();
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    // The header's clock shows minutes: both programs start well inside one.
    QVERIFY(waitUntil([] { return QTime::currentTime().second() < 45; }, 20000));
    QProcess *offscreen = startProgram(dir.path(), "offscreen", "offscreen", rotation);
    // Texts sized in points follow the screen's physical size: the panel is given that of the
    // offscreen screen's 100 dpi, as a panel's driver reports its own.
    const QString platform = QStringLiteral("vnc:size=%1x%2:mmsize=%3x%4:port=%5")
                                     .arg(panel.width())
                                     .arg(panel.height())
                                     .arg(panel.width() * 25.4 / 100, 0, 'f', 2)
                                     .arg(panel.height() * 25.4 / 100, 0, 'f', 2)
                                     .arg(port);
    QProcess *vnc = startProgram(dir.path(), "vnc", platform, rotation);
    QVERIFY(offscreen && vnc);
    // Each program's own screenshot of the page is taken once the page's frame is swapped; it
    // is there once it reads whole.
    auto shot = [&](const QString &name) {
        const QStringList found = QDir(dir.filePath(name)).entryList({"*-OutOfOrder.png"}, QDir::Files);
        return found.isEmpty() ? QImage() : QImage(dir.filePath(name + "/" + found.first()));
    };
    QVERIFY2(waitUntil([&] { return shot("offscreen").size() == panel && shot("vnc").size() == panel; }, 30000),
             qPrintable(QDir(dir.filePath("vnc")).entryList().join(' ')));

    const QString grabbed = dir.filePath("vnc.jpg");
    QProcess client;
    client.setProcessChannelMode(QProcess::MergedChannels);
    // Lossless on the wire; the file is a JPEG at its best quality.
    client.start("vncsnapshot", {"-quiet", "-nocursor", "-nojpeg", "-quality", "100",
                                 QStringLiteral("127.0.0.1::%1").arg(port), grabbed});
    QVERIFY(client.waitForFinished(30000));
    QVERIFY2(client.exitCode() == 0, client.readAll().constData());

    // Qt's VNC server copies 32-bit pixels as they are, whatever colour order the client asked
    // for (this client asks for red in the low byte): red and blue come swapped over the wire.
    const QImage received = QImage(grabbed).rgbSwapped();
    const QImage reference = shot("offscreen");
    QCOMPARE(received.size(), panel);
    QCOMPARE(reference.size(), panel);
    // The window sits at y -1, as on the panel: the screen's row 0 is the window's row 1, and
    // its last row is left bare.
    const QImage screen = received.copy(0, 0, panel.width(), panel.height() - 1);
    const QString folder = artifacts() + "/framebuffer";
    QVERIFY(QDir().mkpath(folder));
    const QString name = QString(QTest::currentDataTag()).replace(' ', '-');
    received.save(folder + "/" + name + "-vnc.png");
    reference.save(folder + "/" + name + "-offscreen.png");
    const PictureDifference difference
            = PictureDifference::between(reference.copy(0, 1, panel.width(), panel.height() - 1), screen);
    difference.shown.save(folder + "/" + name + "-difference.png");
    qInfo().noquote() << name + ": " + difference.summary();
    QVERIFY2(difference.alike(), qPrintable(difference.summary()));

    for (QProcess *program : {offscreen, vnc}) {
        program->terminate();
        QVERIFY(program->waitForFinished(10000));
    }
}

// The framebuffer pass, run in its own network namespace; its verdict is this test's.
void TestBackends::framebufferPath()
{
    QVERIFY2(!QStandardPaths::findExecutable("vncsnapshot").isEmpty(),
             "vncsnapshot is not installed (scripts/install-deps installs it)");
    QProcess probe;
    probe.start("unshare", {"-rn", "true"});
    if (!probe.waitForFinished(10000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0)
        QSKIP("No network namespace of its own for the VNC listener (unshare -rn refused)");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(FramebufferVariable, "1");
    // The pass itself draws nothing; the X server stays outside the namespace.
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.remove("DISPLAY");
    QProcess pass;
    pass.setProcessEnvironment(environment);
    pass.setProcessChannelMode(QProcess::MergedChannels);
    // The namespace's loopback starts down.
    pass.start("unshare", {"-rn", "sh", "-c", "ip link set lo up && exec \"$0\"", QCoreApplication::applicationFilePath()});
    QVERIFY(pass.waitForFinished(120000));
    const QByteArray output = pass.readAll();
    for (const QByteArray &line : output.split('\n')) {
        if (line.contains("mean difference") || line.startsWith("FAIL") || line.startsWith("   "))
            qInfo().noquote() << line;
    }
    QVERIFY2(pass.exitStatus() == QProcess::NormalExit && pass.exitCode() == 0, output.right(3000).constData());
}

int main(int argc, char *argv[])
{
    qputenv("QT_IM_MODULE", QByteArrayLiteral("freevirtualkeyboard"));
    runtimepaths::addLibraryPaths();
    QGuiApplication app(argc, argv);
    QTEST_SET_MAIN_SOURCE_PATH
    if (qEnvironmentVariableIsSet("TESSIVO_BACKENDS_FRAMEBUFFER")) {
        FramebufferPass pass;
        return QTest::qExec(&pass, argc, argv);
    }
    if (qEnvironmentVariableIsSet("TESSIVO_BACKENDS_PASS")) {
        RenderPass pass;
        return QTest::qExec(&pass, argc, argv);
    }
    TestBackends test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_backends.moc"
