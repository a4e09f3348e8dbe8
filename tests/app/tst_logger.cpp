#include "app/logger.h"

#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(qtInternals, "qt.tessivo.internals")

using manager::Logger;

// Catches what the real handler writes to standard error while it lives.
class StderrCapture
{
public:
    StderrCapture()
    {
        m_file.open();
        std::fflush(stderr);
        m_saved = ::dup(STDERR_FILENO);
        ::dup2(m_file.handle(), STDERR_FILENO);
    }
    ~StderrCapture() { restore(); }

    QStringList lines()
    {
        restore();
        m_file.seek(0);
        QStringList result = QString::fromUtf8(m_file.readAll()).split('\n');
        result.removeAll(QString());
        return result;
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }

    QTemporaryFile m_file;
    int m_saved = -1;
};

class TestLogger : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void stderrLineCarriesRightAlignedStamp();
    void levelsFilterMessages_data();
    void levelsFilterMessages();
    void colourWrapsWarnings();
    void bothOutputsOffSilenceEverything();
    void fatalStillAborts();
};

void TestLogger::initTestCase()
{
    Logger::instance(); // installs the process-wide handler
}

void TestLogger::init()
{
    Logger *logger = Logger::instance();
    logger->setSyslog(false);
    logger->setStderr(true);
    logger->setColor(false);
    logger->setLevel(2);
}

// Every line is "[%9.03f] message": seconds since start, three decimals, nine wide.
void TestLogger::stderrLineCarriesRightAlignedStamp()
{
    StderrCapture capture;
    qInfo().noquote().nospace() << "[Test] hello " << 42;
    const QStringList lines = capture.lines();
    QCOMPARE(lines.size(), 1);
    static const QRegularExpression format(QStringLiteral("^\\[( *)(\\d+\\.\\d{3})\\] \\[Test\\] hello 42$"));
    const auto match = format.match(lines.first());
    QVERIFY2(match.hasMatch(), qPrintable(lines.first()));
    QCOMPARE(match.captured(1).size() + match.captured(2).size(), 9);
    QVERIFY(match.captured(2).toDouble() < 600);
}

void TestLogger::levelsFilterMessages_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QStringList>("expected");
    const QStringList all = {"debug", "info", "warning", "critical", "qt-debug"};
    QTest::newRow("0 errors only") << 0 << QStringList({"critical"});
    QTest::newRow("1 warnings") << 1 << QStringList({"warning", "critical"});
    QTest::newRow("2 info") << 2 << QStringList({"info", "warning", "critical"});
    QTest::newRow("3 debug, no qt") << 3 << QStringList({"debug", "info", "warning", "critical"});
    QTest::newRow("4 everything") << 4 << all;
    QTest::newRow("7 acts as 2") << 7 << QStringList({"info", "warning", "critical"});
    QTest::newRow("-1 acts as 2") << -1 << QStringList({"info", "warning", "critical"});
}

// Each level lets through its message types; only level 4 shows the toolkit's own categories.
void TestLogger::levelsFilterMessages()
{
    QFETCH(int, level);
    QFETCH(QStringList, expected);
    Logger::instance()->setLevel(level);
    StderrCapture capture;
    qDebug() << "debug";
    qInfo() << "info";
    qWarning() << "warning";
    qCritical() << "critical";
    qCDebug(qtInternals) << "qt-debug";
    QStringList seen;
    for (const QString &line : capture.lines())
        seen << line.section(QStringLiteral("] "), 1);
    QCOMPARE(seen, expected);
}

// With colour on, a warning is wrapped in yellow and reset.
void TestLogger::colourWrapsWarnings()
{
    Logger::instance()->setColor(true);
    StderrCapture capture;
    qWarning().noquote() << "careful";
    qInfo().noquote() << "plain";
    const QStringList lines = capture.lines();
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines.at(0).endsWith(QStringLiteral("] \033[33mcareful\033[39m")), qPrintable(lines.at(0)));
    QVERIFY(lines.at(1).endsWith(QStringLiteral("] plain")));
}

void TestLogger::bothOutputsOffSilenceEverything()
{
    Logger::instance()->setStderr(false);
    StderrCapture capture;
    qCritical() << "gone";
    QVERIFY(capture.lines().isEmpty());
}

// A fatal message aborts the process even when nothing is written anywhere.
void TestLogger::fatalStillAborts()
{
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        Logger::instance()->setStderr(false);
        Logger::instance()->setSyslog(false);
        qFatal("fatal");
        ::_exit(0);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFSIGNALED(status));
    QCOMPARE(WTERMSIG(status), SIGABRT);
}

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
