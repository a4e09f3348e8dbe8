#include "brokerfixture.h"
#include "controllerfixture.h"
#include "scenetest.h"
#include "logcapture.h"
#include "notifysocket.h"
#include "picturecompare.h"
#include "servicedouble.h"
#include "waituntil.h"

#include "app/config.h"
#include "app/logger.h"
#include "app/resources.h"
#include "app/runtimepaths.h"
#include "app/screenshots.h"
#include "app/systemdnotifier.h"
#include "controller/guimanager.h"
#include "validation/transaction.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QInputMethod>
#include <QJsonDocument>
#include <QQmlContext>
#include <QQmlError>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSemaphore>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTouchDevice>
#include <QTransform>
#include <QTranslator>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

namespace {

const QString Ui = QStringLiteral("orvo/ui");
const QString Blm = QStringLiteral("orvo/blm");
const QString Board = QStringLiteral("orvo/board");

QJsonObject statusOnline()
{
    return QJsonObject{
        {"service", true},
        {"device", QJsonObject{{"rfid", QJsonObject{{"state", 1}}},
                               {"barcode", QJsonObject{{"active", true}, {"enabled", false}}}}},
        {"state", QJsonObject{{"init", false}, {"hasRfid", true}, {"hasNtp", true}, {"hasRoute", true},
                              {"hasQr", true}, {"hasObu", true}}},
    };
}

QJsonObject statusWith(const QString &flag, bool value)
{
    QJsonObject status = statusOnline();
    QJsonObject state = status.value("state").toObject();
    state.insert(flag, value);
    status.insert("state", state);
    return status;
}

QJsonObject boardStatus(bool ignition)
{
    return QJsonObject{{"service", true}, {"device", QJsonObject{{"active", true}, {"ignition", ignition}}}};
}

// A validation result as the service publishes it.
QJsonObject result(QJsonObject transaction)
{
    return QJsonObject{{"transaction", transaction}};
}

QJsonObject cardResult(bool valid, int type, int denyReason, const QJsonObject &card)
{
    QJsonObject transaction{{"result", valid}, {"type", type}, {"fareProductName", "Monthly Pass"}, {"card", card}};
    if (denyReason)
        transaction.insert("denyReason", QJsonObject{{"id", denyReason}});
    return result(transaction);
}

QJsonObject barcodeResult(int transferMinutes)
{
    return result(QJsonObject{{"result", true}, {"type", 0}, {"fareProductName", "90 Minutes"},
                              {"barcode", QJsonObject{{"transferRemainingMin", transferMinutes}}}});
}

// The page each screen name shows.
const QList<QPair<QString, QString>> Pages = {
    {"InitPage", "initPage"}, {"Busy", "busyPage"}, {"ScanCard", "scanCardPage"},
    {"ScanBarcode", "scanBarcodePage"}, {"ScanScreens", "scanScreensPage"}, {"Valid", "validPage"},
    {"Invalid", "invalidPage"}, {"AlreadyValid", "alreadyValidPage"}, {"Retry", "retryPage"},
    {"OutOfOrder", "outOfOrderPage"}, {"OutOfService", "outOfServicePage"},
    {"ScreenSaver", "screenSaverPage"}, {"Settings", "settingsPage"}, {"Login", "loginPage"},
};

// Texts that only a formatting slip would put on a passenger's screen.
const QStringList Garbage = {"undefined", "NaN", "Invalid Date", "null", "[object", "Infinity"};

} // namespace

// The scene as it runs: the real controller loads the real scene under a real X server, with
// a broker and a service double playing the validation and board services.
class TestScene : public SceneTest
{
    Q_OBJECT

public:
    TestScene() : SceneTest("scene") {}

private slots:

    void screenTableShowsOnePage_data();
    void screenTableShowsOnePage();
    void passengerScreensInBothLanguages_data();
    void passengerScreensInBothLanguages();
    void periodTexts_data();
    void periodTexts();
    void detailBlockByType_data();
    void detailBlockByType();
    void damagedTransactionShowsNoGarbage_data();
    void damagedTransactionShowsNoGarbage();
    void flagButtonSwitchesLanguage();
    void scanPagesSwitchLocally();
    void maintenanceGesture_data();
    void maintenanceGesture();
    void serialNumberRule_data();
    void serialNumberRule();
    void serialNumberSavedAfterConfirmation();
    void serialTypedOnKeyboardPanel();
    void errorOpensInformationPopup();
    void idlePageAlternatesAnimations();
    void hungRenderThreadStopsWatchdogPings();
    void denyReasonsTranslated_data();
    void denyReasonsTranslated();
    void screenshotsFollowScreenChanges();
    void onlyPageOnScreenInFirstFrame();
    void pageAskedForBeforeItsTurn();
    void pagesBuiltLaterKeepKeyboardUp();
    void sceneTurnsWithPanel_data();
    void sceneTurnsWithPanel();

private:
    void startController(const QString &locale, bool withDeviceId = true);
    void goOnline();
    QStringList visibleTexts(QObject *under) const;
    // The panel's angle set over "/config/set", waited for until the window has the panel's size.
    void turnTo(int angle);
    // The picture now, at `angle`, against the upright one taken with everything else unchanged.
    void compareTurned(int angle, const QString &name);
    // A finger where the item is drawn on a panel at `angle`: its upright place, turned.
    void touchTurned(int angle, const QString &objectName, QObject *under = nullptr);
};

void TestScene::startController(const QString &locale, bool withDeviceId)
{
    startScene(locale, withDeviceId ? QByteArray("K00000042\n") : QByteArray());
    if (QTest::currentTestFailed())
        return;
    // The proxies subscribe at construction; one round trip shows the subscriptions are live.
    QTRY_VERIFY(m_service->publish(Board + "/status", boardStatus(true)) && m_manager->board().status() == "online");
}

