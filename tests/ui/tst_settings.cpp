#include "brokerfixture.h"
#include "controllerfixture.h"
#include "scenetest.h"
#include "logcapture.h"
#include "servicedouble.h"
#include "waituntil.h"

#include "app/config.h"
#include "app/logger.h"
#include "app/resources.h"
#include "app/runtimepaths.h"
#include "controller/guimanager.h"
#include "maintenance/event.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHash>
#include <QInputMethod>
#include <QJsonArray>
#include <QJsonDocument>
#include <QQmlError>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTouchDevice>

namespace {

const QString Blm = QStringLiteral("orvo/blm");
const QString Board = QStringLiteral("orvo/board");
const QString Inspector = QStringLiteral("orvo/inspector");
const QString Device = QStringLiteral("orvo/device");
const QString Network = QStringLiteral("orvo/network");
const QString Ui = QStringLiteral("orvo/ui");
const QString ValidWav = QStringLiteral("/opt/orvo/tessivo/Valid.wav");
// What the PIN line shows for each digit typed.
const QString Dot = QStringLiteral("\u2022");

QJsonObject statusOnline()
{
    return QJsonObject{
        {"service", true},
        {"obu", QJsonObject{{"vehicleUuid", "BUS-0815"}}},
        {"device", QJsonObject{{"rfid", QJsonObject{{"state", 1}, {"active", true}, {"error", "none"},
                                                    {"sams", QJsonArray{QJsonObject{
                                                                 {"slot", 2}, {"name", "CALYPSO"}, {"version", "3.1"},
                                                                 {"uid", "A1B2C3D4"}, {"mode", "secure"},
                                                                 {"unlocked", true}, {"production", "2021-03-15"}}}}}},
                               {"barcode", QJsonObject{{"active", true}, {"enabled", false}}}}},
        {"state", QJsonObject{{"init", false}, {"hasRfid", true}, {"hasNtp", true}, {"hasRoute", true},
                              {"hasQr", true}, {"hasObu", true}}},
    };
}

QJsonObject validatorInfo()
{
    return QJsonObject{
        {"service", QJsonObject{{"version", "2.4.1"}}},
        {"device", QJsonObject{{"rfid", QJsonObject{{"firmware", "RF-7.2"}, {"model", "R300"},
                                                    {"manufacturer", "Acme"}, {"uid", "0042"}}},
                               {"barcode", QJsonObject{{"firmware", "BC-1.9"}, {"model", "Q10"},
                                                       {"manufacturer", "Scanix"}}}}},
    };
}

QJsonObject validatorConfig()
{
    return QJsonObject{
        {"blm", QJsonObject{{"obu_host", "10.0.0.2"}, {"obu_port", "1883"}, {"obu_username", "obu"},
                            {"obu_password", "pw"}}},
        {"validator", QJsonObject{{"passbackTime", "60"}, {"qr_passback", "false"}}},
    };
}

QJsonObject boardStatus(bool ignition)
{
    return QJsonObject{{"service", true},
                       {"device", QJsonObject{{"active", true}, {"ignition", ignition}, {"poleId", "P-0099"},
                                              {"temperature", 40.5}, {"voltage", 24.0}}}};
}

} // namespace

// The maintenance area as it runs: the real controller and scene under an X server, a broker,
// and a service double playing the validation, board, inspector, network and device services.
class TestSettings : public SceneTest
{
    Q_OBJECT

public:
    TestSettings() : SceneTest("settings") {}

private slots:

    // Login
    void pinTypedOnPadOpensSettings();
    void padKeys_data();
    void padKeys();
    void wrongPinShakesAndClears();
    void entryClearedOnEveryVisibilityChange();
    void wrongPinsLockThePad();

    // Frame
    void menuListsEightPages();
    void stackReturnsToMenuWhenShownAgain();
    void confirmationDialogRunsCommand_data();
    void confirmationDialogRunsCommand();
    void configurationQrPopup();
    void sessionEndClosesEverything_data();
    void sessionEndClosesEverything();

    // Validator
    void validatorPageShowsService();
    void validatorStatusColours_data();
    void validatorStatusColours();
    void validatorSaveEnabledOnlyOnChange_data();
    void validatorSaveEnabledOnlyOnChange();
    void validatorSaveWritesInOrder();
    void validatorRefusesBadInput_data();
    void validatorRefusesBadInput();

    // Diagnostics
    void diagnosticsRowsAndStart();
    void diagnosticsDialogs_data();
    void diagnosticsDialogs();
    void diagnosticsReaderTests();
    void diagnosticsRgbTest();
    void diagnosticsSerialSettings();
    void diagnosticsFinish();

    // Other pages
    void regionPage();
    void audioPage();
    void displayPage();
    void networkPage();
    void ethernetSaveChecks_data();
    void ethernetSaveChecks();
    void updateInstallEnabling_data();
    void updateInstallEnabling();
    void eventLogPage();

private:
    void startController();
    void login();
    QQuickItem *openPage(const QString &title, const QString &page);
    void shoot(const QString &name);
    bool opened(const QString &objectName) const;
    void reveal(QQuickItem *target);
    void tap(const QString &objectName, QObject *under = nullptr);
    void tapYes(const QString &popup, bool yes = true);
    void choose(const QString &combo, int index);
    void typeOnPanel(const QString &text, const QString &shootSymbols = QString());
    QColor colourOf(const QString &objectName) const;
    int stackDepth() const;
};

void TestSettings::startController()
{
    startScene("en_IE");
    if (QTest::currentTestFailed())
        return;
    // One round trip shows the proxies' subscriptions are live.
    QTRY_VERIFY(m_service->publish(Board + "/status", boardStatus(true)) && m_manager->board().status() == "online");
    QVERIFY(m_service->publish(Blm + "/status", statusOnline()));
    QTRY_COMPARE(m_manager->screen(), QStringLiteral("ScanScreens"));
}

void TestSettings::login()
{
    m_manager->setMaintenanceScreen();
    QTRY_VERIFY(shown("loginPage"));
    for (const QString key : {"4", "8", "2", "6"})
        tap("pinKey_" + key);
    QCOMPARE(text("pinText"), Dot.repeated(4));
    tap("loginButton");
    QTRY_VERIFY(shown("settingsPage"));
    QTRY_COMPARE(stackDepth(), 1);
}

QQuickItem *TestSettings::openPage(const QString &title, const QString &page)
{
    QString row = title;
    tap("menuRow_" + row.remove(' '));
    if (!waitUntil([&] { return shown(page) && stackDepth() == 2; }))
        return nullptr;
    // Let the push transition settle, so taps land where the items are drawn.
    auto *stack = item("settingsStack");
    waitUntil([&] { return !stack->property("busy").toBool(); });
    return item(page);
}

void TestSettings::shoot(const QString &name)
{
    // A page caught half-way through its slide is no picture of it.
    if (QObject *stack = find("settingsStack"))
        waitUntil([stack] { return !stack->property("busy").toBool(); });
    grab(name);
}

bool TestSettings::opened(const QString &objectName) const
{
    QObject *popup = find(objectName);
    return popup && popup->property("opened").toBool();
}

// Scrolls the page holding the item until the item is in view, as a technician would.
void TestSettings::reveal(QQuickItem *target)
{
    for (QQuickItem *parent = target->parentItem(); parent; parent = parent->parentItem()) {
        if (!parent->inherits("QQuickFlickable"))
            continue;
        auto *content = parent->property("contentItem").value<QQuickItem *>();
        const qreal y = target->mapToItem(content, QPointF()).y();
        const qreal contentY = parent->property("contentY").toReal();
        if (y >= contentY && y + target->height() <= contentY + parent->height())
            return;
        const qreal last = qMax(0.0, parent->property("contentHeight").toReal() - parent->height());
        parent->setProperty("contentY", qBound(0.0, y - 20, last));
        QTest::qWait(20);
        return;
    }
}

void TestSettings::tap(const QString &objectName, QObject *under)
{
    QQuickItem *target = item(objectName, under);
    QVERIFY2(target && target->isVisible(), qPrintable("not shown: " + objectName));
    // Nothing is where it will be drawn while the page stack is still sliding.
    if (QObject *stack = find("settingsStack"))
        QVERIFY(waitUntil([stack] { return !stack->property("busy").toBool(); }));
    reveal(target);
    touch(centreOf(target));
}

// A dialog's buttons are there once its opening transition has run.
void TestSettings::tapYes(const QString &popup, bool yes)
{
    QObject *dialog = find(popup);
    QVERIFY(dialog);
    QTRY_VERIFY(dialog->property("opened").toBool());
    const QString button = yes ? "popupYesButton" : "popupNoButton";
    QTRY_VERIFY(shown(button, dialog));
    touch(centreOf(item(button, dialog)));
    QTRY_VERIFY(!dialog->property("visible").toBool());
}

// What a technician's pick from a drop-down list does: the index changes and "activated" fires.
void TestSettings::choose(const QString &combo, int index)
{
    QObject *box = find(combo);
    QVERIFY2(box, qPrintable(combo));
    QVERIFY(box->setProperty("currentIndex", index));
    QVERIFY(QMetaObject::invokeMethod(box, "activated", Q_ARG(int, index)));
}

