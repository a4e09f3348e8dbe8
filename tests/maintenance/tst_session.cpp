#include "logcapture.h"

#include "app/config.h"
#include "controller/guimanager.h"
#include "maintenance/sessionmanager.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>


namespace {
const QString PinKey = QStringLiteral("gui/settingsPin");
// Long enough that the checks before expiry are never overtaken by the timer.
constexpr int ShortSessionMs = 1500;
}

class TestSession : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void pinMatchesExactly_data();
    void pinMatchesExactly();
    void loginLogsAndGrantsBeforeSessionChange();
    void wrongPinLeavesActiveSessionAlone();
    void sessionExpiresAfterInterval();
    void resetTimerPushesTheEnd();
    void secondLoginSignalsAgainAndRestarts();
    void logoutEndsSession();
    void logoutWithoutSessionDoesNothing();
    void resetTimerWithoutSessionStartsNothing();
    void pinChangeKeepsSessionAndCountsFromNextLogin();
    void lockRefusesEvenTheRightPinUntilItEnds();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Config> m_config;
};

void TestSession::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Creating default config file")));
    m_config.reset(new Config(m_dir->filePath(QStringLiteral("gui.conf")), GUIManager::Defaults));
}

void TestSession::cleanup()
{
    m_config.reset();
    m_dir.reset();
}

// Only the configured text, exactly, opens a session; numbers compare in decimal form.
void TestSession::pinMatchesExactly_data()
{
    QTest::addColumn<QVariant>("configured");
    QTest::addColumn<QString>("entered");
    QTest::addColumn<bool>("granted");

    QTest::newRow("default") << QVariant() << "4826" << true;
    QTest::newRow("leading blank") << QVariant() << " 4826" << false;
    QTest::newRow("trailing blank") << QVariant() << "4826 " << false;
    QTest::newRow("prefix") << QVariant() << "482" << false;
    QTest::newRow("longer") << QVariant() << "48260" << false;
    QTest::newRow("empty") << QVariant() << "" << false;
    QTest::newRow("letters exact") << QVariant("abCD") << "abCD" << true;
    QTest::newRow("letters other case") << QVariant("abCD") << "ABcd" << false;
    QTest::newRow("number") << QVariant(1234) << "1234" << true;
    QTest::newRow("empty configured") << QVariant(QString()) << "" << true;
}

void TestSession::pinMatchesExactly()
{
    QFETCH(QVariant, configured);
    QFETCH(QString, entered);
    QFETCH(bool, granted);

    if (configured.isValid())
        m_config->set(PinKey, configured);
    SessionManager session(*m_config);
    QSignalSpy grantedSpy(&session, &SessionManager::accessGranted);
    QSignalSpy deniedSpy(&session, &SessionManager::accessDenied);
    QSignalSpy changedSpy(&session, &SessionManager::sessionActiveChanged);
    if (!granted)
        QTest::ignoreMessage(QtWarningMsg, "[SessionManager] WARN: User entered wrong pin");

    session.loginRequest(entered);

    QCOMPARE(session.sessionActive(), granted);
    QCOMPARE(grantedSpy.count(), granted ? 1 : 0);
    QCOMPARE(changedSpy.count(), granted ? 1 : 0);
    QCOMPARE(deniedSpy.count(), granted ? 0 : 1);
    if (granted) {
        // A fresh session runs the full ten minutes.
        QVERIFY(session.remainingTime() > SessionManager::SessionMillis - 10000);
        QVERIFY(session.remainingTime() <= SessionManager::SessionMillis);
    } else {
        QCOMPARE(session.remainingTime(), -1);
    }
}