void TestScene::goOnline()
{
    QVERIFY(m_service->publish(Blm + "/status", statusOnline()));
    QTRY_VERIFY(shown("scanScreensPage"));
}

QStringList TestScene::visibleTexts(QObject *under) const
{
    QStringList texts;
    auto *item = qobject_cast<QQuickItem *>(under);
    if (!item || !item->isVisible())
        return texts;
    if (item->metaObject()->indexOfProperty("text") >= 0)
        texts << item->property("text").toString();
    for (QQuickItem *child : item->childItems())
        texts << visibleTexts(child);
    return texts;
}

void TestScene::screenTableShowsOnePage_data()
{
    QTest::addColumn<QString>("screen");
    QTest::addColumn<bool>("header");
    for (const auto &page : Pages)
        QTest::newRow(qPrintable(page.first)) << page.first << (page.first != "Settings" && page.first != "ScreenSaver");
}

// Exactly the page named by the controller's screen is shown; the header is on every page
// but the settings area and the screen saver.
void TestScene::screenTableShowsOnePage()
{
    QFETCH(QString, screen);
    QFETCH(bool, header);
    startController("en_IE");
    m_manager->setScreen(screen);
    for (const auto &page : Pages)
        QTRY_COMPARE(shown(page.second), page.first == screen);
    QCOMPARE(shown("header"), header);
    QVERIFY(shown("versionLabel"));
    QCOMPARE(text("versionLabel"), QStringLiteral("v1.0.21"));
    if (screen == "ScreenSaver" || screen == "InitPage")
        grab(screen.toLower());
}

void TestScene::passengerScreensInBothLanguages_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QJsonObject>("payload");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("texts"); // objectName=expected text, in order
    QTest::addColumn<QString>("shot");

    const QJsonObject valid = cardResult(true, 5, 0, {{"storedJourneys", QJsonObject{{"after", 7}, {"transferRemainingMin", 45}}}});
    const QJsonObject already = cardResult(false, 5, 207, {{"storedJourneys", QJsonObject{{"after", 6}, {"transferRemainingMin", 30}}}});
    const QJsonObject refused = cardResult(false, 2, 205, {{"balanceBefore", 20}, {"balanceAfter", 20}});

    QTest::newRow("ScanScreens en") << "en_IE" << "/status" << statusOnline() << "scanScreensPage"
                                    << QStringList{"scanText=SCAN\nYOUR CARD"} << "scanscreens-en";
    QTest::newRow("ScanScreens el") << "el_GR" << "/status" << statusOnline() << "scanScreensPage"
                                    << QStringList{"scanText=ΣΑΡΩΣΤΕ ΤΗΝ\nΚΑΡΤΑ ΣΑΣ"} << "scanscreens-el";
    QTest::newRow("Busy en") << "en_IE" << "/status" << statusWith("init", true) << "busyPage"
                             << QStringList{"busyMessage=Please Wait"} << "busy-en";
    QTest::newRow("Busy el") << "el_GR" << "/status" << statusWith("init", true) << "busyPage"
                             << QStringList{"busyMessage=Παρακαλώ περιμένετε"} << "busy-el";
    QTest::newRow("Valid en") << "en_IE" << "/rfid/scanned" << valid << "validPage"
                              << QStringList{"validTitle=VALID", "validText=Monthly Pass",
                                             "validDetailLeftHeading=Remaining", "validDetailLeftValue=45 mins",
                                             "validDetailRightHeading=Trips", "validDetailRightValue=7"}
                              << "valid-en";
    QTest::newRow("Valid el") << "el_GR" << "/rfid/scanned" << valid << "validPage"
                              << QStringList{"validTitle=ΕΓΚΥΡΟ", "validText=Monthly Pass",
                                             "validDetailLeftHeading=Απομένουν", "validDetailLeftValue=45 λεπτά",
                                             "validDetailRightHeading=Διαδρομές", "validDetailRightValue=7"}
                              << "valid-el";
    QTest::newRow("AlreadyValid en") << "en_IE" << "/rfid/scanned" << already << "alreadyValidPage"
                                     << QStringList{"alreadyValidTitle=ALREADY VALIDATED", "alreadyValidText=Monthly Pass",
                                                    "alreadyValidDetailLeftValue=30 mins", "alreadyValidDetailRightValue=6"}
                                     << "alreadyvalid-en";
    QTest::newRow("AlreadyValid el") << "el_GR" << "/rfid/scanned" << already << "alreadyValidPage"
                                     << QStringList{"alreadyValidTitle=ΗΔΗ ΕΠΙΚΥΡΩΜΕΝΟ",
                                                    "alreadyValidDetailLeftHeading=Απομένουν",
                                                    "alreadyValidDetailRightHeading=Διαδρομές"}
                                     << "alreadyvalid-el";
    QTest::newRow("Invalid en") << "en_IE" << "/rfid/scanned" << refused << "invalidPage"
                                << QStringList{"invalidTitle=INVALID", "invalidText=",
                                               "invalidReason=The card does not have sufficient balance"}
                                << "invalid-en";
    QTest::newRow("Invalid el") << "el_GR" << "/rfid/scanned" << refused << "invalidPage"
                                << QStringList{"invalidTitle=ΑΚΥΡΟ", "invalidReason=Η κάρτα δεν έχει επαρκές υπόλοιπο"}
                                << "invalid-el";
    QTest::newRow("Retry en") << "en_IE" << "/rfid/retry" << QJsonObject() << "retryPage"
                              << QStringList{"retryTitle=PLEASE TRY AGAIN"} << "retry-en";
    QTest::newRow("Retry el") << "el_GR" << "/rfid/retry" << QJsonObject() << "retryPage"
                              << QStringList{"retryTitle=ΔΟΚΙΜΑΣΤΕ ΞΑΝΑ"} << "retry-el";
    QTest::newRow("OutOfOrder en") << "en_IE" << "/status" << statusWith("hasRfid", false) << "outOfOrderPage"
                                   << QStringList{"outOfOrderTitle=OUT OF ORDER", "outOfOrderText=#0004"} << "outoforder-en";
    QTest::newRow("OutOfOrder el") << "el_GR" << "/status" << statusWith("hasRfid", false) << "outOfOrderPage"
                                   << QStringList{"outOfOrderTitle=ΠΡΟΣΩΡΙΝΑ\nΕΚΤΟΣ ΛΕΙΤΟΥΡΓΙΑΣ", "outOfOrderText=#0004"}
                                   << "outoforder-el";
    QTest::newRow("OutOfService en") << "en_IE" << "/status" << statusWith("hasRoute", false) << "outOfServicePage"
                                     << QStringList{"outOfServiceTitle=OUT OF SERVICE", "outOfServiceText="} << "outofservice-en";
    QTest::newRow("OutOfService el") << "el_GR" << "/status" << statusWith("hasRoute", false) << "outOfServicePage"
                                     << QStringList{"outOfServiceTitle=ΕΚΤΟΣ ΥΠΗΡΕΣΙΑΣ"} << "outofservice-el";
}