// Types on the keyboard panel key by key, switching to the symbols layer for the signs the
// letter layer lacks; `shootSymbols` names a picture taken the first time that layer is up.
void TestSettings::typeOnPanel(const QString &text, const QString &shootSymbols)
{
    QObject *panel = find("settingsInputPanel");
    QVERIFY(panel);
    QTRY_COMPARE(item("settingsInputPanel")->y(), m_window->height() - 250.0);
    const QHash<QChar, QString> named = {{'.', "period"}, {':', "colon"}, {'/', "slash"},
                                         {'-', "minus"}, {'_', "underscore"}, {' ', "space"}};
    bool shot = false;
    for (const QChar c : text) {
        const bool sign = !c.isLetterOrNumber() && !named.contains(c);
        if (sign != panel->property("symbols").toBool())
            tap("key_symbols", panel);
        if (sign && !shot && !shootSymbols.isEmpty()) {
            shoot(shootSymbols);
            shot = true;
        }
        tap("key_" + named.value(c, QString(c)), panel);
    }
}

QColor TestSettings::colourOf(const QString &objectName) const
{
    QObject *object = find(objectName);
    return object ? object->property("color").value<QColor>() : QColor();
}

int TestSettings::stackDepth() const
{
    QObject *stack = find("settingsStack");
    return stack ? stack->property("depth").toInt() : -1;
}

// ---------------------------------------------------------------------------------------------
// Login

// The configured PIN typed on the pad shows as one dot per digit (passengers see the screen,
// and the pictures are kept), enables LOGIN and opens the settings menu with its own tool bar
// instead of the passenger header.
void TestSettings::pinTypedOnPadOpensSettings()
{
    startController();
    m_manager->setMaintenanceScreen();
    QTRY_VERIFY(shown("loginPage"));
    QCOMPARE(text("pinText"), QStringLiteral("Pin"));
    QCOMPARE(colourOf("pinText"), QColor("#8f8f8f"));
    QVERIFY(!find("loginButton")->property("enabled").toBool());
    shoot("login");
    LogCapture log;
    for (const QString key : {"4", "8", "2", "6"})
        tap("pinKey_" + key);
    QCOMPARE(text("pinText"), Dot.repeated(4));
    QCOMPARE(find("loginPage")->property("pin").toString(), QStringLiteral("4826"));
    QVERIFY(find("loginButton")->property("enabled").toBool());
    shoot("login-typed");
    tap("loginButton");
    QTRY_COMPARE(m_manager->screen(), QStringLiteral("Settings"));
    QTRY_VERIFY(shown("settingsPage"));
    QVERIFY(!shown("loginPage"));
    QVERIFY(!shown("header"));
    QVERIFY(m_manager->session().sessionActive());
    QCOMPARE(log.count("[QML] Settings access granted"), 1);
    QCOMPARE(text("settingsTitle"), QStringLiteral("Settings"));
    QVERIFY(!shown("settingsBackButton"));
    shoot("settings-menu");
}

void TestSettings::padKeys_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QString>("shown");
    QTest::newRow("digits") << QStringList{"1", "2", "3", "0"} << "1230";
    QTest::newRow("arrow deletes last") << QStringList{"7", "8", "back"} << "7";
    // "shown" is the entry; the line shows a dot for each of its digits, or the placeholder.
    QTest::newRow("arrow to placeholder") << QStringList{"7", "back"} << "Pin";
    QTest::newRow("arrow on empty") << QStringList{"back", "back"} << "Pin";
    QTest::newRow("clear") << QStringList{"5", "9", "clear"} << "Pin";
    QTest::newRow("after clear") << QStringList{"5", "clear", "9"} << "9";
}

// The arrow deletes one digit and CLR all of them; with none left the placeholder returns.
void TestSettings::padKeys()
{
    QFETCH(QStringList, keys);
    QFETCH(QString, shown);
    startController();
    m_manager->setMaintenanceScreen();
    QTRY_VERIFY(this->shown("loginPage"));
    for (const QString &key : keys)
        tap("pinKey_" + key);
    QCOMPARE(text("pinText"), shown == "Pin" ? shown : Dot.repeated(shown.size()));
    QCOMPARE(find("loginPage")->property("pin").toString(), shown == "Pin" ? QString() : shown);
    QCOMPARE(find("loginButton")->property("enabled").toBool(), shown != "Pin");
}

// A wrong PIN shakes the pad +10/-10 px, twice, clears the entry and disables LOGIN until a
// digit is typed again.
void TestSettings::wrongPinShakesAndClears()
{
    startController();
    m_manager->setMaintenanceScreen();
    QTRY_VERIFY(shown("loginPage"));
    for (const QString key : {"1", "1", "1", "1"})
        tap("pinKey_" + key);
    QObject *offset = find("padShake");
    QObject *animation = find("padShakeAnimation");
    QVERIFY(offset && animation);
    LogCapture log;
    tap("loginButton");
    QTRY_VERIFY(animation->property("running").toBool());
    QCOMPARE(text("pinText"), QStringLiteral("Pin"));
    QVERIFY(!find("loginButton")->property("enabled").toBool());
    qreal lowest = 0, highest = 0;
    int crossings = 0;
    qreal previous = 0;
    QVERIFY(waitUntil([&] {
        const qreal x = offset->property("x").toReal();
        lowest = qMin(lowest, x);
        highest = qMax(highest, x);
        if (previous > 0 && x <= 0)
            ++crossings;
        previous = x;
        return !animation->property("running").toBool();
    }, 3000));
    // Sampled while it runs: the turning points are seen within a frame of their values.
    QVERIFY2(highest > 8.0 && highest <= 10.0, qPrintable(QString::number(highest)));
    QVERIFY2(lowest < -8.0 && lowest >= -10.0, qPrintable(QString::number(lowest)));
    QCOMPARE(crossings, 2);
    QCOMPARE(offset->property("x").toReal(), 0.0);
    QCOMPARE(log.count("[QML] Settings access denied"), 1);
    QCOMPARE(m_manager->screen(), QStringLiteral("Login"));
    QVERIFY(!m_manager->session().sessionActive());
    shoot("login-denied");
    tap("pinKey_3");
    QVERIFY(find("loginButton")->property("enabled").toBool());
}

// A half-typed PIN is gone when the page is shown again.
void TestSettings::entryClearedOnEveryVisibilityChange()
{
    startController();
    m_manager->setMaintenanceScreen();
    QTRY_VERIFY(shown("loginPage"));
    tap("pinKey_9");
    tap("pinKey_9");
    m_manager->setMaintenanceScreen(); // a second gesture leaves the page
    QTRY_VERIFY(!shown("loginPage"));
    QCOMPARE(text("pinText"), QStringLiteral("Pin"));
    m_manager->setMaintenanceScreen();
    QTRY_VERIFY(shown("loginPage"));
    QCOMPARE(text("pinText"), QStringLiteral("Pin"));
    QVERIFY(!find("loginButton")->property("enabled").toBool());
}

// Five wrong PINs switch the pad off while the PIN line counts the wait down, in either
// language; the event log records the lock-out once, and when the wait is over the pad is
// back and the right PIN opens the settings.
void TestSettings::wrongPinsLockThePad()
{
    startController();
    SessionManager &session = m_manager->session();
    session.setLockoutInterval(4000);
    m_manager->setMaintenanceScreen();
    QTRY_VERIFY(shown("loginPage"));
    for (int attempt = 0; attempt < SessionManager::MaxWrongPins; ++attempt) {
        QTRY_VERIFY(find("pinKey_1")->property("enabled").toBool());
        for (const QString key : {"1", "2", "3", "4"})
            tap("pinKey_" + key);
        tap("loginButton");
        QTRY_VERIFY(!find("loginButton")->property("enabled").toBool());
    }
    QTRY_VERIFY(session.locked());
    const auto seconds = [&] { return QString::number(session.lockSecondsLeft()); };
    QTRY_COMPARE(text("pinText"), "Try again in " + seconds() + " s");
    QVERIFY(!find("pinKey_4")->property("enabled").toBool());
    QVERIFY(!find("pinKey_clear")->property("enabled").toBool());
    tap("pinKey_4"); // a tap on the switched-off pad types nothing
    QVERIFY(!find("loginButton")->property("enabled").toBool());
    shoot("login-locked");
    m_manager->setLanguage("el_GR");
    QTRY_COMPARE(text("pinText"), QString::fromUtf8("Δοκιμάστε ξανά σε ") + seconds() + QString::fromUtf8(" δευτ."));
    shoot("login-locked-el");
    m_manager->setLanguage("en_IE");
    int lockEvents = 0;
    for (const Event *event : m_manager->eventLog().events()) {
        if (event->name() == QLatin1String("Maintenance login locked")) {
            ++lockEvents;
            QCOMPARE(event->category(), QStringLiteral("General"));
            QVERIFY(event->description().startsWith("Wrong PINs : 5\nLocked for : 4 s\nDate : "));
        }
    }
    QCOMPARE(lockEvents, 1);

    QTRY_VERIFY_WITH_TIMEOUT(!session.locked(), 10000);
    // The Login page may have timed out meanwhile: the technician opens it again.
    if (!shown("loginPage"))
        m_manager->setMaintenanceScreen();
    QTRY_VERIFY(shown("loginPage"));
    QTRY_COMPARE(text("pinText"), QStringLiteral("Pin"));
    QVERIFY(find("pinKey_4")->property("enabled").toBool());
    for (const QString key : {"4", "8", "2", "6"})
        tap("pinKey_" + key);
    QCOMPARE(text("pinText"), Dot.repeated(4));
    tap("loginButton");
    QTRY_VERIFY(shown("settingsPage"));
    QVERIFY(session.sessionActive());
}

// ---------------------------------------------------------------------------------------------
// Frame

