// tessivo-bench: runs the benchmarks and prints their figures as tables. Every figure of the
// application is taken in the same run as the same figure of the toolkit floor (a bare Material
// window, tessivo-bench-floor), their runs interleaved so that the load of the machine falls on
// both alike. The device simulator plays the services on a private broker throughout.
// The same figures follow on Qt Quick's software renderer, beside the software floor (the same
// bare window with QT_QUICK_BACKEND=software), in a table of their own. See bench/README.md.

#include "benchclock.h"
#include "brokerfixture.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QUrl>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <cstdio>
#include <functional>
#include <unistd.h>

namespace {

constexpr double FrameMs = 1000.0 / 60;
// A validator without a GPU: the application's resident size and idle cost on the software
// renderer, whatever the floor's.
constexpr double SoftwareRssMb = 90;
constexpr double SoftwareIdleCpu = 0.5;

struct Options
{
    bool full = false;
    QStringList only;
    QString binDir;
    quint16 port = 0;
    // The back end of the programs started now.
    bool software = false;
};

Options options;

// ---------------------------------------------------------------------------------------------
// Figures

struct Series
{
    QVector<double> values;

    void add(double value) { values.append(value); }
    bool isEmpty() const { return values.isEmpty(); }
    double at(double quantile) const
    {
        if (values.isEmpty())
            return qQNaN();
        QVector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        // Nearest rank: the p99 of 500 samples is the 495th.
        const int rank = qBound(1, int(std::ceil(quantile * sorted.size())), sorted.size());
        return sorted.at(rank - 1);
    }
    double median() const { return at(0.5); }
    double p99() const { return at(0.99); }
};

QString number(double value, int decimals = 1)
{
    return qIsNaN(value) ? QStringLiteral("–") : QString::number(value, 'f', decimals);
}

QString medianP99(const Series &series, int decimals = 1)
{
    if (series.isEmpty())
        return QStringLiteral("–");
    return QStringLiteral("%1 / %2 (n=%3)")
            .arg(number(series.median(), decimals), number(series.p99(), decimals))
            .arg(series.values.size());
}

struct Row
{
    QString figure;
    QString floor;
    QString app;
    QString target;
    QString verdict;
};

QVector<Row> table;
QVector<Row> softwareTable;
// The table the figures being taken go to.
QVector<Row> *rows = &table;

void addRow(const QString &figure, const QString &floor, const QString &app, const QString &target = QString(),
            int verdict = -1)
{
    rows->append({figure, floor, app, target,
                  verdict < 0 ? QString() : verdict ? QStringLiteral("met") : QStringLiteral("MISSED")});
    std::printf("  %-52s floor %-26s app %-26s %s %s\n", qPrintable(figure), qPrintable(floor), qPrintable(app),
                qPrintable(target), qPrintable(rows->last().verdict));
    std::fflush(stdout);
}

void printTable(const QVector<Row> &table, const char *title)
{
    if (table.isEmpty())
        return;
    std::printf("\n%s\n\n| Figure | Floor (median / p99) | Tessivo (median / p99) | Target | |\n|---|---|---|---|---|\n",
                title);
    for (const Row &row : table)
        std::printf("| %s | %s | %s | %s | %s |\n", qPrintable(row.figure), qPrintable(row.floor),
                    qPrintable(row.app), qPrintable(row.target), qPrintable(row.verdict));
    std::fflush(stdout);
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    file.open(QIODevice::ReadOnly);
    return QString::fromLatin1(file.readAll().trimmed());
}

// ---------------------------------------------------------------------------------------------
// Processes

// Kilobytes of one "Name:  123 kB" line of a /proc file.
qint64 procKb(qint64 pid, const char *file, const QByteArray &name)
{
    QFile status(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(file)));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(name + ':'))
            return line.mid(name.size() + 1).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// The resident size of the software GL stack (the Mesa driver and its LLVM).