// Each passenger screen, reached as the service would lead to it, shows its page with the
// texts of the chosen language, and the header above it.
void TestScene::passengerScreensInBothLanguages()
{
    QFETCH(QString, locale);
    QFETCH(QString, topic);
    QFETCH(QJsonObject, payload);
    QFETCH(QString, page);
    QFETCH(QStringList, texts);
    QFETCH(QString, shot);
    startController(locale);
    if (topic != "/status")
        goOnline();
    QVERIFY(topic == "/rfid/retry" ? m_service->publish(Blm + topic, QByteArray())
                                   : m_service->publish(Blm + topic, payload));
    QTRY_VERIFY(shown(page));
    QVERIFY(shown("header"));
    for (const QString &pair : texts) {
        const QString name = pair.section('=', 0, 0);
        QTRY_COMPARE(text(name), pair.section('=', 1));
        QVERIFY2(shown(name), qPrintable(name));
    }
    grab(shot);
}

void TestScene::periodTexts_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("minutes");
    QTest::addColumn<QString>("expected");
    QTest::newRow("1441") << "en_IE" << 1441 << "1 day";
    QTest::newRow("4320") << "en_IE" << 4320 << "3 days";
    QTest::newRow("1440") << "en_IE" << 1440 << "24 hours";
    QTest::newRow("121") << "en_IE" << 121 << "2 hours";
    QTest::newRow("120") << "en_IE" << 120 << "120 mins";
    QTest::newRow("1") << "en_IE" << 1 << "1 min";
    QTest::newRow("1441 el") << "el_GR" << 1441 << "1 ημέρα";
    QTest::newRow("1440 el") << "el_GR" << 1440 << "24 ώρες";
    QTest::newRow("1 el") << "el_GR" << 1 << "1 λεπτό";
}

// Minutes read as days above a day, hours above two hours, minutes otherwise, in the
// page's language.
void TestScene::periodTexts()
{
    QFETCH(QString, locale);
    QFETCH(int, minutes);
    QFETCH(QString, expected);
    startController(locale);
    goOnline();
    QVERIFY(m_service->publish(Blm + "/barcode/scanned", barcodeResult(minutes)));
    QTRY_VERIFY(shown("validPage"));
    QTRY_COMPARE(text("validDetailLeftValue"), expected);
    QVERIFY(!shown("validDetailRight"));
}

void TestScene::detailBlockByType_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("denyReason");
    QTest::addColumn<QJsonObject>("card");
    QTest::addColumn<QStringList>("expected"); // left heading, left value, right heading, right value

    const QJsonObject journeys{{"storedJourneys", QJsonObject{{"after", 4}, {"transferRemainingMin", 70}}}};
    const QJsonObject balance{{"balanceBefore", 1000}, {"balanceAfter", 880}};
    const QJsonObject purse{{"balanceAfter", 1250}, {"ePurse", QJsonObject{{"transferRemainingMin", 15}}}};
    const QJsonObject pass{{"periodPass", QJsonObject{{"remainingMinutes", QJsonValue::Null}, {"remainingDays", 3}}}};
    const QString expires = QLocale(QStringLiteral("en_IE")).toString(QDateTime::currentDateTime().addDays(3).date(), "d MMM yy");
    const QStringList trips{"Remaining", "70 mins", "Trips", "4"};
    const QStringList stored{"Deducted", "€1.20", "Balance", "€8.80"};

    QTest::newRow("5 valid") << 5 << 0 << journeys << trips;
    QTest::newRow("5 already") << 5 << 207 << journeys << trips;
    QTest::newRow("12 already") << 12 << 207 << journeys << trips;
    QTest::newRow("16 valid") << 16 << 0 << journeys << trips;
    QTest::newRow("16 already") << 16 << 207 << journeys << QStringList();
    QTest::newRow("2 valid") << 2 << 0 << balance << stored;
    QTest::newRow("2 already") << 2 << 207 << balance << stored;
    QTest::newRow("15 valid") << 15 << 0 << balance << stored;
    QTest::newRow("15 already") << 15 << 207 << balance << QStringList();
    QTest::newRow("14 valid") << 14 << 0 << purse << QStringList{"Remaining", "15 mins", "Balance", "€12.50"};
    QTest::newRow("8 valid") << 8 << 0 << pass << QStringList{"Remaining", "3 days", "Expires", expires};
    QTest::newRow("3 valid") << 3 << 0 << balance << QStringList();
}