// The menu lists the eight pages in order; each opens with its title and the back arrow, and
// back returns to the menu.
void TestSettings::menuListsEightPages()
{
    startController();
    login();
    const QList<QPair<QString, QString>> pages = {
        {"Validator", "validatorPage"}, {"Diagnostics", "diagnosticsPage"}, {"Region", "regionPage"},
        {"Audio", "audioPage"},         {"Display", "displayPage"},         {"Network", "networkPage"},
        {"Update", "updatePage"},       {"Event Log", "eventLogPage"},
    };
    qreal previousY = -1;
    for (const auto &page : pages) {
        QString name = page.first;
        QQuickItem *row = item("menuRow_" + name.remove(' '));
        QVERIFY(row);
        QVERIFY(row->mapToScene(QPointF()).y() > previousY);
        previousY = row->mapToScene(QPointF()).y();
        QCOMPARE(row->height(), item("settingsStack")->height() / 8);
        QCOMPARE(row->property("title").toString(), page.first);
    }
    for (const auto &page : pages) {
        QVERIFY(openPage(page.first, page.second));
        QCOMPARE(text("settingsTitle"), page.first);
        QVERIFY(shown("settingsBackButton"));
        tap("settingsBackButton");
        QTRY_COMPARE(stackDepth(), 1);
        QTRY_VERIFY(!find(page.second));
        QCOMPARE(text("settingsTitle"), QStringLiteral("Settings"));
    }
    tap("settingsMenuButton");
    QTRY_VERIFY(opened("settingsMenu"));
    QTest::qWait(300); // the menu's opening transition, for the picture only
    shoot("settings-menu-open");
    // The menu's last item ends the session.
    tap("menuLogout");
    QTRY_COMPARE(m_manager->screen(), QStringLiteral("ScanScreens"));
    QVERIFY(!m_manager->session().sessionActive());
    QTRY_VERIFY(!opened("settingsMenu"));
}

// A page left open when the settings screen goes is closed the next time it is shown.
void TestSettings::stackReturnsToMenuWhenShownAgain()
{
    startController();
    login();
    QVERIFY(openPage("Validator", "validatorPage"));
    tap("validatorConfigureButton");
    QTRY_COMPARE(stackDepth(), 3);
    m_manager->setScreen("ScanScreens");
    QTRY_VERIFY(!shown("settingsPage"));
    m_manager->setMaintenanceScreen(); // the session is still on: straight to the settings
    QTRY_VERIFY(shown("settingsPage"));
    QCOMPARE(stackDepth(), 1);
    QCOMPARE(text("settingsTitle"), QStringLiteral("Settings"));
    QVERIFY(!shown("settingsBackButton"));
}

void TestSettings::confirmationDialogRunsCommand_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QString>("message");
    QTest::newRow("reboot yes") << "menuReboot" << true << "/power/reboot/request/1" << "Rebooting";
    QTest::newRow("shutdown yes") << "menuShutdown" << true << "/power/shutdown/request/1" << "Shutting down";
    QTest::newRow("reboot no") << "menuReboot" << false << "/power/reboot/request/1" << "";
    QTest::newRow("restart no") << "menuRestart" << false << "" << "";
    // A translation may give both buttons one word; the button, not its label, decides.
    QTest::newRow("no labelled as yes") << "menuShutdown" << false << "/power/shutdown/request/1" << "";
}

// Reboot, shutdown and restart ask "Are you sure?"; only "Yes" runs the command.
void TestSettings::confirmationDialogRunsCommand()
{
    QFETCH(QString, item);
    QFETCH(bool, yes);
    QFETCH(QString, topic);
    QFETCH(QString, message);
    startController();
    login();
    tap("settingsMenuButton");
    QTRY_VERIFY(opened("settingsMenu"));
    QTRY_VERIFY(shown(item));
    tap(item);
    QTRY_VERIFY(opened("confirmPopup"));
    QCOMPARE(find("confirmPopup")->property("text").toString(), QStringLiteral("Are you sure?"));
    if (QTest::currentDataTag() == QByteArray("reboot no"))
        shoot("settings-confirm");
    if (QTest::currentDataTag() == QByteArray("no labelled as yes")) {
        QObject *dialog = find("confirmPopup");
        QTRY_VERIFY(shown("popupNoButton", dialog));
        QVERIFY(find("popupNoButton", dialog)->setProperty("text", find("popupYesButton", dialog)->property("text")));
    }
    tapYes("confirmPopup", yes);
    if (yes) {
        QTRY_COMPARE(m_manager->message(), message);
        QVERIFY(m_service->waitFor(Inspector + topic, 1, 5000));
    } else {
        QTest::qWait(200);
        QCOMPARE(m_manager->screen(), QStringLiteral("Settings"));
        if (!topic.isEmpty())
            QCOMPARE(m_service->count(Inspector + topic), 0);
    }
}

// The configuration QR pop-up keeps the barcode reader on while open and lists what a scanned
// code applied.
void TestSettings::configurationQrPopup()
{
    startController();
    login();
    tap("settingsMenuButton");
    QTRY_VERIFY(shown("menuScanConfig"));
    const int enables = m_service->count("orvo/barcode/enable");
    tap("menuScanConfig");
    QTRY_VERIFY(opened("configPopup"));
    QCOMPARE(find("configPopup")->property("text").toString(), QStringLiteral("Scan Configuration QR code"));
    QVERIFY(m_service->waitFor("orvo/barcode/enable", enables + 1));
    QVERIFY(m_service->publish(Blm + "/status", [] {
        QJsonObject status = statusOnline();
        QJsonObject device = status.value("device").toObject();
        device.insert("barcode", QJsonObject{{"active", true}, {"enabled", true}});
        status.insert("device", device);
        return status;
    }()));
    QTRY_VERIFY(m_manager->validator().barcode()->enabled());
    QVERIFY(m_service->publish(Blm + "/barcode/maintenance/scanned",
                               QJsonObject{{"validator", QJsonObject{{"obc", "mqtt://10.1.1.1:1883"}}}}));
    QTRY_COMPARE(find("configPopup")->property("text").toString(),
                 QStringLiteral("CONFIGURATION APPLIED\nOBC : mqtt://10.1.1.1:1883"));
    QTest::qWait(300);
    shoot("settings-config-qr");
    tap("popupText", find("configPopup"));
    QTRY_VERIFY(!opened("configPopup"));
    QVERIFY(m_service->waitFor("orvo/barcode/disable"));
}

void TestSettings::sessionEndClosesEverything_data()
{
    QTest::addColumn<QString>("end");
    QTest::newRow("logout") << "logout";
    QTest::newRow("expiry") << "expiry";
    QTest::newRow("ignition off") << "ignition";
}

// However the session ends, a passenger screen returns, every dialog closes (stopping what it
// started) and the settings reopen on their menu.
void TestSettings::sessionEndClosesEverything()
{
    QFETCH(QString, end);
    startController();
    if (end == "expiry")
        m_manager->session().setSessionInterval(4000);
    login();
    QVERIFY(openPage("Diagnostics", "diagnosticsPage"));
    tap("diagLeds");
    QTRY_VERIFY(opened("diagnosticsDialog"));
    QVERIFY(m_service->waitFor(Board + "/led/play/request/1"));
    QVERIFY(m_manager->diagnostics()->isRunning());
    const int offs = m_service->count(Board + "/led/off/request/1");

    if (end == "logout") {
        // The menu button sits outside the modal dialog's reach only for the controller.
        m_manager->settingsLogoutRequest();
    } else if (end == "expiry") {
        QTRY_VERIFY_WITH_TIMEOUT(!m_manager->session().sessionActive(), 10000);
    } else {
        QVERIFY(m_service->publish(Board + "/status", boardStatus(false)));
    }
    const QString passenger = end == "ignition" ? "ScreenSaver" : "ScanScreens";
    QTRY_COMPARE(m_manager->screen(), passenger);
    QTRY_VERIFY(!shown("settingsPage"));
    QTRY_VERIFY(!find("diagnosticsDialog"));
    QTRY_VERIFY(!find("diagnosticsPage"));
    QVERIFY(m_service->waitFor(Board + "/led/off/request/1", offs + 1));
    QVERIFY(!m_manager->diagnostics()->isRunning());
    QCOMPARE(stackDepth(), 1);
    const QList<QObject *> popups = m_window->contentItem()->findChildren<QObject *>();
    for (QObject *object : popups) {
        if (object->inherits("QQuickPopup"))
            QVERIFY2(!object->property("visible").toBool(), qPrintable(object->objectName()));
    }
    shoot("session-end-" + end.left(end.indexOf(' ') < 0 ? end.size() : end.indexOf(' ')));
}

// ---------------------------------------------------------------------------------------------
// Validator

// Every row of the validator page shows what the validation service and the board reported.
void TestSettings::validatorPageShowsService()
{
    startController();
    QVERIFY(m_service->publish(Blm + "/info", validatorInfo()));
    QTRY_COMPARE(m_manager->validator().version(), QStringLiteral("2.4.1"));
    login();
    QVERIFY(openPage("Validator", "validatorPage"));
    const QList<QPair<QString, QString>> rows = {
        {"validatorSerial", "K00000042"}, {"validatorPoleId", "P-0099"}, {"validatorVehicle", "BUS-0815"},
        {"validatorVersion", "2.4.1"},    {"validatorStatus", "online"},  {"validatorReason", ""},
        {"rfidFirmware", "RF-7.2"},       {"rfidModel", "R300 Acme"},    {"rfidUid", "0042"},
        {"rfidState", "Idle"},            {"rfidError", "none"},         {"barcodeFirmware", "BC-1.9"},
        {"barcodeModel", "Q10 Scanix"},   {"barcodeActive", "Yes"},      {"barcodeEnabled", "No"},
        {"samSlot", "2"},                 {"samName", "CALYPSO"},        {"samVersion", "3.1"},
        {"samUid", "A1B2C3D4"},           {"samMode", "secure"},         {"samUnlocked", "Yes"},
        {"samProduction", "2021-03-15"},
    };
    for (const auto &row : rows)
        QCOMPARE(text(row.first + "Value"), row.second);
    QCOMPARE(colourOf("validatorStatusValue"), QColor("#4CAF50"));
    shoot("validator");
    reveal(item("validatorConfigureButton"));
    shoot("validator-end");
}