// A match logs the request and the user, then announces access before the session change.
void TestSession::loginLogsAndGrantsBeforeSessionChange()
{
    SessionManager session(*m_config);
    QStringList order;
    connect(&session, &SessionManager::accessGranted, this, [&] { order << "granted"; });
    connect(&session, &SessionManager::sessionActiveChanged, this, [&] {
        order << (session.sessionActive() ? "active" : "inactive");
    });
    QTest::ignoreMessage(QtInfoMsg, "[SessionManager] Login requested with PIN");
    // The PIN itself never reaches the log, only its length.
    QTest::ignoreMessage(QtDebugMsg, "[SessionManager] Entered PIN    : ****");
    QTest::ignoreMessage(QtInfoMsg, "[SessionManager] User logged-in : ORVO, Admin");

    session.loginRequest(QStringLiteral("4826"));

    QCOMPARE(order, QStringList({"granted", "active"}));
    QVERIFY(session.user());
    QCOMPARE(session.user()->id, 0);
    QCOMPARE(session.user()->firstName, QStringLiteral("ORVO"));
    QCOMPARE(session.user()->lastName, QStringLiteral("Admin"));
}

// A wrong PIN during a session only denies: the session and its timer stay as they were.
void TestSession::wrongPinLeavesActiveSessionAlone()
{
    SessionManager session(*m_config);
    session.setSessionInterval(ShortSessionMs);
    session.loginRequest(QStringLiteral("4826"));
    QTRY_VERIFY(session.remainingTime() < ShortSessionMs * 2 / 3);
    QSignalSpy changedSpy(&session, &SessionManager::sessionActiveChanged);
    QSignalSpy deniedSpy(&session, &SessionManager::accessDenied);
    QTest::ignoreMessage(QtWarningMsg, "[SessionManager] WARN: User entered wrong pin");

    session.loginRequest(QStringLiteral("0000"));

    QVERIFY(session.sessionActive());
    QCOMPARE(deniedSpy.count(), 1);
    QCOMPARE(changedSpy.count(), 0);
    QVERIFY(session.remainingTime() < ShortSessionMs * 2 / 3);
}

// At the end of the interval the session ends: warning, logout line, then the change signal.
void TestSession::sessionExpiresAfterInterval()
{
    SessionManager session(*m_config);
    session.setSessionInterval(200);
    session.loginRequest(QStringLiteral("4826"));
    QSignalSpy changedSpy(&session, &SessionManager::sessionActiveChanged);
    LogCapture log;

    QVERIFY(changedSpy.wait(5000));

    QVERIFY(!session.sessionActive());
    QVERIFY(!session.user());
    QCOMPARE(session.remainingTime(), -1);
    QStringList lines = log.texts();
    lines = lines.filter(QStringLiteral("[SessionManager]"));
    QCOMPARE(lines, QStringList({"[SessionManager] Session expired",
                                 "[SessionManager] User logged-out : ORVO, Admin"}));
}

// resetTimer during a session gives it the full interval again from the call.
void TestSession::resetTimerPushesTheEnd()
{
    SessionManager session(*m_config);
    session.setSessionInterval(ShortSessionMs);
    session.loginRequest(QStringLiteral("4826"));
    QTRY_VERIFY(session.remainingTime() < ShortSessionMs / 2);

    session.resetTimer();

    QVERIFY(session.remainingTime() > ShortSessionMs / 2);
    QVERIFY(session.sessionActive());
    QSignalSpy changedSpy(&session, &SessionManager::sessionActiveChanged);
    QVERIFY(changedSpy.wait(5000));
    QVERIFY(!session.sessionActive());
}

// Logging in again during a session announces it again and restarts the interval.
void TestSession::secondLoginSignalsAgainAndRestarts()
{
    SessionManager session(*m_config);
    session.setSessionInterval(ShortSessionMs);
    QSignalSpy grantedSpy(&session, &SessionManager::accessGranted);
    QSignalSpy changedSpy(&session, &SessionManager::sessionActiveChanged);
    session.loginRequest(QStringLiteral("4826"));
    QTRY_VERIFY(session.remainingTime() < ShortSessionMs / 2);

    session.loginRequest(QStringLiteral("4826"));

    QCOMPARE(grantedSpy.count(), 2);
    QCOMPARE(changedSpy.count(), 2);
    QVERIFY(session.sessionActive());
    QVERIFY(session.remainingTime() > ShortSessionMs / 2);
}

