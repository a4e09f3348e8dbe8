#include "controller/screencontroller.h"
#include "validation/transaction.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

using manager::ScreenController;
using Screen = manager::screens::Screen;
using Status = manager::Validator::Status;

namespace {

// What a row does to the controller after its inputs are set.
enum class Event { Status, Result, Retry, Maintenance, IgnitionSwitched, GoingDown, Login, Disconnected };

// "No request" for the readers and the display columns.
constexpr int None = -1;

} // namespace

Q_DECLARE_METATYPE(Event)

// The screen rules on their own: inputs in, then the page, its time-out, the readers and the
// display out; no broker, no scene.
class TestScreenController : public QObject
{
    Q_OBJECT

private slots:
    void rules_data();
    void rules();
    void resultScreen_data();
    void resultScreen();
    void faultPageDarkensDisplayAndLeavingLightsIt();
    void namesAreTheEnumeration();
};

void TestScreenController::rules_data()
{
    QTest::addColumn<Screen>("from");
    QTest::addColumn<bool>("deviceId");
    QTest::addColumn<bool>("session");
    QTest::addColumn<bool>("ignition");
    QTest::addColumn<Status>("status");
    QTest::addColumn<Event>("event");
    QTest::addColumn<int>("deny");
    QTest::addColumn<Screen>("screen");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("readers");
    QTest::addColumn<QString>("message");

    const auto B = Screen::Busy;
    // clang-format off
    QTest::newRow("no device id, online")        << B << false << false << true  << Status::Online       << Event::Status << 0 << Screen::InitPage     << 0 << None << "";
    QTest::newRow("online")                      << B << true  << false << true  << Status::Online       << Event::Status << 0 << Screen::ScanScreens  << 0 << 1 << "";
    QTest::newRow("degraded")                    << B << true  << false << true  << Status::Degraded     << Event::Status << 0 << Screen::ScanScreens  << 0 << 1 << "";
    QTest::newRow("init")                        << B << true  << false << true  << Status::Init         << Event::Status << 0 << Screen::Busy         << 0 << None << "Please Wait";
    QTest::newRow("out of service")              << B << true  << false << true  << Status::OutOfService << Event::Status << 0 << Screen::OutOfService << 0 << 0 << "";
    QTest::newRow("offline")                     << B << true  << false << true  << Status::Offline      << Event::Status << 0 << Screen::OutOfOrder   << 0 << 0 << "#0004";
    QTest::newRow("no report yet")               << B << true  << false << true  << Status::Unknown      << Event::Status << 0 << Screen::OutOfOrder   << 0 << 0 << "#0004";
    QTest::newRow("offline, ignition off")       << B << true  << false << false << Status::Offline      << Event::Status << 0 << Screen::Busy         << 0 << 0 << "";
    QTest::newRow("offline, on the PIN page")    << Screen::Login << true << false << true << Status::Offline << Event::Status << 0 << Screen::Login << 0 << 0 << "";
    QTest::newRow("offline, session")            << Screen::Settings << true << true << true << Status::Offline << Event::Status << 0 << Screen::Settings << 0 << None << "";
    QTest::newRow("disconnected")                << B << true  << false << true  << Status::Online       << Event::Disconnected << 0 << Screen::OutOfOrder << 0 << None << "Disconnected";
    QTest::newRow("valid")                       << B << true  << false << true  << Status::Online       << Event::Result << 0   << Screen::Valid        << 3000 << None << "";
    QTest::newRow("ticket already validated")    << B << true  << false << true  << Status::Online       << Event::Result << 103 << Screen::AlreadyValid << 3000 << None << "";
    QTest::newRow("card already validated")      << B << true  << false << true  << Status::Online       << Event::Result << 207 << Screen::AlreadyValid << 3000 << None << "";
    QTest::newRow("refused")                     << B << true  << false << true  << Status::Online       << Event::Result << 205 << Screen::Invalid      << 3000 << None << "";
    QTest::newRow("result during session")       << Screen::Settings << true << true << true << Status::Online << Event::Result << 0 << Screen::Settings << 0 << None << "";
    QTest::newRow("retry")                       << B << true  << false << true  << Status::Online       << Event::Retry  << 0 << Screen::Retry        << 3000 << None << "";
    QTest::newRow("maintenance button")          << Screen::ScanScreens << true << false << true << Status::Online << Event::Maintenance << 0 << Screen::Login << 15000 << None << "";
    QTest::newRow("maintenance button again")    << Screen::Login << true << false << true << Status::Online << Event::Maintenance << 0 << Screen::ScanScreens << 0 << 1 << "";
    QTest::newRow("maintenance button, session") << Screen::ScanScreens << true << true << true << Status::Online << Event::Maintenance << 0 << Screen::Settings << 0 << None << "";
    QTest::newRow("login")                       << Screen::Login << true << true << true << Status::Online << Event::Login << 0 << Screen::Settings << 0 << None << "";
    QTest::newRow("ignition off")                << Screen::ScanScreens << true << false << false << Status::Online << Event::IgnitionSwitched << 0 << Screen::ScreenSaver << 0 << None << "";
    QTest::newRow("ignition on")                 << Screen::ScreenSaver << true << false << true << Status::Online << Event::IgnitionSwitched << 0 << Screen::ScanScreens << 0 << 1 << "";
    QTest::newRow("going down")                  << Screen::ScanScreens << true << false << true << Status::Online << Event::GoingDown << 0 << Screen::Busy << 30000 << None << "Rebooting";
    // clang-format on
}