// The figures under the label follow the product type; journeys (16) and stored value (15)
// only on a first validation, unknown types show none.
void TestScene::detailBlockByType()
{
    QFETCH(int, type);
    QFETCH(int, denyReason);
    QFETCH(QJsonObject, card);
    QFETCH(QStringList, expected);
    startController("en_IE");
    goOnline();
    QVERIFY(m_service->publish(Blm + "/rfid/scanned", cardResult(denyReason == 0, type, denyReason, card)));
    const QString prefix = denyReason ? "alreadyValid" : "valid";
    QTRY_VERIFY(shown(prefix + "Page"));
    QTRY_COMPARE(m_manager->engine().rootContext()->contextProperty("transaction").toMap().value("type").toInt(), type);
    QCOMPARE(shown(prefix + "DetailLeft"), !expected.isEmpty());
    if (!expected.isEmpty()) {
        QCOMPARE(QStringList({text(prefix + "DetailLeftHeading"), text(prefix + "DetailLeftValue"),
                              text(prefix + "DetailRightHeading"), text(prefix + "DetailRightValue")}),
                 expected);
    }
    if (QString(QTest::currentDataTag()) == "8 valid" || QString(QTest::currentDataTag()) == "2 valid")
        grab(QStringLiteral("valid-type%1-en").arg(type));
}

void TestScene::damagedTransactionShowsNoGarbage_data()
{
    QTest::addColumn<QVariant>("transaction");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("empty map") << QVariant(QVariantMap());
    QTest::newRow("not a map") << QVariant(QStringLiteral("transaction"));
    QTest::newRow("no details") << QVariant(QVariantMap{{"type", 8}, {"valid", true}});
    QTest::newRow("type as text") << QVariant(QVariantMap{{"type", "5"}, {"fareProduct", 12}, {"details", "x"}});
    QTest::newRow("period mistyped")
        << QVariant(QVariantMap{{"type", 8}, {"details", QVariantMap{{"remaining", "abc"}, {"expires", "soon"}}}});
    QTest::newRow("invalid expiry")
        << QVariant(QVariantMap{{"type", 8}, {"details", QVariantMap{{"remaining", 90}, {"expires", QDateTime()}}}});
    QTest::newRow("NaN amounts")
        << QVariant(QVariantMap{{"type", 2}, {"details", QVariantMap{{"deducted", nan}, {"remaining", QVariant()}}}});
    QTest::newRow("infinite minutes")
        << QVariant(QVariantMap{{"type", 14}, {"details", QVariantMap{{"transferRemainingMin", inf}, {"remaining", inf}}}});
    QTest::newRow("trips as list")
        << QVariant(QVariantMap{{"type", 5}, {"details", QVariantMap{{"remaining", QVariantList{1, 2}}}}});
    QTest::newRow("reason not text") << QVariant(QVariantMap{{"denyReason", QVariantMap{{"id", 3}}}});
}

// A result whose members are missing or of the wrong kind shows blanks, never a formatting
// artefact, on each of the three result pages.
void TestScene::damagedTransactionShowsNoGarbage()
{
    QFETCH(QVariant, transaction);
    startController("en_IE");
    m_manager->engine().rootContext()->setContextProperty("transaction", transaction);
    for (const QString page : {"Valid", "AlreadyValid", "Invalid"}) {
        m_manager->setScreen(page);
        const QString name = page.left(1).toLower() + page.mid(1) + "Page";
        QTRY_VERIFY(shown(name));
        const QStringList texts = visibleTexts(find(name));
        for (const QString &garbage : Garbage)
            QVERIFY2(!texts.join('|').contains(garbage), qPrintable(page + ": " + texts.join('|')));
    }

    // The same through the service: members of the wrong JSON kind.
    goOnline();
    QVERIFY(m_service->publish(Blm + "/rfid/scanned",
                               result(QJsonObject{{"result", true}, {"type", 8}, {"fareProductName", 5},
                                                  {"card", QJsonObject{{"periodPass", "x"}}}})));
    QTRY_VERIFY(shown("validPage"));
    for (const QString &garbage : Garbage)
        QVERIFY(!visibleTexts(find("validPage")).join('|').contains(garbage));
}

// The flag shows the other language and a tap switches every text to it and back.
void TestScene::flagButtonSwitchesLanguage()
{
    startController("en_IE");
    goOnline();
    QTest::mouseClick(m_window, Qt::LeftButton, {}, centreOf("flagButton"));
    QTRY_COMPARE(m_manager->language(), QStringLiteral("el_GR"));
    QTRY_COMPARE(text("scanText"), QStringLiteral("ΣΑΡΩΣΤΕ ΤΗΝ\nΚΑΡΤΑ ΣΑΣ"));
    const QString greekDate = QLocale(QStringLiteral("el_GR")).toString(QDate::currentDate(), "dd-MMM-yyyy");
    QTRY_COMPARE(text("clockDate"), greekDate);
    grab("language-el");
    QTest::mouseClick(m_window, Qt::LeftButton, {}, centreOf("flagButton"));
    QTRY_COMPARE(m_manager->language(), QStringLiteral("en_IE"));
    QTRY_COMPARE(text("scanText"), QStringLiteral("SCAN\nYOUR CARD"));
    QTRY_COMPARE(text("clockDate"), QLocale(QStringLiteral("en_IE")).toString(QDate::currentDate(), "dd-MMM-yyyy"));
}