qint64 glStackKb(qint64 pid)
{
    QFile smaps(QStringLiteral("/proc/%1/smaps").arg(pid));
    if (!smaps.open(QIODevice::ReadOnly))
        return -1;
    qint64 total = 0;
    bool gl = false;
    for (const QByteArray &line : smaps.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        if (!line.contains(':') || line.contains('/') || (line.at(0) >= '0' && line.at(0) <= 'f' && line.contains('-')
                                                           && !line.contains(": "))) {
            gl = line.contains("dri") || line.contains("LLVM") || line.contains("libGL") || line.contains("gallium")
                    || line.contains("glapi");
            continue;
        }
        if (gl && line.startsWith("Rss:"))
            total += line.mid(4).trimmed().split(' ').first().toLongLong();
    }
    return total;
}

// User and system time of a process, in seconds.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return qQNaN();
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    static const double ticks = double(sysconf(_SC_CLK_TCK));
    return (fields.value(11).toLongLong() + fields.value(12).toLongLong()) / ticks;
}

// Every process below `pid`, itself included.
QList<qint64> processTree(qint64 pid)
{
    QHash<qint64, QList<qint64>> children;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const qint64 child = entry.toLongLong(&ok);
        if (!ok)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(child));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        children[fields.value(1).toLongLong()].append(child);
    }
    QList<qint64> tree{pid};
    for (int i = 0; i < tree.size(); ++i)
        tree += children.value(tree.at(i));
    return tree;
}

// A child program whose stdout lines are read as they come.
class Child
{
public:
    Child(const QString &program, const QStringList &arguments, bool paced = false)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LD_PRELOAD"), options.binDir + QStringLiteral("/libtessivo-swap-pacer.so"));
        environment.insert(QStringLiteral("TESSIVO_SWAP_HZ"), paced ? QStringLiteral("60") : QStringLiteral("0"));
        // Floor and application alike; the software renderer swaps no GL buffers to pace.
        if (options.software)
            environment.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
        else
            environment.remove(QStringLiteral("QT_QUICK_BACKEND"));
        m_process.setProcessEnvironment(environment);
        // The programs' own log lines would bury the figures.
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_startedAt = monotonicNs();
        m_process.start(program, arguments);
    }
    ~Child()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    qint64 startedAt() const { return m_startedAt; }
    qint64 pid() const { return m_process.processId(); }

    // The next line that starts with one of `keys`, or an empty one after the time-out.
    QByteArray waitFor(const QList<QByteArray> &keys, int timeoutMs = 30000)
    {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            while (m_process.canReadLine()) {
                const QByteArray line = m_process.readLine().trimmed();
                m_lines.append(line);
                for (const QByteArray &key : keys) {
                    if (line.startsWith(key + ' ') || line == key)
                        return line;
                }
            }
            const int left = timeoutMs - int(timer.elapsed());
            if (left <= 0 || m_process.state() == QProcess::NotRunning)
                return QByteArray();
            m_process.waitForReadyRead(qMin(left, 1000));
        }
    }
    // Every line read so far that starts with `key`, its fields after the key.
    QList<QList<QByteArray>> lines(const QByteArray &key) const
    {
        QList<QList<QByteArray>> result;
        for (const QByteArray &line : m_lines) {
            if (line.startsWith(key + ' '))
                result.append(line.mid(key.size() + 1).split(' '));
        }
        return result;
    }
    // The child's count of frames swapped, as it last reported it (once a second).
    qint64 swaps()
    {
        m_process.waitForReadyRead(0);
        waitFor({"no-such-line"}, 0);
        const auto reports = lines("swaps");
        return reports.isEmpty() ? 0 : reports.last().value(0).toLongLong();
    }
    bool finish(int timeoutMs = 10000) { return m_process.waitForFinished(timeoutMs); }

private:
    QProcess m_process;
    qint64 m_startedAt = 0;
    QList<QByteArray> m_lines;
};

QString floorProgram() { return options.binDir + QStringLiteral("/tessivo-bench-floor"); }
QString appProgram() { return options.binDir + QStringLiteral("/tessivo-bench-app"); }
QStringList appArguments(const QStringList &more)
{
    return QStringList{QStringLiteral("--port"), QString::number(options.port)} + more;
}

double fieldMs(const QByteArray &field) { return field.toLongLong() / 1e6; }

// ---------------------------------------------------------------------------------------------
// 2. Start-up

