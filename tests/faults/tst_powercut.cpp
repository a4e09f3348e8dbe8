#include "app/config.h"
#include "controller/guimanager.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

// A writer is killed (SIGKILL, as a power cut would stop it) at random moments of a burst of
// writes. Whatever moment it hits, the file must load, hold a value that was really written,
// and lose nothing but the write in flight. The moments are counted from the writer's first
// write: a slow start (a sanitized or emulated build, a busy machine) must not end a round
// before anything was written.
class TestPowerCut : public QObject
{
    Q_OBJECT

private slots:
    void configurationSurvives();
    void serialNumberSurvives();

private:
    // Runs the writer for a random while and returns the last value it reported written.
    static int runAndKill(const QString &mode, const QString &file, QRandomGenerator &random)
    {
        QProcess writer;
        writer.start(QStringLiteral(FAULTWRITER), {mode, file});
        if (!writer.waitForStarted())
            return -1;
        while (!writer.canReadLine()) {
            if (!writer.waitForReadyRead(60000))
                return -1;
        }
        QTest::qWait(int(random.bounded(120, 320)));
        writer.kill();
        writer.waitForFinished();
        const QList<QByteArray> lines = writer.readAllStandardOutput().split('\n');
        int last = 0;
        for (const QByteArray &line : lines) {
            if (!line.isEmpty())
                last = line.toInt();
        }
        return last;
    }
};

void TestPowerCut::configurationSurvives()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("gui.conf"));
    QRandomGenerator random(42);
    for (int round = 0; round < 12; ++round) {
        const int last = runAndKill(QStringLiteral("config"), file, random);
        QVERIFY(last > 0);
        Config config(file, GUIManager::Defaults);
        QCOMPARE(config.keys().size(), 26);
        const int value = config.get(QStringLiteral("gui/displayOffMin")).toInt();
        // The last reported write, or the one in flight when the power went.
        QVERIFY2(value == last || value == last + 1, qPrintable(QStringLiteral("%1 after %2").arg(value).arg(last)));
        QCOMPARE(config.get(QStringLiteral("mqtt/port")).toInt(), 1883);
    }
}

void TestPowerCut::serialNumberSurvives()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("serialnumber"));
    QRandomGenerator random(7);
    for (int round = 0; round < 12; ++round) {
        const int last = runAndKill(QStringLiteral("serial"), file, random);
        QVERIFY(last > 0);
        QFile serial(file);
        QVERIFY(serial.open(QIODevice::ReadOnly));
        const QByteArray content = serial.readAll();
        QVERIFY2(content == QStringLiteral("TSV-%1").arg(last, 6, 10, QLatin1Char('0')).toUtf8()
                     || content == QStringLiteral("TSV-%1").arg(last + 1, 6, 10, QLatin1Char('0')).toUtf8(),
                 content.constData());
    }
}

QTEST_GUILESS_MAIN(TestPowerCut)
#include "tst_powercut.moc"