void TestSettings::validatorStatusColours_data()
{
    QTest::addColumn<QString>("flag");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("colour");
    QTest::newRow("degraded amber") << "hasQr" << "degraded" << "#FFC107";
    QTest::newRow("offline red") << "hasRfid" << "offline" << "#F44336";
    QTest::newRow("out-of-service amber") << "hasRoute" << "out-of-service" << "#FFC107";
}

// Status and reason take the status colour: offline red, degraded and the rest amber.
void TestSettings::validatorStatusColours()
{
    QFETCH(QString, flag);
    QFETCH(QString, status);
    QFETCH(QString, colour);
    startController();
    login();
    QVERIFY(openPage("Validator", "validatorPage"));
    QJsonObject message = statusOnline();
    QJsonObject state = message.value("state").toObject();
    state.insert(flag, false);
    message.insert("state", state);
    QVERIFY(m_service->publish(Blm + "/status", message));
    QTRY_COMPARE(text("validatorStatusValue"), status);
    QCOMPARE(colourOf("validatorStatusValue"), QColor(colour));
    QCOMPARE(colourOf("validatorReasonValue"), QColor(colour));
    QVERIFY(!text("validatorReasonValue").isEmpty());
    if (status == "degraded")
        shoot("validator-degraded");
}

void TestSettings::validatorSaveEnabledOnlyOnChange_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("value");
    QTest::newRow("shutdown delay alone") << "shutdownDelaySpin" << QVariant(125);
    QTest::newRow("passback time") << "passbackSpin" << QVariant(61);
    QTest::newRow("OBC host") << "obuHostField" << QVariant("10.0.0.3");
    QTest::newRow("OBC port") << "obuPortField" << QVariant("8883");
    QTest::newRow("OBC user") << "obuUserField" << QVariant("tech");
    QTest::newRow("OBC password") << "obuPasswordField" << QVariant("pw2");
    QTest::newRow("QR passback") << "qrPassbackSwitch" << QVariant(true);
    QTest::newRow("error description") << "showErrorDescSwitch" << QVariant(true);
}

// "Save" stays disabled until one of the fields differs, and again when it is put back; the
// OBC password shows as dots.
void TestSettings::validatorSaveEnabledOnlyOnChange()
{
    QFETCH(QString, field);
    QFETCH(QVariant, value);
    startController();
    QVERIFY(m_service->publish(Blm + "/config", validatorConfig()));
    QTRY_COMPARE(m_manager->validator().config()->passbackSecs(), 60);
    login();
    QVERIFY(openPage("Validator", "validatorPage"));
    tap("validatorConfigureButton");
    QTRY_VERIFY(shown("validatorConfigPage"));
    QCOMPARE(text("settingsTitle"), QStringLiteral("Validator Configuration"));
    QObject *save = find("validatorConfigSave");
    QCOMPARE(text("obuHostField"), QStringLiteral("10.0.0.2"));
    QCOMPARE(text("obuPortField"), QStringLiteral("1883"));
    QCOMPARE(text("obuUserField"), QStringLiteral("obu"));
    QCOMPARE(text("obuPasswordField"), QStringLiteral("pw"));
    QVERIFY(find("obuPasswordField")->property("displayText").toString() != QStringLiteral("pw"));
    QCOMPARE(find("passbackSpin")->property("value").toInt(), 60);
    QCOMPARE(find("shutdownDelaySpin")->property("value").toInt(), m_manager->shutdownDelaySec());
    QVERIFY(!save->property("enabled").toBool());
    if (field == "shutdownDelaySpin")
        shoot("validator-config");

    QObject *target = find(field);
    const char *property = field.endsWith("Spin") ? "value" : field.endsWith("Field") ? "text" : "checked";
    const QVariant before = target->property(property);
    QVERIFY(target->setProperty(property, value));
    QVERIFY(save->property("enabled").toBool());
    QVERIFY(target->setProperty(property, before));
    QVERIFY(!save->property("enabled").toBool());
}

// Save sends the validator's three settings in one request, then stores the shutdown delay
// (the board gets it 60 s longer) and the error description, and returns to the validator page.
void TestSettings::validatorSaveWritesInOrder()
{
    startController();
    QVERIFY(m_service->publish(Blm + "/config", validatorConfig()));
    QTRY_COMPARE(m_manager->validator().config()->passbackSecs(), 60);
    login();
    QVERIFY(openPage("Validator", "validatorPage"));
    tap("validatorConfigureButton");
    QTRY_VERIFY(shown("validatorConfigPage"));
    // The + button of the shutdown delay steps by 5.
    QObject *spin = find("shutdownDelaySpin");
    const int delay = spin->property("value").toInt();
    QVERIFY(QMetaObject::invokeMethod(spin, "increase"));
    QCOMPARE(spin->property("value").toInt(), delay + 5);
    // The broker's parts as a technician types them on the panel, the password with signs that
    // would end a URL's user info if they went into it unescaped.
    const QString password = QStringLiteral("s3#c?r/e%t @x");
    const QList<QPair<QString, QString>> typed = {
        {"obuHostField", "10.9.8.7"}, {"obuPortField", "8883"}, {"obuUserField", "tech"}, {"obuPasswordField", password}};
    for (const auto &field : typed) {
        tap(field.first);
        QTRY_VERIFY(qGuiApp->inputMethod()->isVisible());
        QVERIFY(QMetaObject::invokeMethod(find(field.first), "clear"));
        typeOnPanel(field.second, field.first == "obuPasswordField" ? "validator-config-symbols" : QString());
        QCOMPARE(text(field.first), field.second);
    }
    // Dots until the eye is tapped; the field keeps its keyboard.
    QCOMPARE(find("obuPasswordField")->property("displayText").toString().size(), password.size());
    QVERIFY(!find("obuPasswordField")->property("displayText").toString().contains("s3"));
    shoot("validator-config-password");
    tap("obuPasswordReveal");
    QTRY_COMPARE(find("obuPasswordField")->property("displayText").toString(), password);
    QVERIFY(qGuiApp->inputMethod()->isVisible());
    shoot("validator-config-password-shown");
    tap("key_enter", find("settingsInputPanel"));
    QTRY_VERIFY(!qGuiApp->inputMethod()->isVisible());
    // Gone from the screen, so the panel's slide-out takes no tap meant for the page.
    QTRY_VERIFY(!item("settingsInputPanel")->isVisible());
    find("passbackSpin")->setProperty("value", 90);
    find("qrPassbackSwitch")->setProperty("checked", true);
    find("showErrorDescSwitch")->setProperty("checked", !m_manager->showErrorDesc());
    const bool errorDesc = !m_manager->showErrorDesc();
    m_service->clear();
    tap("validatorConfigSave");
    QVERIFY(m_service->waitFor(Blm + "/config/set"));
    const QJsonObject body = m_service->lastJson(Blm + "/config/set");
    QCOMPARE(body.value("blm").toObject(), (QJsonObject{{"obu_username", "tech"}, {"obu_password", password},
                                                        {"obu_host", "10.9.8.7"}, {"obu_port", 8883}}));
    QCOMPARE(body.value("validator").toObject(), (QJsonObject{{"passbackTime", 90}, {"qr_passback", true}}));
    QTRY_COMPARE(m_manager->shutdownDelaySec(), delay + 5);
    QCOMPARE(m_manager->showErrorDesc(), errorDesc);
    QVERIFY(m_service->waitFor(Board + "/config/set"));
    QCOMPARE(m_service->lastJson(Board + "/config/set").value("device").toObject().value("delayShutdownFor").toInt(),
             delay + 5 + 60);
    QTRY_COMPARE(stackDepth(), 2);
    QVERIFY(shown("validatorPage"));

    // "Back" asks the service for its settings again and leaves without saving.
    tap("validatorConfigureButton");
    QTRY_VERIFY(shown("validatorConfigBack"));
    m_service->clear();
    tap("validatorConfigBack");
    QVERIFY(m_service->waitFor(Blm + "/config/get"));
    QTRY_COMPARE(stackDepth(), 2);
    QCOMPARE(m_service->count(Blm + "/config/set"), 0);
}

void TestSettings::validatorRefusesBadInput_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::newRow("empty host") << "obuHostField" << "";
    QTest::newRow("words") << "obuHostField" << "not a host";
    QTest::newRow("host with a path") << "obuHostField" << "10.0.0.2/x";
    QTest::newRow("port too big") << "obuPortField" << "70000";
    QTest::newRow("port zero") << "obuPortField" << "0";
    QTest::newRow("port not a number") << "obuPortField" << "18 83";
}