// The buttons on the card and ticket pages switch between them without the controller.
void TestScene::scanPagesSwitchLocally()
{
    startController("el_GR");
    goOnline();
    m_manager->setScreen("ScanCard");
    QTRY_VERIFY(shown("scanCardPage"));
    QCOMPARE(text("scanCardButtonText"), QStringLiteral("ΣΑΡΩΣΗ\nΕΙΣΙΤΗΡΙΟΥ"));
    grab("scancard-el");
    QTest::mouseClick(m_window, Qt::LeftButton, {}, centreOf("scanCardButton"));
    QTRY_VERIFY(shown("scanBarcodePage"));
    QVERIFY(!shown("scanCardPage"));
    QCOMPARE(m_manager->screen(), QStringLiteral("ScanCard"));
    QCOMPARE(text("scanBarcodeText"), QStringLiteral("ΣΑΡΩΣΤΕ ΤΟ\nΕΙΣΙΤΗΡΙΟ ΣΑΣ"));
    grab("scanbarcode-el");
    m_manager->setLanguage("en_IE");
    QTRY_COMPARE(text("scanBarcodeButtonText"), QStringLiteral("SCAN\nCARD"));
    grab("scanbarcode-en");
    QTest::mouseClick(m_window, Qt::LeftButton, {}, centreOf("scanBarcodeButton"));
    QTRY_VERIFY(shown("scanCardPage"));
    QCOMPARE(text("scanCardText"), QStringLiteral("SCAN\nYOUR CARD"));
    grab("scancard-en");
}

void TestScene::maintenanceGesture_data()
{
    QTest::addColumn<int>("taps");
    QTest::addColumn<bool>("hold");
    QTest::addColumn<QString>("line");
    QTest::newRow("three taps") << 3 << false << "[QML][Clock] More than 2 taps detected within 1 sec.";
    QTest::newRow("five taps") << 5 << false << "[QML][Clock] More than 2 taps detected within 1 sec.";
    QTest::newRow("two taps") << 2 << false << QString();
    QTest::newRow("press and hold") << 0 << true << "[QML][Clock] Press and hold detected";
}

// More than two taps on the clock within a second, or a press and hold, open the PIN page;
// two taps only log.
void TestScene::maintenanceGesture()
{
    QFETCH(int, taps);
    QFETCH(bool, hold);
    QFETCH(QString, line);
    startController("en_IE");
    goOnline();
    LogCapture log;
    const QPoint clock = centreOf("clockArea");
    for (int i = 0; i < taps; ++i) {
        QTest::touchEvent(m_window, m_touch).press(0, clock, m_window);
        QTest::touchEvent(m_window, m_touch).release(0, clock, m_window);
        QTest::qWait(20); // keeps the taps apart, well inside the one-second window
    }
    if (hold) {
        QTest::touchEvent(m_window, m_touch).press(0, clock, m_window);
        QTRY_COMPARE(m_manager->screen(), QStringLiteral("Login"));
        QTest::touchEvent(m_window, m_touch).release(0, clock, m_window);
    }
    QObject *window = find("clockTapWindow");
    QVERIFY(window);
    QTRY_VERIFY(!window->property("running").toBool());
    QCOMPARE(log.count("[QML] Clock tapped."), taps);
    if (line.isEmpty()) {
        QCOMPARE(m_manager->screen(), QStringLiteral("ScanScreens"));
        QVERIFY(!log.contains("[QML][Clock]"));
    } else {
        QTRY_COMPARE(m_manager->screen(), QStringLiteral("Login"));
        QTRY_VERIFY(shown("loginPage"));
        QCOMPARE(log.count(line), 1);
        QVERIFY(shown("header"));
    }
}

void TestScene::serialNumberRule_data()
{
    QTest::addColumn<QString>("serial");
    QTest::addColumn<bool>("valid");
    QTest::newRow("K12345678") << "K12345678" << true;
    QTest::newRow("C00000001") << "C00000001" << true;
    QTest::newRow("CK12345678") << "CK12345678" << false;
    QTest::newRow("K1234567") << "K1234567" << false;
    QTest::newRow("K123456789") << "K123456789" << false;
    QTest::newRow("k12345678") << "k12345678" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("trailing blank") << "K12345678 " << false;
    QTest::newRow("other digits") << "K١٢٣٤٥٦٧٨" << false;
}

// One letter C or K and exactly eight digits enable saving; anything else keeps the hint.
void TestScene::serialNumberRule()
{
    QFETCH(QString, serial);
    QFETCH(bool, valid);
    startController("en_IE", false);
    QVERIFY(m_service->publish(Blm + "/status", statusOnline()));
    QTRY_VERIFY(shown("initPage"));
    QVERIFY(find("serialField")->setProperty("text", serial));
    QCOMPARE(shown("serialHint"), !valid);
    QCOMPARE(find("saveButton")->property("enabled").toBool(), valid);
}