void startup()
{
    const int rounds = options.full ? 20 : 8;
    std::printf("\nStart-up: %d rounds, floor and application alternating, warm caches, swaps unpaced\n", rounds);
    Series floor, app, scan;
    // The first run of each fills the shader and font caches; it is not counted.
    for (int round = -1; round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool floorTurn = (turn == 0) == (round % 2 == 0);
            if (floorTurn) {
                Child child(floorProgram(), {QStringLiteral("--exit-after-frame")});
                const QByteArray line = child.waitFor({"first-frame"});
                if (round >= 0 && !line.isEmpty())
                    floor.add((line.split(' ').at(1).toLongLong() - child.startedAt()) / 1e6);
                child.finish();
            } else {
                Child child(appProgram(), appArguments({QStringLiteral("--exit-at"), QStringLiteral("scan")}));
                const QByteArray first = child.waitFor({"first-frame"});
                const QByteArray idle = child.waitFor({"scan-frame"});
                if (round >= 0 && !first.isEmpty())
                    app.add((first.split(' ').at(1).toLongLong() - child.startedAt()) / 1e6);
                if (round >= 0 && !idle.isEmpty())
                    scan.add((idle.split(' ').at(1).toLongLong() - child.startedAt()) / 1e6);
                child.finish();
            }
        }
    }
    const double factor = options.software ? 1.3 : 1.5;
    const double limit = factor * floor.median();
    addRow(QStringLiteral("Start-up: process start to first frame (ms)"), medianP99(floor, 0), medianP99(app, 0),
           QStringLiteral("median ≤ %1 × floor = %2").arg(number(factor, 1), number(limit, 0)), app.median() <= limit);
    addRow(QStringLiteral("Start-up: to first ScanScreens frame, simulator answering (ms)"), QStringLiteral("–"),
           medianP99(scan, 0));
}

// ---------------------------------------------------------------------------------------------
// 1. Validation latency

void latency()
{
    const int chunks = 5;
    const int perChunk = 100;
    std::printf("\nValidation latency: %d × %d validations (valid, already valid, invalid in turn), "
                "each chunk beside %d label changes of the floor, swaps unpaced\n",
                chunks, perChunk, perChunk);
    Series floor, echo, sent, screen, sound, frame, validFrame;
    int lost = 0;
    for (int chunk = 0; chunk < chunks; ++chunk) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool floorTurn = (turn == 0) == (chunk % 2 == 0);
            if (floorTurn) {
                Child child(floorProgram(), {QStringLiteral("--latency"), QString::number(perChunk)});
                child.waitFor({"done"}, 120000);
                for (const auto &fields : child.lines("latency"))
                    floor.add(fieldMs(fields.value(0)));
            } else {
                Child child(appProgram(), appArguments({QStringLiteral("--latency"), QString::number(perChunk)}));
                child.waitFor({"done"}, 300000);
                for (const auto &fields : child.lines("sample")) {
                    screen.add(fieldMs(fields.value(1)));
                    if (fields.value(2).toLongLong() >= 0)
                        sound.add(fieldMs(fields.value(2)));
                    frame.add(fieldMs(fields.value(3)));
                    if (fields.value(4).toLongLong() >= 0)
                        sent.add(fieldMs(fields.value(4)));
                    if (fields.value(0) == "valid")
                        validFrame.add(fieldMs(fields.value(3)));
                }
                lost += child.lines("lost").size();
                for (const auto &fields : child.lines("echo")) {
                    if (fields.value(0).toLongLong() >= 0)
                        echo.add(fieldMs(fields.value(0)));
                }
            }
        }
    }
    addRow(QStringLiteral("Broker round trip, test client to itself (ms)"), QStringLiteral("–"), medianP99(echo, 2));
    addRow(QStringLiteral("(a) publish to controller's screen change (ms)"), QStringLiteral("–"),
           medianP99(screen, 2), QStringLiteral("p99 < 2"), screen.p99() < 2);
    addRow(QStringLiteral("(a) publish to sound request sent by the application (ms)"), QStringLiteral("–"),
           medianP99(sent, 2), QStringLiteral("p99 < 2"), sent.p99() < 2);
    // One more broker hop, taken while the new page is being drawn on the same cores.
    addRow(QStringLiteral("    the same request heard by a subscriber through the broker (ms)"), QStringLiteral("–"),
           medianP99(sound, 2), QStringLiteral("p99 < 2"), sound.p99() < 2);
    const double limit = floor.p99() + FrameMs;
    addRow(QStringLiteral("(b) publish to first frame of the result page (ms)"), medianP99(floor, 1),
           medianP99(frame, 1), QStringLiteral("p99 ≤ floor p99 + 16.7 = %1").arg(number(limit, 1)),
           frame.p99() <= limit);
    addRow(QStringLiteral("(b) same, \"Valid\" page only (ms)"), medianP99(floor, 1), medianP99(validFrame, 1),
           QStringLiteral("p99 ≤ %1").arg(number(limit, 1)), validFrame.p99() <= limit);
    if (lost)
        addRow(QStringLiteral("Validations that showed nothing within 2 s"), QStringLiteral("–"),
               QString::number(lost), QStringLiteral("0"), false);
}

