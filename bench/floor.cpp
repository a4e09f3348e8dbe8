// tessivo-bench-floor: the bare window the benchmarks compare against. It prints
// "first-frame <ns>" at its first swap, then, with --latency N, N times the delay from a label
// change to the swap that shows it ("latency <ns>"), then "done".

#include "benchclock.h"
#include "frameprobe.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QRandomGenerator>
#include <QTimer>

#include <cstdio>

namespace {

void say(const char *key, qint64 value)
{
    std::printf("%s %lld\n", key, static_cast<long long>(value));
    std::fflush(stdout);
}

// Changes come at random moments between frames, as a passenger's card does.
constexpr int MinGapMs = 20;
constexpr int MaxGapMs = 80;
constexpr int SwapReportMs = 1000;

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QQuickStyle::setStyle(QStringLiteral("Material"));

    QCommandLineParser parser;
    const QCommandLineOption latency("latency", "Label changes to time.", "count", "0");
    const QCommandLineOption exitAfterFrame("exit-after-frame", "Quit at the first frame.");
    const QCommandLineOption busy("busy", "Keep the busy indicator running.");
    const QCommandLineOption tick("tick", "Change the label every so many ms, as the scan page changes its picture.",
                                  "ms", "0");
    parser.addOptions({latency, exitAfterFrame, busy, tick});
    parser.process(app);
    const int samples = parser.value(latency).toInt();

    QQmlApplicationEngine engine;
    engine.load(QUrl(QStringLiteral("qrc:/bench/floor.qml")));
    if (engine.rootObjects().isEmpty())
        return 1;
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().first());
    window->setProperty("busy", parser.isSet(busy));

    FrameProbe probe(window);
    int taken = 0;
    qint64 changedAt = 0;
    auto change = [&] {
        changedAt = monotonicNs();
        window->setProperty("text", QStringLiteral("Valid %1").arg(taken));
        probe.arm();
    };
    QObject::connect(&probe, &FrameProbe::firstFrame, &app, [&](qint64 ns) {
        say("first-frame", ns);
        if (parser.isSet(exitAfterFrame))
            QCoreApplication::exit(0);
        else if (samples > 0)
            QTimer::singleShot(500, change);
    });
    QObject::connect(&probe, &FrameProbe::shown, &app, [&](qint64 ns) {
        say("latency", ns - changedAt);
        if (++taken >= samples) {
            std::puts("done");
            std::fflush(stdout);
            QCoreApplication::exit(0);
            return;
        }
        QTimer::singleShot(QRandomGenerator::global()->bounded(MinGapMs, MaxGapMs), change);
    });
    QTimer ticker;
    int ticks = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] { window->setProperty("text", QStringLiteral("Valid %1").arg(++ticks % 10)); });
    if (parser.value(tick).toInt() > 0)
        ticker.start(parser.value(tick).toInt());

    // Frames drawn so far, for the idle figures: a still page should draw none.
    QTimer swapReport;
    QObject::connect(&swapReport, &QTimer::timeout, [&] { say("swaps", probe.swaps()); });
    swapReport.start(SwapReportMs);
    return app.exec();
}