// A typed serial number is saved only after the confirmation's "Yes".
void TestScene::serialNumberSavedAfterConfirmation()
{
    startController("el_GR", false);
    QVERIFY(m_service->publish(Blm + "/status", statusOnline()));
    QTRY_VERIFY(shown("initPage"));
    QCOMPARE(text("serialField"), QString());
    QTest::mouseClick(m_window, Qt::LeftButton, {}, centreOf("serialField"));
    QTRY_VERIFY(find("serialField")->property("activeFocus").toBool());
    for (const char key : QByteArray("K1234567"))
        QTest::keyClick(m_window, key);
    QVERIFY(shown("serialHint"));
    grab("initpage-typing");
    QTest::keyClick(m_window, '8');
    QTRY_VERIFY(!shown("serialHint"));
    QTest::mouseClick(m_window, Qt::LeftButton, {}, centreOf("saveButton"));
    QObject *popup = find("serialConfirmPopup");
    QVERIFY(popup);
    QTRY_VERIFY(popup->property("opened").toBool());
    QCOMPARE(popup->property("text").toString(), QStringLiteral("Please confirm the serial number\n\nK12345678"));
    QCOMPARE(text("popupYesButton", popup), QStringLiteral("Ναι"));
    QCOMPARE(text("popupNoButton", popup), QStringLiteral("Όχι"));
    grab("initpage-confirm-el");

    QTest::mouseClick(m_window, Qt::LeftButton, {}, centreOf("popupNoButton", popup));
    // The modal shade stays until the closing transition has run.
    QTRY_VERIFY(!popup->property("visible").toBool());
    QCOMPARE(m_manager->deviceId(), QString());

    QTest::mouseClick(m_window, Qt::LeftButton, {}, centreOf("saveButton"));
    QTRY_VERIFY(popup->property("opened").toBool());
    QTRY_VERIFY(shown("popupYesButton", popup));
    QTest::mouseClick(m_window, Qt::LeftButton, {}, centreOf("popupYesButton", popup));
    QTRY_COMPARE(m_manager->deviceId(), QStringLiteral("K12345678"));
    QTRY_VERIFY(!shown("initPage"));
    QFile file(m_dir->filePath("serialnumber"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("K12345678"));
}

// A failure the controller reports opens the window's information pop-up, which a click closes.
// A serial number that could not be saved is not taken: the page stays, saying why.
void TestScene::errorOpensInformationPopup()
{
    startController("en_IE", false);
    // The serial number cannot be written into a folder that does not exist.
    m_config->set("gui/deviceId", m_dir->filePath("missing/serialnumber"));
    QVERIFY(m_service->publish(Blm + "/status", statusOnline()));
    QTRY_VERIFY(shown("initPage"));
    QVERIFY(find("serialField")->setProperty("text", QStringLiteral("C87654321")));
    QVERIFY(QMetaObject::invokeMethod(find("initPage"), "save"));
    QObject *confirm = find("serialConfirmPopup");
    QTRY_VERIFY(confirm->property("opened").toBool());
    QTRY_VERIFY(shown("popupYesButton", confirm));
    QTest::mouseClick(m_window, Qt::LeftButton, {}, centreOf("popupYesButton", confirm));

    QObject *popup = find("errorPopup");
    QVERIFY(popup);
    QTRY_VERIFY(popup->property("opened").toBool());
    QVERIFY(popup->property("text").toString().contains("No such file or directory"));
    QVERIFY(!popup->property("isDialog").toBool());
    grab("error-popup");
    QTest::mouseClick(m_window, Qt::LeftButton, {}, centreOf("popupText", popup));
    QTRY_VERIFY(!popup->property("opened").toBool());
    QCOMPARE(m_manager->deviceId(), QString());
    QCOMPARE(m_manager->screen(), QStringLiteral("InitPage"));
    QVERIFY(shown("initPage"));
    QVERIFY(shown("serialError"));
    QVERIFY(text("serialError").contains("No such file or directory"));
    grab("initpage-save-failed");
}

// Typed on the panel: the keyboard's Enter asks for the confirmation as the save button does,
// and the panel goes down before the dialog.
void TestScene::serialTypedOnKeyboardPanel()
{
    startController("en_IE", false);
    QVERIFY(m_service->publish(Blm + "/status", statusOnline()));
    QTRY_VERIFY(shown("initPage"));
    auto *panel = qobject_cast<QQuickItem *>(find("inputPanel"));
    QVERIFY(panel);
    QCOMPARE(panel->y(), m_window->height() * 1.0);
    QTest::mouseClick(m_window, Qt::LeftButton, {}, centreOf("serialField"));
    QTRY_VERIFY(qGuiApp->inputMethod()->isVisible());
    QTRY_COMPARE(panel->y(), m_window->height() - 250.0);
    for (const QString key : {"key_shift", "key_k", "key_1", "key_2", "key_3", "key_4", "key_5", "key_6", "key_7", "key_8"})
        QTest::mouseClick(m_window, Qt::LeftButton, {}, centreOf(key, panel));
    QCOMPARE(text("serialField"), QStringLiteral("K12345678"));
    QVERIFY(!shown("serialHint"));
    grab("initpage-keyboard");

    QTest::mouseClick(m_window, Qt::LeftButton, {}, centreOf("key_enter", panel));
    QObject *popup = find("serialConfirmPopup");
    QTRY_VERIFY(popup->property("opened").toBool());
    QTRY_VERIFY(!qGuiApp->inputMethod()->isVisible());
    QTRY_COMPARE(panel->y(), m_window->height() * 1.0);
}

// With no switch interval the idle page plays the 7 card frames, then the 9 ticket frames,
// then the card frames again, each with its invitation.
void TestScene::idlePageAlternatesAnimations()
{
    startController("en_IE");
    goOnline();
    QObject *image = find("scanImage");
    QVERIFY(image);
    QStringList frames{image->property("source").toString()};
    QStringList texts{text("scanText")};
    QVERIFY(waitUntil([&] {
        const QString source = image->property("source").toString();
        if (source != frames.last()) {
            frames << source;
            texts << text("scanText");
        }
        return frames.size() == 17;
    }, 10000));
    QStringList expected;
    for (int n = 0; n < 7; ++n)
        expected << QStringLiteral("qrc:/qml/images/NFC/%1.png").arg(n);
    for (int n = 0; n < 9; ++n)
        expected << QStringLiteral("qrc:/qml/images/Barcode/%1.png").arg(n);
    expected << "qrc:/qml/images/NFC/0.png";
    QCOMPARE(frames, expected);
    QCOMPARE(texts.mid(6, 2), QStringList({"SCAN\nYOUR CARD", "SCAN\nYOUR TICKET"}));
    QCOMPARE(texts.last(), QStringLiteral("SCAN\nYOUR CARD"));
}

// A render thread that hangs stops the watchdog pings too: the scan page changes its picture
// every few hundred milliseconds, and at the next change the GUI thread waits for the render
// thread (the scene graph's sync) without a time limit. Once the render thread is free, the
// pings come again.
void TestScene::hungRenderThreadStopsWatchdogPings()
{
    startController("en_IE");
    goOnline();
    if (software())
        QSKIP("the software renderer draws on the GUI thread: a hang there is the event loop's own");
    NotifySocket socket(m_dir->filePath("notify"));
    qputenv("NOTIFY_SOCKET", QFile::encodeName(socket.path()));
    qputenv("WATCHDOG_USEC", "200000");
    SystemdNotifier notifier;
    qunsetenv("WATCHDOG_USEC");

    std::atomic<bool> hang{false}, hung{false};
    std::atomic<Qt::HANDLE> renderThread{nullptr};
    std::atomic<int> pingsBeforeBlocked{-1}, pingsWhileHung{-1};
    QSemaphore release;
    const QMetaObject::Connection connection = connect(
            m_window, &QQuickWindow::beforeRendering, m_window,
            [&] {
                renderThread = QThread::currentThreadId();
                if (hang.exchange(false)) {
                    hung = true;
                    release.acquire();
                }
            },
            Qt::DirectConnection);
    QVERIFY(waitUntil([&] { return renderThread.load() != nullptr; }));
    QVERIFY2(renderThread.load() != QThread::currentThreadId(), "the threaded render loop is not in use");

    // Counted from a thread of its own: this one is blocked meanwhile.
    std::thread watcher([&] {
        while (!hung)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        // Up to the scan page's next picture the GUI thread turns on; after that, nothing.
        std::this_thread::sleep_for(std::chrono::milliseconds(1000)); // ten intervals
        pingsBeforeBlocked = socket.take().count("WATCHDOG=1");
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        pingsWhileHung = socket.take().count("WATCHDOG=1");
        release.release();
    });
    socket.take();
    hang = true;
    const bool released = waitUntil([&] { return pingsWhileHung >= 0; }, 15000);
    if (!released) { // no frame came: free the watcher before failing
        hung = true;
        release.release();
    }
    watcher.join();
    disconnect(connection);
    QVERIFY2(released, "no frame drawn on the scan page");
    qInfo().noquote() << "pings in the first second of the hang, until the next picture:" << pingsBeforeBlocked.load();
    QCOMPARE(pingsWhileHung.load(), 0);
    QVERIFY(waitUntil([&] { return socket.take().contains("WATCHDOG=1"); }));
    qunsetenv("NOTIFY_SOCKET");
}

void TestScene::denyReasonsTranslated_data()
{
    QTest::addColumn<int>("id");
    for (int id : {100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 200, 201, 202, 203, 204, 205, 206, 207,
                   208, 209, 250, 255, 300, 301, 500, 999})
        QTest::newRow(qPrintable(QString::number(id))) << id;
}

// The catalogue knows every refusal text the result record can give, under its exact English.
void TestScene::denyReasonsTranslated()
{
    QFETCH(int, id);
    const QJsonObject json{{"denyReason", QJsonObject{{"id", id}}}};
    const QString english = Transaction(json, nullptr).denyReason();
    QTranslator greek;
    QVERIFY(greek.load(QStringLiteral(":/qml/translations/Tessivo_el_GR.qm")));
    QVERIFY(QCoreApplication::installTranslator(&greek));
    const QString translated = Transaction(json, nullptr).denyReason();
    QCoreApplication::removeTranslator(&greek);
    QVERIFY2(!english.isEmpty() && translated != english, qPrintable(english));
}

// Each screen change leaves one numbered picture of the window as it then looks.
void TestScene::screenshotsFollowScreenChanges()
{
    startController("en_IE");
    const QString folder = m_dir->filePath("shots");
    Screenshots screenshots(*m_manager, folder);
    QTRY_VERIFY(QFile::exists(folder + "/001-Busy.png"));
    goOnline();
    QTRY_VERIFY(QFile::exists(folder + "/002-ScanScreens.png"));
    QImage shot(folder + "/002-ScanScreens.png");
    QCOMPARE(shot.size(), QSize(480, 800));
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList({"001-Busy.png", "002-ScanScreens.png"}));

    // Turned for a landscape panel, the pictures are what that panel shows.
    m_manager->setRotation(90);
    QTRY_COMPARE(m_window->size(), QSize(800, 480));
    QTRY_COMPARE(m_window->contentItem()->size(), QSizeF(800, 480));
    m_manager->setScreen("OutOfService");
    QTRY_COMPARE(QImage(folder + "/003-OutOfService.png").size(), QSize(800, 480));
}