// Logout ends the session at once and stops the timer.
void TestSession::logoutEndsSession()
{
    SessionManager session(*m_config);
    session.loginRequest(QStringLiteral("4826"));
    QSignalSpy changedSpy(&session, &SessionManager::sessionActiveChanged);
    QTest::ignoreMessage(QtInfoMsg, "[SessionManager] User logged-out : ORVO, Admin");

    session.logoutRequest();

    QCOMPARE(changedSpy.count(), 1);
    QVERIFY(!session.sessionActive());
    QVERIFY(!session.user());
    QCOMPARE(session.remainingTime(), -1);
}

// Logout without a session writes nothing and emits nothing.
void TestSession::logoutWithoutSessionDoesNothing()
{
    SessionManager session(*m_config);
    QSignalSpy changedSpy(&session, &SessionManager::sessionActiveChanged);
    LogCapture log;

    session.logoutRequest();

    QCOMPARE(changedSpy.count(), 0);
    QVERIFY(log.texts().isEmpty());
}

// Activity outside a session arms no timer, so no stray "Session expired" follows later.
void TestSession::resetTimerWithoutSessionStartsNothing()
{
    SessionManager session(*m_config);
    session.setSessionInterval(50);

    session.resetTimer();

    QCOMPARE(session.remainingTime(), -1);
}

// A new PIN keeps the running session (same user) and is the one the next login needs.
void TestSession::pinChangeKeepsSessionAndCountsFromNextLogin()
{
    SessionManager session(*m_config);
    session.loginRequest(QStringLiteral("4826"));
    QSignalSpy changedSpy(&session, &SessionManager::sessionActiveChanged);

    m_config->set(PinKey, QStringLiteral("7391"));

    QVERIFY(session.sessionActive());
    QCOMPARE(changedSpy.count(), 0);
    QVERIFY(session.user());
    QCOMPARE(session.user()->firstName, QStringLiteral("ORVO"));
    QCOMPARE(session.user()->pin, QStringLiteral("7391"));

    QSignalSpy deniedSpy(&session, &SessionManager::accessDenied);
    QSignalSpy grantedSpy(&session, &SessionManager::accessGranted);
    QTest::ignoreMessage(QtWarningMsg, "[SessionManager] WARN: User entered wrong pin");
    session.loginRequest(QStringLiteral("4826"));
    session.loginRequest(QStringLiteral("7391"));
    QCOMPARE(deniedSpy.count(), 1);
    QCOMPARE(grantedSpy.count(), 1);
}

// Five wrong PINs in a row refuse even the right PIN, without comparing it, with one warning;
// the wait counts down in whole seconds, then the right PIN logs in and the count starts over.
void TestSession::lockRefusesEvenTheRightPinUntilItEnds()
{
    SessionManager session(*m_config);
    session.setLockoutInterval(1500);
    QList<int> shown;
    connect(&session, &SessionManager::lockSecondsLeftChanged, this, [&] { shown << session.lockSecondsLeft(); });
    QSignalSpy lockedSpy(&session, &SessionManager::lockedChanged);
    LogCapture log;
    for (int i = 0; i <= SessionManager::MaxWrongPins; ++i)
        session.loginRequest(i < SessionManager::MaxWrongPins ? QStringLiteral("1111") : QStringLiteral("4826"));

    QVERIFY(!session.sessionActive());
    QCOMPARE(log.count("[SessionManager] WARN: User entered wrong pin"), SessionManager::MaxWrongPins);
    QCOMPARE(log.count("[SessionManager] WARN: 5 wrong PINs in a row, logins refused for 2 s"), 1);
    QVERIFY(lockedSpy.count() == 2 || (lockedSpy.wait(5000) && lockedSpy.count() == 2));
    QCOMPARE(shown, QList<int>({2, 1, 0}));
    for (const char *pin : {"1", "2", "3", "4", "4826", "1", "2", "3", "4"})
        session.loginRequest(QLatin1String(pin));
    QVERIFY(session.sessionActive());
    QVERIFY(!session.locked());
}

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