// ---------------------------------------------------------------------------------------------
// 3. Memory and idle cost

void memoryAndIdle()
{
    const int steadySeconds = options.full ? 600 : 60;
    const int windowSeconds = 5;
    const int windows = 12;
    std::printf("\nMemory and idle: floor (nothing animating) and application (ScanScreens) side by side for %d s, "
                "swaps paced at 60 Hz; CPU over the last %d s in %d-s windows\n",
                steadySeconds, windows * windowSeconds, windowSeconds);
    Child floor(floorProgram(), {}, true);
    // The floor again, its label changed at the scan page's pace: the least that cadence costs.
    Child ticking(floorProgram(), {QStringLiteral("--tick"), QStringLiteral("300")}, true);
    Child app(appProgram(), appArguments({}), true);
    floor.waitFor({"first-frame"});
    ticking.waitFor({"first-frame"});
    app.waitFor({"scan-frame"});
    const qint64 since = monotonicNs();
    const int cpuFrom = steadySeconds - windows * windowSeconds;
    QThread::sleep(qMax(0, cpuFrom));
    Series floorCpu, appCpu, tickingCpu;
    const qint64 tickingSwaps = ticking.swaps();
    const qint64 floorSwaps = floor.swaps();
    const qint64 appSwaps = app.swaps();
    const qint64 swapsFrom = monotonicNs();
    for (int window = 0; window < windows; ++window) {
        const double floorBefore = cpuSeconds(floor.pid());
        const double appBefore = cpuSeconds(app.pid());
        const double tickingBefore = cpuSeconds(ticking.pid());
        const qint64 start = monotonicNs();
        QThread::sleep(windowSeconds);
        const double elapsed = (monotonicNs() - start) / 1e9;
        floorCpu.add(100 * (cpuSeconds(floor.pid()) - floorBefore) / elapsed);
        appCpu.add(100 * (cpuSeconds(app.pid()) - appBefore) / elapsed);
        tickingCpu.add(100 * (cpuSeconds(ticking.pid()) - tickingBefore) / elapsed);
    }
    const double onPage = (monotonicNs() - since) / 1e9;
    const double swapSeconds = (monotonicNs() - swapsFrom) / 1e9;
    const QString pacing = options.software ? QString() : QStringLiteral(", 60 Hz pacing");
    addRow(QStringLiteral("Frames drawn while idle%1 (per second)").arg(pacing),
           number((floor.swaps() - floorSwaps) / swapSeconds, 2), number((app.swaps() - appSwaps) / swapSeconds, 2),
           QStringLiteral("scan page: 1000 / 300 = 3.33"));
    addRow(QStringLiteral("  floor with its label changed every 300 ms"),
           number((ticking.swaps() - tickingSwaps) / swapSeconds, 2), QStringLiteral("–"));
    auto mb = [](qint64 kb) { return kb / 1024.0; };
    const double floorPeak = mb(procKb(floor.pid(), "status", "VmHWM"));
    const double appPeak = mb(procKb(app.pid(), "status", "VmHWM"));
    const double floorRss = mb(procKb(floor.pid(), "status", "VmRSS"));
    const double appRss = mb(procKb(app.pid(), "status", "VmRSS"));
    const double floorPss = mb(procKb(floor.pid(), "smaps_rollup", "Pss"));
    const double appPss = mb(procKb(app.pid(), "smaps_rollup", "Pss"));
    // Without a GPU the whole memory budget is the target: 90 MB.
    const double limit = options.software ? SoftwareRssMb : 1.3 * floorPeak + 25;
    const double steadyLimit = options.software ? SoftwareRssMb : 1.3 * floorRss + 25;
    addRow(QStringLiteral("Peak RSS (MB)"), number(floorPeak), number(appPeak),
           options.software ? QStringLiteral("≤ %1").arg(number(limit))
                            : QStringLiteral("≤ 1.3 × floor + 25 = %1").arg(number(limit)),
           appPeak <= limit);
    addRow(QStringLiteral("Steady RSS after %1 s on ScanScreens (MB)").arg(int(onPage)), number(floorRss),
           number(appRss), QStringLiteral("≤ %1").arg(number(steadyLimit)), appRss <= steadyLimit);
    addRow(QStringLiteral("Steady PSS (MB)"), number(floorPss), number(appPss));
    addRow(QStringLiteral("  of which the software GL stack, RSS (MB)"), number(mb(glStackKb(floor.pid()))),
           number(mb(glStackKb(app.pid()))));
    const double cpuMean = std::accumulate(appCpu.values.begin(), appCpu.values.end(), 0.0) / windows;
    const double cpuLimit = options.software ? SoftwareIdleCpu : 3;
    addRow(QStringLiteral("Idle CPU%1 (% of one core, per 5 s)").arg(pacing), medianP99(floorCpu, 2),
           medianP99(appCpu, 2),
           QStringLiteral("%1 %2 (mean %3)").arg(options.software ? "≤" : "<", number(cpuLimit, 1), number(cpuMean, 2)),
           options.software ? cpuMean <= cpuLimit : cpuMean < cpuLimit);
    addRow(QStringLiteral("  floor with its label changed every 300 ms, CPU (%)"), medianP99(tickingCpu, 2),
           QStringLiteral("–"));
    std::printf("  (figures for the comparison with the browser: application peak %.1f MB, PSS %.1f MB)\n", appPeak,
                appPss);
    if (!options.software)
        table.append({QStringLiteral("__app_peak"), QString(), QString::number(appPeak), QString(), QString()});
}