void TestScene::turnTo(int angle)
{
    QVERIFY(m_service->publish(Ui + "/config/set", QJsonObject{{"gui", QJsonObject{{"rotation", angle}}}}));
    QTRY_COMPARE(m_manager->rotation(), angle);
    const QSize size = angle % 180 ? QSize(800, 480) : QSize(480, 800);
    QTRY_COMPARE(m_window->size(), size);
    QTRY_COMPARE(m_window->contentItem()->size(), QSizeF(size));
}

void TestScene::compareTurned(int angle, const QString &name)
{
    const QImage turned = picture();
    turnTo(0);
    const QImage upright = picture();
    turnTo(angle);
    const QString base = QStringLiteral("turned-%1-%2").arg(angle).arg(name);
    turned.save(m_artifacts + "/" + base + ".png");
    const PictureDifference difference = PictureDifference::between(upright.transformed(QTransform().rotate(angle)), turned);
    difference.shown.save(m_artifacts + "/" + base + "-difference.png");
    qInfo().noquote() << base + ": " + difference.summary();
    QVERIFY2(difference.alike(), qPrintable(base + ": " + difference.summary()));
}

void TestScene::touchTurned(int angle, const QString &objectName, QObject *under)
{
    QQuickItem *target = item(objectName, under);
    QVERIFY2(target && target->isVisible(), qPrintable("not shown: " + objectName));
    const QPointF upright = target->mapToItem(item("scene"), QPointF(target->width() / 2, target->height() / 2));
    const QTransform turn = QTransform().rotate(angle);
    // Turned about the scene's corner, then moved back onto the panel.
    const QRectF panel = turn.mapRect(QRectF(0, 0, 480, 800));
    touch((turn.map(upright) - panel.topLeft()).toPoint());
}