void TestScreenController::rules()
{
    QFETCH(Screen, from);
    QFETCH(bool, deviceId);
    QFETCH(bool, session);
    QFETCH(bool, ignition);
    QFETCH(Status, status);
    QFETCH(Event, event);
    QFETCH(int, deny);

    ScreenController controller([&ignition] { return ignition; });
    controller.setDeviceIdPresent(deviceId);
    controller.setSessionOpen(session);
    controller.setValidatorReason(QStringLiteral("#0004"), QStringLiteral("RFID is not operational"));
    controller.setMessage(QString());
    if (event != Event::Status)
        controller.setValidatorStatus(status);
    controller.setScreen(from);
    QSignalSpy readerSpy(&controller, &ScreenController::readersRequested);
    QSignalSpy tone(&controller, &ScreenController::toneRequested);

    switch (event) {
    case Event::Status:
        controller.setValidatorStatus(status);
        break;
    case Event::Result:
        controller.showResult(
                Transaction(QJsonObject{{"result", deny == 0}, {"denyReason", QJsonObject{{"id", deny}}}}, nullptr));
        break;
    case Event::Retry:
        controller.cardRetry();
        break;
    case Event::Maintenance:
        controller.setMaintenanceScreen();
        break;
    case Event::IgnitionSwitched:
        controller.setIgnition(ignition);
        break;
    case Event::GoingDown:
        controller.goingDown(QStringLiteral("Rebooting"));
        break;
    case Event::Login:
        controller.loginSucceeded();
        break;
    case Event::Disconnected:
        controller.setOutOfOrderScreen(QStringLiteral("Disconnected"));
        break;
    }

    QTEST(controller.screen(), "screen");
    QFETCH(int, timeoutMs);
    QCOMPARE(controller.screenTimerActive() ? controller.screenTimerInterval() : 0, timeoutMs);
    QFETCH(int, readers);
    QCOMPARE(readerSpy.count(), readers == None ? 0 : 1);
    if (readers != None)
        QCOMPARE(readerSpy.first().first().toBool(), readers == 1);
    QTEST(controller.message(), "message");
    // A result page and the retry page come with their tone, the valid one only on "Valid".
    const bool toned = event == Event::Result || event == Event::Retry;
    QCOMPARE(tone.count(), toned && !session ? 1 : 0);
    if (tone.count())
        QCOMPARE(tone.first().first().toBool(), controller.screen() == Screen::Valid);
}

void TestScreenController::resultScreen_data()
{
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("deny");
    QTest::addColumn<Screen>("screen");
    QTest::newRow("valid, reason ignored") << true << 103 << Screen::Valid;
    QTest::newRow("ticket validated already") << false << 103 << Screen::AlreadyValid;
    QTest::newRow("card validated already") << false << 207 << Screen::AlreadyValid;
    QTest::newRow("other reason") << false << 104 << Screen::Invalid;
}

// The result page is a function of the result and its deny reason alone.
void TestScreenController::resultScreen()
{
    QFETCH(bool, valid);
    QFETCH(int, deny);
    QTEST(manager::screens::resultScreen(valid, deny), "screen");
}

// A fault page left alone switches the display off; another page asks for it on again, unless
// it is on already.
void TestScreenController::faultPageDarkensDisplayAndLeavingLightsIt()
{
    ScreenController controller;
    controller.setDisplayOffUnitMs(10);
    controller.setDisplayOffMinutes(3);
    controller.setDeviceIdPresent(true);
    QSignalSpy power(&controller, &ScreenController::displayPowerRequested);

    controller.setValidatorStatus(Status::OutOfService);
    QVERIFY(controller.displayOffTimerActive());
    QCOMPARE(controller.displayOffTimerInterval(), 30);
    QVERIFY(power.wait());
    QCOMPARE(power.takeFirst().first().toBool(), false);

    controller.setValidatorStatus(Status::Online);
    QCOMPARE(power.count(), 1);
    QCOMPARE(power.takeFirst().first().toBool(), true);
    controller.setDisplayPowered(true);
    controller.setScreen(Screen::Valid, 3000);
    QCOMPARE(power.count(), 0);

    // 0 minutes: the fault page starts no timer.
    controller.setDisplayOffMinutes(0);
    controller.setValidatorStatus(Status::Offline);
    QCOMPARE(controller.screen(), Screen::OutOfOrder);
    QVERIFY(!controller.displayOffTimerActive());
}

// Log lines, screenshots and the page table use the enumeration's names; others are refused.
void TestScreenController::namesAreTheEnumeration()
{
    QCOMPARE(manager::screens::name(Screen::AlreadyValid), QStringLiteral("AlreadyValid"));
    Screen screen = Screen::Busy;
    QVERIFY(manager::screens::fromName(QStringLiteral("ScreenSaver"), &screen));
    QCOMPARE(screen, Screen::ScreenSaver);
    QVERIFY(!manager::screens::fromName(QStringLiteral("Nowhere"), &screen));
    QVERIFY(!manager::screens::fromName(QString(), &screen));
    QCOMPARE(screen, Screen::ScreenSaver);
}

QTEST_GUILESS_MAIN(TestScreenController)
#include "tst_screencontroller.moc"