// Parts that make no broker URL are refused with a message: nothing is sent, and the typing
// stays for correction. A typed delay beyond 900 s shows red and is never taken.
void TestSettings::validatorRefusesBadInput()
{
    QFETCH(QString, field);
    QFETCH(QString, value);
    startController();
    QVERIFY(m_service->publish(Blm + "/config", validatorConfig()));
    QTRY_COMPARE(m_manager->validator().config()->passbackSecs(), 60);
    login();
    QVERIFY(openPage("Validator", "validatorPage"));
    tap("validatorConfigureButton");
    QTRY_VERIFY(shown("validatorConfigPage"));
    find(field)->setProperty("text", value);
    m_service->clear();
    tap("validatorConfigSave");
    QTRY_VERIFY(opened("validatorConfigRefusal"));
    QCOMPARE(find("validatorConfigRefusal")->property("text").toString(), QStringLiteral("OBC URL is not a valid URL"));
    QCOMPARE(text(field), value);
    QCOMPARE(colourOf(field), QColor("#F44336"));
    const bool first = QTest::currentDataTag() == QByteArray("empty host");
    if (first)
        shoot("validator-config-refused");
    QTest::qWait(200);
    QCOMPARE(m_service->count(Blm + "/config/set"), 0);
    QCOMPARE(stackDepth(), 3);
    QCOMPARE(m_manager->validator().config()->obuUrl().host(), QStringLiteral("10.0.0.2"));
    tap("popupText", find("validatorConfigRefusal"));
    QTRY_VERIFY(!find("validatorConfigRefusal")->property("visible").toBool());

    // Typed on the keyboard panel: 950 is red and leaves the delay as it was.
    const int delay = m_manager->shutdownDelaySec();
    QQuickItem *input = item("shutdownDelaySpinInput");
    QVERIFY(input);
    tap("shutdownDelaySpinInput");
    QTRY_VERIFY(qGuiApp->inputMethod()->isVisible());
    input->setProperty("text", QString());
    for (const QString key : {"key_9", "key_5", "key_0"})
        tap(key, find("settingsInputPanel"));
    QCOMPARE(input->property("text").toString(), QStringLiteral("950"));
    QVERIFY(!find("shutdownDelaySpin")->property("typedValid").toBool());
    QCOMPARE(input->property("color").value<QColor>(), QColor("#F44336"));
    QTRY_COMPARE(item("settingsInputPanel")->y(), m_window->height() - 250.0);
    if (first)
        shoot("validator-config-keyboard");
    tap("key_enter", find("settingsInputPanel"));
    QTRY_VERIFY(!qGuiApp->inputMethod()->isVisible());
    QCOMPARE(find("shutdownDelaySpin")->property("value").toInt(), delay);
    QCOMPARE(input->property("text").toString(), QStringLiteral("950"));
    tap("obuUserField"); // leaving the field drops the refused text
    QTRY_VERIFY(!input->hasActiveFocus());
    QTRY_COMPARE(input->property("text").toString(), QString::number(delay));
    QCOMPARE(m_manager->shutdownDelaySec(), delay);
}

// ---------------------------------------------------------------------------------------------
// Diagnostics

// The page starts the checks and shows the 19 results, each coloured by its outcome; leaving
// stops the checks.
void TestSettings::diagnosticsRowsAndStart()
{
    startController();
    login();
    QVERIFY(openPage("Diagnostics", "diagnosticsPage"));
    QVERIFY(m_manager->diagnostics()->isRunning());
    const QStringList keys = {"rtc", "ethernet", "usbHub", "usbHost", "ftdi", "mPCIe1", "touch", "sdCard",
                              "ignition", "temperature", "voltage", "rfidUsb", "rfidService", "barcodeUsb",
                              "barcodeService", "sam", "boardService", "poleId", "serialPortTest"};
    for (const QString &key : keys) {
        const QString value = m_manager->diagnostics()->property(qPrintable(key)).toString();
        QCOMPARE(text("diag_" + key + "Value"), value);
        const QColor expected = value.isEmpty() ? QColor("#9E9E9E")
                                : value == "OK" ? QColor("#4CAF50")
                                : value.contains("ERROR") ? QColor("#F44336") : QColor("#FFC107");
        QCOMPARE(colourOf("diag_" + key + "Value"), expected);
    }
    QCOMPARE(text("diag_ignitionValue"), QStringLiteral("OK"));
    shoot("diagnostics");
    reveal(item("diagFinish"));
    shoot("diagnostics-buttons");
    tap("settingsBackButton");
    QTRY_COMPARE(stackDepth(), 1);
    QTRY_VERIFY(!m_manager->diagnostics()->isRunning());
}

void TestSettings::diagnosticsDialogs_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("result");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QString>("openTopic");
    QTest::addColumn<QString>("closeTopic");
    QTest::addColumn<QString>("reportLine");
    QTest::newRow("buzzer yes") << "diagBuzzer" << "buzzer" << true << "Can you hear the buzzer?"
                                << Board + "/buzzer/play/request/1" << "" << " Buzzer ";
    QTest::newRow("buzzer no") << "diagBuzzer" << "buzzer" << false << "Can you hear the buzzer?"
                               << Board + "/buzzer/play/request/1" << "" << " Buzzer ";
    QTest::newRow("leds yes") << "diagLeds" << "leds" << true << "Can you see the LEDs flashing?"
                              << Board + "/led/play/request/1" << Board + "/led/off/request/1" << " Front LEDs ";
    QTest::newRow("leds no") << "diagLeds" << "leds" << false << "Can you see the LEDs flashing?"
                             << Board + "/led/play/request/1" << Board + "/led/off/request/1" << " Front LEDs ";
    QTest::newRow("speaker yes") << "diagSpeaker" << "speaker" << true << "Can you hear the internal speaker?"
                                 << Inspector + "/audio/play" << "" << "";
    QTest::newRow("sensor no") << "diagSensor" << "lightSensor" << false
                               << "Is LCD brightness adjusting?\nBrightness : 35%\nLight Sensor : 12%"
                               << Board + "/display/get" << "" << " Light Sensor ";
}

// Each manual test does its thing while its question is open, stops it on the answer, and the
// answer becomes the result, its button's colour and the report's line.
void TestSettings::diagnosticsDialogs()
{
    QFETCH(QString, button);
    QFETCH(QString, result);
    QFETCH(bool, yes);
    QFETCH(QString, question);
    QFETCH(QString, openTopic);
    QFETCH(QString, closeTopic);
    QFETCH(QString, reportLine);
    startController();
    QVERIFY(m_service->publish(Board + "/display", QJsonObject{{"brightness", 35}, {"sensor", 12}, {"mode", "auto"}}));
    QTRY_COMPARE(m_manager->board().ambientLightSensor(), 12);
    login();
    QVERIFY(openPage("Diagnostics", "diagnosticsPage"));
    QCOMPARE(m_manager->diagnostics()->property(qPrintable(result)).toString(), QString());
    m_service->clear();
    tap(button);
    QTRY_VERIFY(opened("diagnosticsDialog"));
    QCOMPARE(find("diagnosticsDialog")->property("text").toString(), question);
    QVERIFY(m_service->waitFor(openTopic));
    if (openTopic.endsWith("/buzzer/play/request/1"))
        QCOMPARE(m_service->lastJson(openTopic), (QJsonObject{{"onMsec", 100}, {"offMsec", 200}, {"repeat", 3}}));
    if (openTopic.endsWith("/audio/play"))
        QCOMPARE(m_service->lastJson(openTopic).value("filepath").toString(), ValidWav);
    if (yes)
        shoot("diagnostics-dialog-" + result);
    if (!closeTopic.isEmpty())
        QCOMPARE(m_service->count(closeTopic), 0);
    tapYes("diagnosticsDialog", yes);
    QCOMPARE(m_manager->diagnostics()->property(qPrintable(result)).toString(), QString(yes ? "OK" : "ERROR"));
    if (!closeTopic.isEmpty())
        QVERIFY(m_service->waitFor(closeTopic));
    if (button == "diagSensor") {
        // The sensor's monitoring stops with the dialog: no more refreshes come.
        QTest::qWait(300);
        const int refreshes = m_service->count(Board + "/display/get");
        QTest::qWait(2500);
        QCOMPARE(m_service->count(Board + "/display/get"), refreshes);
    }
    if (!reportLine.isEmpty()) {
        const QString old = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir->path()));
        m_manager->diagnostics()->saveReport();
        QDir::setCurrent(old);
        const QStringList reports = QDir(m_dir->path()).entryList({"TestReport_*.txt"});
        QCOMPARE(reports.size(), 1);
        QFile file(m_dir->filePath(reports.first()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString report = QString::fromUtf8(file.readAll());
        QString line;
        for (const QString &candidate : report.split('\n'))
            if (candidate.startsWith(reportLine))
                line = candidate;
        QVERIFY2(line.endsWith(yes ? " OK" : " ERROR"), qPrintable(line));
        QTRY_VERIFY(opened("diagnosticsInfo"));
        tap("popupText", find("diagnosticsInfo"));
        QTRY_COMPARE(stackDepth(), 1);
    }
}