void growth()
{
    const int count = options.full ? 10000 : 2000;
    std::printf("\nMemory growth over %d validations back to back (after %d to warm up), swaps unpaced\n", count,
                100);
    Child app(appProgram(), appArguments({QStringLiteral("--validations"), QString::number(count + 100)}));
    app.waitFor({"done"}, count * 200 + 60000);
    const qint64 warm = app.lines("rss-warm").value(0).value(0).toLongLong();
    const qint64 end = app.lines("rss-end").value(0).value(0).toLongLong();
    const double grown = (end - warm) / 1024.0;
    addRow(QStringLiteral("RSS growth over %1 validations (MB)").arg(count), QStringLiteral("–"),
           QStringLiteral("%1 (%2 → %3)").arg(number(grown, 2), number(warm / 1024.0), number(end / 1024.0)),
           QStringLiteral("< 2 (10,000)"), grown < 2);
    if (const int lost = app.lines("lost").size())
        addRow(QStringLiteral("  validations that showed nothing within 2 s"), QStringLiteral("–"),
               QString::number(lost));
}

// ---------------------------------------------------------------------------------------------
// 4. Event log and QR summary

void maintenance()
{
    const int calls = options.full ? 500 : 200;
    std::printf("\nEvent log push at %d entries and QR summary: %d calls each\n", 1001, calls);
    Child app(appProgram(), appArguments({QStringLiteral("--maintenance"), QString::number(calls)}));
    app.waitFor({"done"}, 300000);
    Series push, qr;
    for (const auto &fields : app.lines("push"))
        push.add(fieldMs(fields.value(0)));
    for (const auto &fields : app.lines("qr"))
        qr.add(fieldMs(fields.value(0)));
    addRow(QStringLiteral("Event log push at 1001 entries (ms per call)"), QStringLiteral("–"), medianP99(push, 2),
           QStringLiteral("< 20"), push.p99() < 20);
    addRow(QStringLiteral("QR summary (ms per call)"), QStringLiteral("–"), medianP99(qr, 2), QStringLiteral("< 5"),
           qr.p99() < 5);
    if (!app.lines("qr-empty").isEmpty())
        addRow(QStringLiteral("  QR summaries that came out empty"), QStringLiteral("–"), QStringLiteral("some"));
}