void TestScene::sceneTurnsWithPanel_data()
{
    QTest::addColumn<int>("angle");
    for (int angle : {90, 180, 270})
        QTest::newRow(qPrintable(QString::number(angle))) << angle;
}

// At each angle the panel shows the upright scene turned as one, its pop-ups and keyboard with
// it, and a finger where a key is drawn presses that key.
void TestScene::sceneTurnsWithPanel()
{
    QFETCH(int, angle);
    startController("en_IE");
    goOnline();
    LogCapture log;
    turnTo(angle);
    QCOMPARE(log.count(QStringLiteral("[GUIManager] Rotation changed : %1 deg").arg(angle)), 1);
    for (QObject *timer : findAll("clockTimer"))
        timer->setProperty("running", false);
    m_manager->setMaintenanceScreen();
    QTRY_VERIFY(shown("loginPage"));
    compareTurned(angle, "login");

    // The window's pop-up, shaded over the whole panel, and closed by a touch on it.
    emit m_manager->errorOccured(QStringLiteral("Turned with the panel"));
    QObject *popup = find("errorPopup");
    QTRY_VERIFY(popup->property("opened").toBool());
    compareTurned(angle, "popup");
    touchTurned(angle, "popupText", popup);
    QTRY_VERIFY(!popup->property("visible").toBool());

    for (const QString key : {"4", "8", "2", "6"})
        touchTurned(angle, "pinKey_" + key);
    QCOMPARE(text("pinText"), QString(4, QChar(0x2022)));
    touchTurned(angle, "loginButton");
    QTRY_VERIFY(shown("settingsPage"));
    QObject *stack = find("settingsStack");
    QTRY_VERIFY(!stack->property("busy").toBool());
    touchTurned(angle, "menuRow_EventLog");
    QTRY_VERIFY(shown("eventLogPage") && !stack->property("busy").toBool());

    // The keyboard of a focused field comes up along the panel's turned bottom edge and types.
    touchTurned(angle, "eventSearchField");
    QTRY_VERIFY(qGuiApp->inputMethod()->isVisible());
    QQuickItem *panel = item("settingsInputPanel");
    QTRY_COMPARE(panel->y(), 800 - 250.0);
    find("eventSearchField")->setProperty("cursorVisible", false);
    compareTurned(angle, "keyboard");
    touchTurned(angle, "key_a", panel);
    QCOMPARE(text("eventSearchField"), QStringLiteral("a"));
    qGuiApp->inputMethod()->hide();
}

int main(int argc, char *argv[])
{
    // As the application does: the on-screen keyboard's input method is chosen, and its folder
    // known, before the application object loads the plug-ins.
    qputenv("QT_IM_MODULE", QByteArrayLiteral("freevirtualkeyboard"));
    runtimepaths::addLibraryPaths();
    QGuiApplication app(argc, argv);
    TestScene test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_scene.moc"

namespace {
const QStringList Screens = {"InitPage", "Busy", "ScanCard", "ScanBarcode", "ScanScreens", "Valid", "Invalid",
                             "AlreadyValid", "Retry", "OutOfOrder", "OutOfService", "ScreenSaver", "Settings",
                             "Login"};
} // namespace

// The first frame holds only the page on screen; every other page is built after it, hidden,
// and kept.
void TestScene::onlyPageOnScreenInFirstFrame()
{
    launch("en_IE");
    for (const QString &name : Screens) {
        QObject *loader = find(name + "Loader");
        QVERIFY2(loader, qPrintable(name));
        QCOMPARE(loader->property("active").toBool(), name == "Busy");
    }
    QVERIFY(shown("busyPage"));
    QVERIFY(!m_window->property("pagesBuilt").toBool());

    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QTRY_VERIFY(m_window->property("pagesBuilt").toBool());
    for (const QString &name : Screens) {
        auto *loader = qobject_cast<QQuickItem *>(find(name + "Loader"));
        QVERIFY(loader->property("active").toBool());
        QVERIFY2(loader->property("item").value<QObject *>(), qPrintable(name));
        QCOMPARE(loader->isVisible(), name == "Busy");
    }
}

// A page asked for before its turn is built at once, shown, and takes the very first key.
void TestScene::pageAskedForBeforeItsTurn()
{
    launch("en_IE");
    m_manager->setMaintenanceScreen();
    QVERIFY(shown("loginPage"));
    QVERIFY(!shown("busyPage"));
    QVERIFY(!find("SettingsLoader")->property("active").toBool());
    const QPoint key = centreOf("pinKey_7");
    touch(key);
    QCOMPARE(find("loginPage")->property("pin").toString(), QStringLiteral("7"));
    QCOMPARE(text("pinText"), QStringLiteral("\u2022"));

    // The pages built after it leave its entry alone.
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QTRY_VERIFY(m_window->property("pagesBuilt").toBool());
    QVERIFY(shown("loginPage"));
    QCOMPARE(find("loginPage")->property("pin").toString(), QStringLiteral("7"));
}

// A keyboard already up stays up while the remaining pages are built behind it (the settings
// page, told once that it is hidden as it is built, must not take it down).
void TestScene::pagesBuiltLaterKeepKeyboardUp()
{
    launch("en_IE", QByteArray());
    m_window->setProperty("currentScreen", "InitPage");
    QVERIFY(shown("initPage"));
    auto *field = qobject_cast<QQuickItem *>(find("serialField"));
    QVERIFY(field);
    field->forceActiveFocus();
    qGuiApp->inputMethod()->show();
    QVERIFY(qGuiApp->inputMethod()->isVisible());
    QVERIFY(!m_window->property("pagesBuilt").toBool());

    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QTRY_VERIFY(m_window->property("pagesBuilt").toBool());
    QVERIFY(qGuiApp->inputMethod()->isVisible());
    QVERIFY(field->hasActiveFocus());
    qGuiApp->inputMethod()->hide();
}