// The RFID test switches the card reader on while its pop-up is open and passes on a card; the
// barcode test passes on a scanned ticket and closes by itself.
void TestSettings::diagnosticsReaderTests()
{
    startController();
    login();
    QVERIFY(openPage("Diagnostics", "diagnosticsPage"));
    // The idle screen switched the readers on; a status with both off makes the requests visible.
    QJsonObject status = statusOnline();
    QJsonObject device = status.value("device").toObject();
    device.insert("rfid", QJsonObject{{"state", 0}});
    status.insert("device", device);
    QVERIFY(m_service->publish(Blm + "/status", status));
    QTRY_VERIFY(!m_manager->validator().rfid()->enabled());
    m_service->clear();
    tap("diagRfid");
    QTRY_VERIFY(opened("diagnosticsInfo"));
    QCOMPARE(find("diagnosticsInfo")->property("text").toString(), QStringLiteral("Tap a card"));
    QVERIFY(m_service->waitFor("orvo/rfid/enable"));
    device.insert("rfid", QJsonObject{{"state", 2}});
    status.insert("device", device);
    QVERIFY(m_service->publish(Blm + "/status", status));
    QTRY_VERIFY(find("diagRfid")->property("accent").toBool());
    QVERIFY(m_service->publish("orvo/rfid/card/found", QJsonObject{{"uid", "04A1B2"}, {"type", 1}}));
    QTRY_VERIFY(find("diagnosticsInfo")->property("text").toString().startsWith("CARD DETECTED\n04A1B2\n"));
    QCOMPARE(m_manager->diagnostics()->cardScan(), QStringLiteral("OK"));
    shoot("diagnostics-rfid");
    QVERIFY(m_service->publish("orvo/rfid/card/removed", QJsonObject{}));
    QTRY_COMPARE(find("diagnosticsInfo")->property("text").toString(), QStringLiteral("Tap a card"));
    tap("popupText", find("diagnosticsInfo"));
    QTRY_VERIFY(!find("diagnosticsInfo")->property("visible").toBool());
    QVERIFY(m_service->waitFor("orvo/rfid/disable"));

    tap("diagBarcode");
    QTRY_VERIFY(opened("diagnosticsInfo"));
    QCOMPARE(find("diagnosticsInfo")->property("text").toString(), QStringLiteral("Scan a barcode"));
    QVERIFY(m_service->publish(Blm + "/barcode/scanned",
                               QJsonObject{{"transaction", QJsonObject{{"result", true}, {"type", 0}}}}));
    QTRY_VERIFY(!opened("diagnosticsInfo"));
    QCOMPARE(m_manager->diagnostics()->barcodeScan(), QStringLiteral("OK"));
    QCOMPARE(m_manager->screen(), QStringLiteral("Settings"));
}

// The colour test covers the tool bar, goes red, green, blue, and asks how it went.
void TestSettings::diagnosticsRgbTest()
{
    startController();
    login();
    QVERIFY(openPage("Diagnostics", "diagnosticsPage"));
    tap("diagRgb");
    QTRY_VERIFY(shown("rgbTestPage"));
    QTRY_VERIFY(!shown("settingsToolBar"));
    auto *stack = item("settingsStack");
    QTRY_VERIFY(!stack->property("busy").toBool());
    const QStringList colours = {"#ff0000", "#00ff00", "#0000ff"};
    for (const QString &colour : colours) {
        QCOMPARE(colourOf("rgbTestPage").name(), colour);
        QCOMPARE(picture().pixelColor(240, 20).name(), colour);
        shoot("diagnostics-rgb-" + colour.mid(1));
        touch(QPoint(240, 400));
        QTest::qWait(20);
    }
    QTRY_VERIFY(opened("diagnosticsDialog"));
    QTRY_VERIFY(shown("settingsToolBar"));
    QCOMPARE(find("diagnosticsDialog")->property("text").toString(), QStringLiteral("Was the RGB test successful?"));
    tapYes("diagnosticsDialog");
    QCOMPARE(m_manager->diagnostics()->rgbTest(), QStringLiteral("OK"));
    QCOMPARE(stackDepth(), 2);
}

// The serial settings start from the stored port and flow control; Cancel keeps them, Ok
// stores the choice.
void TestSettings::diagnosticsSerialSettings()
{
    startController();
    login();
    QVERIFY(openPage("Diagnostics", "diagnosticsPage"));
    Diagnostics *diagnostics = m_manager->diagnostics();
    const QStringList ports = diagnostics->serialPorts();
    QVERIFY(!ports.isEmpty());
    tap("diagSerial");
    QTRY_VERIFY(opened("serialPopup"));
    QCOMPARE(find("serialPortCombo")->property("currentText").toString(), diagnostics->serialPort());
    QCOMPARE(find("serialFlowCombo")->property("currentIndex").toInt(), diagnostics->serialFlowCtrl());
    QCOMPARE(text("serialPortDescr"), diagnostics->serialPortDescr(diagnostics->serialPort()));
    shoot("diagnostics-serial");
    find("serialFlowCombo")->setProperty("currentIndex", 2);
    tap("serialCancel");
    QTRY_VERIFY(!find("serialPopup")->property("visible").toBool());
    QCOMPARE(diagnostics->serialFlowCtrl(), 1);
    tap("diagSerial");
    QTRY_VERIFY(opened("serialPopup"));
    QCOMPARE(find("serialFlowCombo")->property("currentIndex").toInt(), 1);
    find("serialFlowCombo")->setProperty("currentIndex", 2);
    tap("serialOk");
    QTRY_VERIFY(!opened("serialPopup"));
    QCOMPARE(diagnostics->serialFlowCtrl(), 2);
}

// FINISH writes the report and shows where, with the summary's QR code; closing that pop-up
// also closes the page.
void TestSettings::diagnosticsFinish()
{
    startController();
    login();
    QVERIFY(openPage("Diagnostics", "diagnosticsPage"));
    const QString old = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    tap("diagFinish");
    QDir::setCurrent(old);
    QTRY_VERIFY(opened("diagnosticsInfo"));
    QObject *info = find("diagnosticsInfo");
    QVERIFY(info->property("text").toString().startsWith("Test report saved successfully:\n./TestReport_"));
    QVERIFY(info->property("imageSource").toString().startsWith("data:image/svg,"));
    QObject *image = find("popupImage", info);
    QTRY_COMPARE(image->property("status").toInt(), 1); // Image.Ready
    QCOMPARE(QDir(m_dir->path()).entryList({"TestReport_*.txt"}).size(), 1);
    QTest::qWait(200);
    shoot("diagnostics-report");
    tap("popupText", info);
    QTRY_COMPARE(stackDepth(), 1);
    QTRY_VERIFY(!m_manager->diagnostics()->isRunning());
}

// ---------------------------------------------------------------------------------------------
// Other pages

// The region page shows the locale's formats and the NTP client's state, and sends the
// technician's NTP settings and sync request.
void TestSettings::regionPage()
{
    startController();
    login();
    m_service->clear();
    QVERIFY(openPage("Region", "regionPage"));
    QVERIFY(m_service->waitFor(Device + "/clock/ntp/status/get"));
    QVERIFY(m_service->publish(Device + "/clock/ntp/config", QJsonObject{{"enabled", true}, {"server", "pool.ntp.org"}}));
    QVERIFY(m_service->publish(Device + "/clock/ntp/status", QJsonObject{{"enabled", true}, {"synced", true}}));
    QTRY_COMPARE(text("ntpServerField"), QStringLiteral("pool.ntp.org"));
    QTRY_VERIFY(find("ntpSyncedIndicator")->property("lit").toBool());
    QVERIFY(find("ntpActiveSwitch")->property("checked").toBool());
    QCOMPARE(find("localeCombo")->property("currentText").toString(), QStringLiteral("en_IE"));
    QCOMPARE(text("languageName"), QLocale("en_IE").nativeLanguageName());
    QVERIFY(!shown("languageFlag"));
    QCOMPARE(text("currencyFormatValue"), QLocale("en_IE").toCurrencyString(0.99));
    const QString before = text("timeFormatValue");
    QTRY_VERIFY(text("timeFormatValue") != before);
    shoot("region");

    choose("localeCombo", 2);
    QTRY_COMPARE(m_manager->language(), QStringLiteral("el_GR"));
    QTRY_VERIFY(shown("languageFlag"));
    QCOMPARE(text("languageName"), QLocale("el_GR").nativeLanguageName());
    QCOMPARE(text("currencyFormatValue"), QLocale("el_GR").toCurrencyString(0.99));
    shoot("region-el");

    m_service->clear();
    QObject *field = find("ntpServerField");
    field->setProperty("text", "time.example.org");
    QVERIFY(QMetaObject::invokeMethod(field, "editingFinished"));
    QVERIFY(m_service->waitFor(Device + "/clock/ntp/config/set"));
    QCOMPARE(m_service->lastJson(Device + "/clock/ntp/config/set"),
             (QJsonObject{{"enabled", true}, {"server", "time.example.org"}}));
    tap("ntpActiveSwitch");
    QVERIFY(m_service->waitFor(Device + "/clock/ntp/config/set", 2));
    QCOMPARE(m_service->lastJson(Device + "/clock/ntp/config/set").value("enabled").toBool(), false);
    tap("ntpSyncButton");
    QVERIFY(m_service->waitFor(Device + "/clock/ntp/sync"));
    QTRY_VERIFY(!find("ntpSyncedIndicator")->property("lit").toBool());
}

// Audio: the switch mutes the board; a released volume plays the validation sound, then sets
// the volume. The slider is off while audio is off.
void TestSettings::audioPage()
{
    startController();
    QVERIFY(m_service->publish(Inspector + "/audio", QJsonObject{{"internal", QJsonObject{{"volume", 40}}}}));
    QTRY_COMPARE(m_manager->inspector().audioVolume(), 40);
    login();
    QVERIFY(openPage("Audio", "audioPage"));
    QObject *slider = find("audioVolumeSlider");
    QCOMPARE(slider->property("value").toInt(), 40);
    QVERIFY(slider->property("enabled").toBool());
    QVERIFY(find("audioEnabledSwitch")->property("checked").toBool());
    shoot("audio");
    m_service->clear();
    QQuickItem *bar = item("audioVolumeSlider");
    const QPoint right = bar->mapToScene(QPointF(bar->width() * 0.8, bar->height() / 2)).toPoint();
    touch(right);
    QVERIFY(m_service->waitFor(Inspector + "/audio/set"));
    const QList<ServiceDouble::Message> messages = m_service->messages();
    int play = -1, set = -1;
    for (int i = 0; i < messages.size(); ++i) {
        if (messages.at(i).topic == Inspector + "/audio/play" && play < 0)
            play = i;
        if (messages.at(i).topic == Inspector + "/audio/set" && set < 0)
            set = i;
    }
    QVERIFY(play >= 0 && play < set);
    QCOMPARE(m_service->lastJson(Inspector + "/audio/play").value("filepath").toString(), ValidWav);
    const int volume = m_service->lastJson(Inspector + "/audio/set").value("internal").toObject().value("volume").toInt();
    QVERIFY2(volume > 60 && volume < 100, qPrintable(QString::number(volume)));

    tap("audioEnabledSwitch");
    QVERIFY(m_service->waitFor(Board + "/audio/set"));
    QCOMPARE(m_service->lastJson(Board + "/audio/set"), (QJsonObject{{"mute", true}}));
    QVERIFY(m_service->publish(Board + "/audio", QJsonObject{{"mute", true}}));
    QTRY_VERIFY(!slider->property("enabled").toBool());
    QVERIFY(!find("audioEnabledSwitch")->property("checked").toBool());
}

