#include "scenetest.h"
#include "servicedouble.h"
#include "waituntil.h"

#include "app/runtimepaths.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonObject>
#include <QProcess>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>


#include <algorithm>
#include <cmath>
#include <tuple>

// Every passenger page in both languages and the main settings pages, drawn once with OpenGL
// (under the X server) and once by the software renderer (offscreen, no X server), each by a
// process of its own since a process has one back end; then the two pictures of each page are
// compared. Pictures: TESSIVO_ARTIFACTS/backends/{opengl,software}, and the difference of each
// pair, brightened, in backends/difference.

namespace {

const QString Blm = QStringLiteral("orvo/blm");
const QString Board = QStringLiteral("orvo/board");
const QString PassVariable = QStringLiteral("TESSIVO_BACKENDS_PASS");

// Mean per-channel difference over the whole picture, out of 255.
constexpr double MeanLimit = 3;
// Mean per-channel difference in the worst 16 x 16 square.
constexpr double BlockLimit = 48;
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
    for (const QString &page : {"ScanCard", "ScanBarcode"}) {
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
    QImage difference(opengl.size(), QImage::Format_RGB32);
    double total = 0;
    // Mean difference over squares of the page's smallest texts' size: what the eye calls "the
    // same place looks different".
    constexpr int Block = 16;
    QVector<double> blocks((opengl.width() / Block + 1) * (opengl.height() / Block + 1), 0);
    const int columns = opengl.width() / Block + 1;
    for (int y = 0; y < opengl.height(); ++y) {
        const auto *a = reinterpret_cast<const QRgb *>(opengl.constScanLine(y));
        const auto *b = reinterpret_cast<const QRgb *>(software.constScanLine(y));
        auto *d = reinterpret_cast<QRgb *>(difference.scanLine(y));
        for (int x = 0; x < opengl.width(); ++x) {
            const int dr = qAbs(qRed(a[x]) - qRed(b[x]));
            const int dg = qAbs(qGreen(a[x]) - qGreen(b[x]));
            const int db = qAbs(qBlue(a[x]) - qBlue(b[x]));
            const double mean = (dr + dg + db) / 3.0;
            total += mean;
            blocks[(y / Block) * columns + x / Block] += mean / (Block * Block);
            const int shown = qMin(255, 4 * qMax(dr, qMax(dg, db)));
            d[x] = qRgb(shown, shown, shown);
        }
    }
    difference.save(artifacts() + "/difference/" + name + ".png");
    const double mean = total / (opengl.width() * opengl.height());
    const double worst = *std::max_element(blocks.cbegin(), blocks.cend());
    qInfo().noquote() << QStringLiteral("%1: mean difference %2, worst 16 px square %3")
                                 .arg(name)
                                 .arg(mean, 0, 'f', 2)
                                 .arg(worst, 0, 'f', 1);
    QVERIFY2(mean <= MeanLimit, qPrintable(QString::number(mean)));
    QVERIFY2(worst <= BlockLimit, qPrintable(QString::number(worst)));
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

int main(int argc, char *argv[])
{
    qputenv("QT_IM_MODULE", QByteArrayLiteral("freevirtualkeyboard"));
    runtimepaths::addLibraryPaths();
    QGuiApplication app(argc, argv);
    QTEST_SET_MAIN_SOURCE_PATH
    if (qEnvironmentVariableIsSet("TESSIVO_BACKENDS_PASS")) {
        RenderPass pass;
        return QTest::qExec(&pass, argc, argv);
    }
    TestBackends test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_backends.moc"