// ---------------------------------------------------------------------------------------------
// The kiosk browser a team would pick instead

const char ValidPage[] = R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Valid</title><style>
body { margin: 0; width: 480px; height: 800px; background: #1b2a3a; color: white; font-family: "DejaVu Sans", sans-serif; }
header { height: 72px; background: #0d1a26; display: flex; align-items: center; justify-content: space-between; padding: 0 16px; }
main { text-align: center; padding-top: 80px; }
h1 { font-size: 56px; margin: 24px 0; color: #4caf50; }
.detail { font-size: 24px; line-height: 1.6; }
.spinner { width: 48px; height: 48px; border: 6px solid #555; border-top-color: #4caf50; border-radius: 50%;
           margin: 32px auto; animation: spin 1s linear infinite; }
@keyframes spin { to { transform: rotate(360deg); } }
</style></head><body>
<header><span>12:34</span><span>EN</span></header>
<main>
<svg width="160" height="160" viewBox="0 0 24 24"><circle cx="12" cy="12" r="11" fill="#4caf50"/>
<path d="M6 12.5l4 4 8-9" stroke="white" stroke-width="2.2" fill="none"/></svg>
<h1>Valid</h1>
<div class="detail">Monthly Pass<br>Valid until 31/12/2031 23:59</div>
<div class="spinner"></div>
</main></body></html>
)";

void browser()
{
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty()) {
        std::printf("\nKiosk browser: chromium is not installed (apt-get install chromium); the issue's figures "
                    "(about 800 ms, 385 MB PSS) stand as the reference\n");
        table.append({QStringLiteral("Kiosk browser (issue's figures, not measured)"), QString(),
                      QStringLiteral("ready ≈ 800 ms, ≈ 385 MB PSS"), QString(), QString()});
        return;
    }
    const int rounds = options.full ? 5 : 3;
    std::printf("\nKiosk browser: headless chromium on a page like the Valid page, %d rounds after one warm-up\n",
                rounds);
    QTemporaryDir dir;
    QFile page(dir.filePath(QStringLiteral("valid.html")));
    page.open(QIODevice::WriteOnly);
    page.write(ValidPage);
    page.close();
    const QUrl url = QUrl::fromLocalFile(page.fileName());
    const QStringList common{QStringLiteral("--headless"), QStringLiteral("--no-sandbox"),
                             QStringLiteral("--disable-gpu"), QStringLiteral("--disable-quic"),
                             QStringLiteral("--no-first-run"), QStringLiteral("--disable-background-networking"),
                             QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
                             QStringLiteral("--window-size=480,800")};
    Series ready, pss;
    for (int round = -1; round < rounds; ++round) {
        // Ready: the page laid out, painted and taken as a picture.
        QTemporaryDir profile;
        const QString shot = dir.filePath(QStringLiteral("shot%1.png").arg(round + 1));
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        const qint64 start = monotonicNs();
        process.start(chromium, common + QStringList{QStringLiteral("--user-data-dir=") + profile.path(),
                                                     QStringLiteral("--screenshot=") + shot, url.toString()});
        while (!QFileInfo(shot).size() && process.state() != QProcess::NotRunning
               && monotonicNs() - start < qint64(60) * 1000000000)
            QThread::msleep(2);
        if (round >= 0 && QFileInfo(shot).size())
            ready.add((monotonicNs() - start) / 1e6);
        process.waitForFinished(10000);
        process.kill();
        process.waitForFinished(5000);
    }
    for (int round = 0; round < (options.full ? 3 : 1); ++round) {
        // Memory: the page kept open, its processes summed once it has settled.
        QTemporaryDir profile;
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(chromium, common + QStringList{QStringLiteral("--user-data-dir=") + profile.path(),
                                                     QStringLiteral("--remote-debugging-port=0"), url.toString()});
        process.waitForStarted();
        QThread::sleep(8);
        qint64 kb = 0;
        for (qint64 pid : processTree(process.processId()))
            kb += qMax<qint64>(0, procKb(pid, "smaps_rollup", "Pss"));
        pss.add(kb / 1024.0);
        process.kill();
        process.waitForFinished(5000);
    }
    double appPeak = qQNaN();
    for (const Row &row : table) {
        if (row.figure == QLatin1String("__app_peak"))
            appPeak = row.app.toDouble();
    }
    table.erase(std::remove_if(table.begin(), table.end(),
                               [](const Row &row) { return row.figure.startsWith(QLatin1String("__")); }),
                table.end());
    addRow(QStringLiteral("Kiosk browser: ready (ms)"), QStringLiteral("–"), medianP99(ready, 0));
    addRow(QStringLiteral("Kiosk browser: PSS over its processes (MB)"), QStringLiteral("–"), medianP99(pss, 0),
           qIsNaN(appPeak) ? QString() : QStringLiteral("app peak %1 < half = %2").arg(number(appPeak), number(pss.median() / 2)),
           qIsNaN(appPeak) ? -1 : appPeak < pss.median() / 2);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Tessivo benchmarks against the toolkit floor."));
    parser.addHelpOption();
    const QCommandLineOption full("full", "Full figures: 10 minutes on the idle page, 10,000 validations.");
    const QCommandLineOption only("only", "Run only these (startup, latency, memory, growth, maintenance, browser).",
                                  "list");
    const QCommandLineOption backend("backend", "Scene-graph back ends to measure: opengl, software or both.", "name",
                                     "both");
    parser.addOptions({full, only, backend});
    parser.process(app);
    const QString backends = parser.value(backend);
    options.full = parser.isSet(full);
    options.only = parser.value(only).split(',', Qt::SkipEmptyParts);
    options.binDir = QCoreApplication::applicationDirPath();
    auto wanted = [](const char *name) {
        return options.only.isEmpty() || options.only.contains(QLatin1String(name));
    };

    std::printf("Tessivo benchmarks (%s), Qt %s, %d cores, load average at start: %s\n",
                options.full ? "full" : "quick", qVersion(), QThread::idealThreadCount(), qPrintable(loadAverage()));
    BrokerFixture broker;
    if (!broker.start()) {
        std::fprintf(stderr, "The broker did not start (is mosquitto installed?)\n");
        return 1;
    }
    options.port = broker.port();
    QProcess simulator;
    simulator.setProcessChannelMode(QProcess::MergedChannels);
    simulator.setStandardOutputFile(QProcess::nullDevice());
    simulator.start(options.binDir + QStringLiteral("/../tools/tessivo-simulator"),
                    {QStringLiteral("--host"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                     QString::number(options.port), QStringLiteral("--scenario"), QStringLiteral("idle")});
    if (!simulator.waitForStarted()) {
        std::fprintf(stderr, "The simulator did not start\n");
        return 1;
    }
    QThread::sleep(1);

    const QList<QPair<const char *, std::function<void()>>> benchmarks = {
        {"startup", startup}, {"latency", latency}, {"memory", memoryAndIdle},
        {"growth", growth},   {"maintenance", maintenance}, {"browser", browser},
    };
    if (backends != QLatin1String("software")) {
        for (const auto &benchmark : benchmarks) {
            if (wanted(benchmark.first))
                benchmark.second();
        }
    }
    // The figures the renderer changes, again on the software renderer: floor and application
    // both with QT_QUICK_BACKEND=software.
    if (backends != QLatin1String("opengl")) {
        std::printf("\n=== The software renderer (QT_QUICK_BACKEND=software), beside the software floor ===\n");
        options.software = true;
        rows = &softwareTable;
        for (const auto &benchmark : benchmarks.mid(0, 4)) {
            if (wanted(benchmark.first))
                benchmark.second();
        }
    }
    table.erase(std::remove_if(table.begin(), table.end(),
                               [](const Row &row) { return row.figure.startsWith(QLatin1String("__")); }),
                table.end());

    simulator.kill();
    simulator.waitForFinished();
    printTable(table, "OpenGL (Mesa llvmpipe), beside the floor:");
    printTable(softwareTable, "Software renderer, beside the software floor:");
    std::printf("\nLoad average at the end: %s\n", qPrintable(loadAverage()));
    return 0;
}