// Display: monitored while open; the mode and the manual brightness go to the board; the dark
// theme switch logs its line; the display-off minutes, within the range every path accepts,
// are stored on every change.
void TestSettings::displayPage()
{
    startController();
    QVERIFY(m_service->publish(Board + "/display", QJsonObject{{"brightness", 70}, {"sensor", 33}, {"mode", "auto"}}));
    QTRY_COMPARE(m_manager->board().displayBrightness(), 70);
    login();
    m_service->clear();
    QVERIFY(openPage("Display", "displayPage"));
    QVERIFY(m_service->waitFor(Board + "/display/get", 2, 3000)); // once on opening, then every second
    QCOMPARE(find("brightnessModeCombo")->property("currentText").toString(), QStringLiteral("auto"));
    QVERIFY(!find("brightnessSlider")->property("enabled").toBool());
    QCOMPARE(text("brightnessValue"), QStringLiteral("70%"));
    QCOMPARE(text("ambientLightValue"), QStringLiteral("33%"));
    shoot("display");

    choose("brightnessModeCombo", 1);
    QVERIFY(m_service->waitFor(Board + "/display/set"));
    QCOMPARE(m_service->lastJson(Board + "/display/set"), (QJsonObject{{"mode", "manual"}}));
    QVERIFY(m_service->publish(Board + "/display", QJsonObject{{"brightness", 70}, {"sensor", 33}, {"mode", "manual"}}));
    QTRY_VERIFY(find("brightnessSlider")->property("enabled").toBool());
    QQuickItem *bar = item("brightnessSlider");
    const QPoint left = bar->mapToScene(QPointF(bar->width() * 0.25, bar->height() / 2)).toPoint();
    touch(left);
    QVERIFY(m_service->waitFor(Board + "/display/set", 2));
    const int brightness = m_service->lastJson(Board + "/display/set").value("brightness").toInt(-1);
    QVERIFY2(brightness > 5 && brightness < 45, qPrintable(QString::number(brightness)));

    LogCapture log;
    tap("darkThemeSwitch");
    QCOMPARE(log.count("[QML] Switching to light theme"), 1);
    QTest::qWait(200);
    shoot("display-light");
    tap("darkThemeSwitch");
    QCOMPARE(log.count("[QML] Switching to dark theme"), 1);

    QObject *spin = find("displayOffSpin");
    // The range "/config/set" accepts: a day at most.
    QCOMPARE(spin->property("from").toInt(), 0);
    QCOMPARE(spin->property("to").toInt(), 1440);
    const int minutes = m_manager->displayOffMin();
    QVERIFY(QMetaObject::invokeMethod(spin, "increase"));
    QVERIFY(QMetaObject::invokeMethod(spin, "valueModified"));
    QTRY_COMPARE(m_manager->displayOffMin(), minutes + 1);

    // The panel's angle is taken at once: the window takes the landscape panel's size.
    QCOMPARE(find("rotationCombo")->property("currentText").toString(), QStringLiteral("0°"));
    choose("rotationCombo", 1);
    QTRY_COMPARE(m_manager->rotation(), 90);
    QTRY_COMPARE(m_window->size(), QSize(800, 480));
    QCOMPARE(QSettings(m_dir->filePath("gui.conf"), QSettings::IniFormat).value("gui/rotation").toInt(), 90);

    tap("settingsBackButton");
    QTRY_COMPARE(stackDepth(), 1);
    QTest::qWait(300);
    const int refreshes = m_service->count(Board + "/display/get");
    QTest::qWait(1500);
    QCOMPARE(m_service->count(Board + "/display/get"), refreshes);
}

// Network: both tabs show what the service reports, with the state colours.
void TestSettings::networkPage()
{
    startController();
    QVERIFY(m_service->publish(Network + "/status",
                               QJsonObject{{"stateStr", "Connected"}, {"connectivityStr", "Limited"},
                                           {"hostname", "validator-42"},
                                           {"primaryConnection", QJsonObject{{"interface", "eth0"}, {"typeStr", "ethernet"},
                                                                             {"ipv4", QJsonObject{{"address", "10.0.0.5"},
                                                                                                  {"netmask", "255.255.255.0"},
                                                                                                  {"gateway", "10.0.0.1"},
                                                                                                  {"dns0", "8.8.8.8"}}}}}}));
    QVERIFY(m_service->publish(Network + "/ethernet/state",
                               QJsonObject{{"interface", "eth0"}, {"stateStr", "Disconnected"}, {"mac", "00:11:22:33:44:55"},
                                           {"reasonStr", "Cable unplugged"},
                                           {"ipv4", QJsonObject{{"address", "10.0.0.5"}, {"netmask", "255.255.255.0"}}}}));
    QTRY_COMPARE(m_manager->network().hostname(), QStringLiteral("validator-42"));
    QTRY_COMPARE(m_manager->network().ethernet()->mac(), QStringLiteral("00:11:22:33:44:55"));
    login();
    QVERIFY(openPage("Network", "networkPage"));
    QCOMPARE(text("netConnectionStateValue"), QStringLiteral("Connected"));
    QCOMPARE(colourOf("netConnectionStateValue"), QColor("#4CAF50"));
    QCOMPARE(text("netConnectivityValue"), QStringLiteral("Limited"));
    QCOMPARE(colourOf("netConnectivityValue"), QColor("#FFC107"));
    QCOMPARE(text("netHostnameValue"), QStringLiteral("validator-42"));
    QCOMPARE(text("netTypeValue"), QStringLiteral("ethernet"));
    QCOMPARE(text("netAddressValue"), QStringLiteral("10.0.0.5"));
    QCOMPARE(text("netNetmaskValue"), QStringLiteral("255.255.255.0"));
    QCOMPARE(text("netGatewayValue"), QStringLiteral("10.0.0.1"));
    QCOMPARE(text("netDnsValue"), QStringLiteral("8.8.8.8"));
    shoot("network-general");
    tap("networkTabEthernet");
    QTRY_COMPARE(find("networkPages")->property("currentIndex").toInt(), 1);
    QTest::qWait(300);
    QCOMPARE(text("ethStateValue"), QStringLiteral("Disconnected"));
    QCOMPARE(colourOf("ethStateValue"), QColor("#F44336"));
    QCOMPARE(text("ethMacValue"), QStringLiteral("00:11:22:33:44:55"));
    QCOMPARE(text("ethReasonValue"), QStringLiteral("Cable unplugged"));
    QCOMPARE(text("ethAddressValue"), QStringLiteral("10.0.0.5"));
    shoot("network-ethernet");
    QVERIFY(m_service->publish(Network + "/status", QJsonObject{{"stateStr", "Connecting"}, {"connectivityStr", "None"}}));
    QTRY_COMPARE(colourOf("netConnectivityValue"), QColor("#F44336"));
    QCOMPARE(colourOf("netConnectionStateValue"), QColor("#FFC107"));
}

void TestSettings::ethernetSaveChecks_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QStringList>("fields"); // address, netmask, gateway, dns0, dns1
    QTest::addColumn<QString>("failure");
    const QString mask = "255.255.255.0";
    QTest::newRow("empty gateway saves") << "manual" << QStringList{"10.0.0.9", mask, "", "", ""} << "";
    QTest::newRow("all set") << "manual" << QStringList{"10.0.0.9", mask, "10.0.0.1", "1.1.1.1", "0.0.0.0"} << "";
    QTest::newRow("empty address") << "manual" << QStringList{"", "", "x", "x", "x"}
                                   << "IPv4 address cannot be empty in 'manual' mode";
    QTest::newRow("empty netmask") << "manual" << QStringList{"bad", "", "x", "", ""}
                                   << "IPv4 netmask cannot be empty in 'manual' mode";
    QTest::newRow("256.1.1.1") << "manual" << QStringList{"256.1.1.1", "bad", "", "", ""}
                               << "IPv4 address is not a valid IP address";
    QTest::newRow("leading zero") << "manual" << QStringList{"01.2.3.4", mask, "", "", ""}
                                  << "IPv4 address is not a valid IP address";
    QTest::newRow("three parts") << "manual" << QStringList{"1.2.3", mask, "", "", ""}
                                 << "IPv4 address is not a valid IP address";
    QTest::newRow("netmask") << "manual" << QStringList{"10.0.0.9", "255.255.255", "x", "", ""}
                             << "IPv4 netmask is not a valid IP address";
    QTest::newRow("gateway") << "manual" << QStringList{"10.0.0.9", mask, "10.0.0.256", "x", ""}
                             << "IPv4 gateway is not a valid IP address";
    QTest::newRow("dns0") << "manual" << QStringList{"10.0.0.9", mask, "", "8.8.8.8.8", "x"}
                          << "IPv4 DNS #0 is not a valid IP address";
    QTest::newRow("dns1") << "manual" << QStringList{"10.0.0.9", mask, "", "", " 8.8.4.4"}
                          << "IPv4 DNS #1 is not a valid IP address";
    QTest::newRow("auto unchecked") << "auto" << QStringList{"", "", "", "", ""} << "";
}

// Save checks the manual settings in a fixed order and shows the first failure, sending
// nothing and keeping the typing; settings that pass (and any in "auto") are sent.
void TestSettings::ethernetSaveChecks()
{
    QFETCH(QString, mode);
    QFETCH(QStringList, fields);
    QFETCH(QString, failure);
    startController();
    QVERIFY(m_service->publish(Network + "/ethernet/state", QJsonObject{{"interface", "eth0"}, {"stateStr", "Connected"}}));
    QVERIFY(m_service->publish(Network + "/ethernet/config",
                               QJsonObject{{"interface", "eth0"}, {"method", "auto"}, {"address", ""}}));
    QTRY_COMPARE(m_manager->network().ethernet()->method(), QStringLiteral("auto"));
    login();
    QVERIFY(openPage("Network", "networkPage"));
    tap("networkTabEthernet");
    QTRY_COMPARE(find("networkPages")->property("currentIndex").toInt(), 1);
    QTest::qWait(300);
    tap("ethernetConfigureButton");
    QTRY_VERIFY(shown("ethernetConfigPage"));
    QTRY_VERIFY(!item("settingsStack")->property("busy").toBool());
    QCOMPARE(text("settingsTitle"), QStringLiteral("Ethernet Configuration"));
    const QStringList names = {"ethAddressField", "ethNetmaskField", "ethGatewayField", "ethDns0Field", "ethDns1Field"};
    QVERIFY(!find(names.first())->property("enabled").toBool());
    if (mode == "manual") {
        choose("ethernetModeCombo", 1);
        QTRY_VERIFY(find(names.first())->property("enabled").toBool());
        // The mode is the page's until saved.
        QCOMPARE(m_manager->network().ethernet()->method(), QStringLiteral("auto"));
    }
    for (int i = 0; i < names.size(); ++i)
        find(names.at(i))->setProperty("text", fields.at(i));
    for (int i = 0; i < names.size(); ++i) {
        const bool fine = fields.at(i).isEmpty() || QStringList{"10.0.0.9", "255.255.255.0", "10.0.0.1", "1.1.1.1", "0.0.0.0"}.contains(fields.at(i));
        QCOMPARE(colourOf(names.at(i)) == QColor("#F44336"), !fine);
    }
    m_service->clear();
    tap("ethernetConfigSave");
    if (failure.isEmpty()) {
        QVERIFY(m_service->waitFor(Network + "/ethernet/config/set"));
        const QJsonObject sent = m_service->lastJson(Network + "/ethernet/config/set");
        QCOMPARE(sent.value("method").toString(), mode);
        QCOMPARE(sent.value("interface").toString(), QStringLiteral("eth0"));
        if (mode == "manual") {
            QCOMPARE(sent.value("address").toString(), fields.at(0));
            QCOMPARE(sent.value("netmask").toString(), fields.at(1));
            QCOMPARE(sent.value("gateway").toString(), fields.at(2));
            QCOMPARE(sent.value("dns0").toString(), fields.at(3));
            QCOMPARE(sent.value("dns1").toString(), fields.at(4));
        }
        QTRY_COMPARE(stackDepth(), 2);
        if (QTest::currentDataTag() == QByteArray("all set"))
            QCOMPARE(m_manager->network().ethernet()->config()->dns1(), QStringLiteral("0.0.0.0"));
    } else {
        QTRY_VERIFY(opened("ethernetRefusal"));
        QCOMPARE(find("ethernetRefusal")->property("text").toString(), failure);
        for (int i = 0; i < names.size(); ++i)
            QCOMPARE(text(names.at(i)), fields.at(i));
        if (QTest::currentDataTag() == QByteArray("256.1.1.1"))
            shoot("ethernet-refused");
        QTest::qWait(200);
        QCOMPARE(m_service->count(Network + "/ethernet/config/set"), 0);
        QCOMPARE(stackDepth(), 3);
        QCOMPARE(m_manager->network().ethernet()->method(), QStringLiteral("auto"));
        QCOMPARE(m_manager->network().ethernet()->config()->address(), QString());
        if (QTest::currentDataTag() == QByteArray("gateway")) {
            tap("popupText", find("ethernetRefusal"));
            QTRY_VERIFY(!find("ethernetRefusal")->property("visible").toBool());
            shoot("ethernet-config");
        }
    }
}

void TestSettings::updateInstallEnabling_data()
{
    QTest::addColumn<QString>("pending");
    QTest::addColumn<QString>("progress");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("install");
    QTest::newRow("ready") << "1.0.22" << "" << "Ready to install" << true;
    QTest::newRow("no pending") << "" << "" << "No pending updates" << false;
    QTest::newRow("downloading") << "1.0.22" << "12/40 MB" << "Downloading" << false;
    QTest::newRow("installing") << "1.0.22" << "Unpacking" << "Installing" << false;
}

// Install is enabled only while the status reads exactly "Ready to install"; Check and
// Install reach the device service.
void TestSettings::updateInstallEnabling()
{
    QFETCH(QString, pending);
    QFETCH(QString, progress);
    QFETCH(QString, status);
    QFETCH(bool, install);
    startController();
    login();
    QVERIFY(openPage("Update", "updatePage"));
    QVERIFY(m_service->publish(Device + "/status",
                               QJsonObject{{"update", QJsonObject{{"software", QJsonObject{{"current", "1.0.21"},
                                                                                          {"pending", pending}}}}}}));
    if (!progress.isEmpty())
        QVERIFY(m_service->publish(Device + "/update/software/progress",
                                   QJsonObject{{"message", progress}, {"progress", 30}, {"version", pending}}));
    QTRY_COMPARE(text("updateStatusValue"), status);
    QCOMPARE(text("updateCurrentValue"), QStringLiteral("1.0.21"));
    QCOMPARE(text("updatePendingValue"), pending.isEmpty() ? QStringLiteral("None") : pending);
    QCOMPARE(find("updateInstall")->property("enabled").toBool(), install);
    const QColor colour = status == "Ready to install" ? QColor("#4CAF50")
                          : status == "No pending updates" ? colourOf("updateCurrentValue") : QColor("#FFC107");
    QCOMPARE(colourOf("updateStatusValue"), colour);
    if (!progress.isEmpty()) {
        QCOMPARE(find("updateProgress")->property("value").toInt(), 30);
        QCOMPARE(text("updateProgressMessage"), progress);
    }
    shoot("update-" + QString(QTest::currentDataTag()).replace(' ', '-'));
    m_service->clear();
    if (install) {
        tap("updateInstall");
        QVERIFY(m_service->waitFor(Device + "/update/software/install"));
    }
    tap("updateCheck");
    QVERIFY(m_service->waitFor(Device + "/software/check"));
    QTRY_COMPARE(text("updateStatusValue"), QStringLiteral("Checking for updates"));
    QVERIFY(!find("updateInstall")->property("enabled").toBool());
}

// The event log narrows by the search text and the period, passes the severity choice on, and
// opens an entry's description on a tap.
void TestSettings::eventLogPage()
{
    startController();
    const QDateTime now = QDateTime::currentDateTime();
    m_manager->eventLog().push(new Event("Board", "Ignition off", "Engine stopped at depot", now.addDays(-3)));
    m_manager->eventLog().push(new Event("General", "Network lost", "eth0 link down", now.addSecs(-600)));
    login();
    QVERIFY(openPage("Event Log", "eventLogPage"));
    QObject *list = find("eventList");
    QTRY_VERIFY(list->property("count").toInt() >= 4); // started, two pushed, login
    const int all = list->property("count").toInt();
    shoot("eventlog");

    QQuickItem *row = nullptr;
    for (int i = 0; i < all && !row; ++i) {
        QQuickItem *candidate = item("eventRow_" + QString::number(i));
        if (candidate && text("eventTitle", candidate) == "Network lost")
            row = candidate;
    }
    QVERIFY(row);
    QCOMPARE(text("eventTime", row), QLocale().toString(now.addSecs(-600), "dd-MMM-yy hh:mm"));
    QVERIFY(!shown("eventDescription", row));
    touch(centreOf(row));
    QTRY_VERIFY(shown("eventDescription", row));
    QCOMPARE(text("eventDescription", row), QStringLiteral("eth0 link down"));
    shoot("eventlog-expanded");

    LogCapture log;
    find("eventSearchField")->setProperty("text", "ignition");
    QTRY_COMPARE(list->property("count").toInt(), 1);
    tap("eventSearchClear");
    QTRY_COMPARE(list->property("count").toInt(), all);
    QCOMPARE(text("eventSearchField"), QString());

    choose("eventPeriodCombo", 1); // Last hour
    QTRY_COMPARE(list->property("count").toInt(), all - 1);
    QVERIFY(log.contains("Filtering (period) : Last hour"));
    choose("eventPeriodCombo", 0);
    QTRY_COMPARE(list->property("count").toInt(), all);
    choose("eventSeverityCombo", 0);
    QVERIFY(log.contains("Filtering : severity=2"));
    QCOMPARE(list->property("count").toInt(), all);
}

int main(int argc, char *argv[])
{
    qputenv("QT_IM_MODULE", QByteArrayLiteral("freevirtualkeyboard"));
    runtimepaths::addLibraryPaths();
    QGuiApplication app(argc, argv);
    TestSettings test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_settings.moc"
