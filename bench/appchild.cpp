// tessivo-bench-app: the application as main() starts it (same controller, scene, keyboard
// plug-in, font and log settings), with probes for the benchmarks. The services are played by
// the device simulator on the broker; a test client of our own, on a thread of its own,
// publishes validation results as the validation service would and watches the sound requests.
//
// Lines on stdout: "first-frame <ns>", "scan-frame <ns>" (first frame of the idle page),
// "sample <kind> <screen ns> <sound heard ns> <frame ns> <sound sent ns>" per measured validation,
// "rss <label> <kB>", "push <ns>", "qr <ns>", "done".

#include "benchclock.h"
#include "frameprobe.h"

#include "app/config.h"
#include "app/renderbackend.h"
#include "app/resources.h"
#include "app/runtimepaths.h"
#include "controller/guimanager.h"
#include "maintenance/event.h"
#include "maintenance/eventmanager.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQuickWindow>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <mosquitto.h>

#include <atomic>
#include <cstdio>

namespace {

void say(const char *key, qint64 value)
{
    std::printf("%s %lld\n", key, static_cast<long long>(value));
    std::fflush(stdout);
}

qint64 rssKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Results come at random moments, some frames apart, as passengers' cards do.
constexpr int MinGapMs = 20;
constexpr int MaxGapMs = 80;
constexpr int SwapReportMs = 1000;
// A validation that shows nothing within this time is counted as lost.
constexpr int LostAfterMs = 2000;
// Validations before the first memory reading: the pages' first use fills caches for good.
constexpr int WarmUpValidations = 100;

const char ScannedTopic[] = "orvo/blm/rfid/scanned";
const char SoundTopic[] = "orvo/inspector/audio/play";
const char EchoTopic[] = "tessivo-bench/echo";
// An echo that has not come back by then is counted as lost.
constexpr qint64 EchoLimitNs = 200 * 1000 * 1000;

// A sibling service's client on its own network thread, so that its stamps do not wait for
// the application's event loop.
class TestClient
{
public:
    explicit TestClient(int port)
    {
        mosquitto_lib_init();
        m_mosq = mosquitto_new("tessivo-bench-client", true, this);
        mosquitto_message_callback_set(m_mosq, [](mosquitto *, void *self, const mosquitto_message *message) {
            if (QByteArray(message->topic) == SoundTopic)
                static_cast<TestClient *>(self)->m_soundAt.store(monotonicNs());
            else if (QByteArray(message->topic) == EchoTopic)
                static_cast<TestClient *>(self)->m_echoAt.store(monotonicNs());
        });
        mosquitto_connect_callback_set(m_mosq, [](mosquitto *mosq, void *, int) {
            mosquitto_subscribe(mosq, nullptr, SoundTopic, 0);
            mosquitto_subscribe(mosq, nullptr, EchoTopic, 0);
        });
        // As every client of the device does: small packets leave at once.
        mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);
        mosquitto_connect(m_mosq, "127.0.0.1", port, 30);
        mosquitto_loop_start(m_mosq);
    }
    ~TestClient()
    {
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_stop(m_mosq, false);
        mosquitto_destroy(m_mosq);
    }

    qint64 publish(const QByteArray &payload)
    {
        m_soundAt.store(0);
        const qint64 at = monotonicNs();
        mosquitto_publish(m_mosq, nullptr, ScannedTopic, payload.size(), payload.constData(), 0, false);
        return at;
    }
    qint64 soundAt() const { return m_soundAt.load(); }

    // The broker's own part of a validation's latency: a message from this client back to
    // itself, one broker hop each way as a result and its sound request take.
    qint64 echo()
    {
        m_echoAt.store(0);
        const qint64 at = monotonicNs();
        mosquitto_publish(m_mosq, nullptr, EchoTopic, 2, "{}", 0, false);
        while (!m_echoAt.load() && monotonicNs() - at < EchoLimitNs)
            QThread::usleep(20);
        return m_echoAt.load() ? m_echoAt.load() - at : -1;
    }

private:
    mosquitto *m_mosq = nullptr;
    std::atomic<qint64> m_soundAt{0};
    std::atomic<qint64> m_echoAt{0};
};

QByteArray result(int kind, int serial)
{
    static const int AlreadyValidated = 207;
    static const int Expired = 14;
    QJsonObject transaction{{"result", kind == 0}, {"type", 1}, {"fareProductName", "Monthly Pass"},
                            {"card", QJsonObject{{"uid", QString::number(0x04A1B2C3 + serial, 16)},
                                                 {"validTo", "2031-12-31T23:59:00"}}}};
    if (kind != 0)
        transaction.insert("denyReason", QJsonObject{{"id", kind == 1 ? AlreadyValidated : Expired}});
    return QJsonDocument(QJsonObject{{"transaction", transaction}}).toJson(QJsonDocument::Compact);
}

const char *const Kinds[] = {"valid", "already", "invalid"};

// When the application sent the sound request, read off its own log line.
std::atomic<qint64> soundSentAt{0};
QtMessageHandler logHandler = nullptr;

void stampingHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // Logged by the inspector proxy as it hands the sound request to the broker connection,
    // which writes it out within the same call.
    if (message.contains(QLatin1String("Playing audio file")))
        soundSentAt.store(monotonicNs());
    if (logHandler)
        logHandler(type, context, message);
}

// The event log and the diagnostics summary, timed call by call.
void timeMaintenance(GUIManager &manager, int calls)
{
    EventManager &log = manager.eventLog();
    const QDateTime start = QDateTime::currentDateTime().addDays(-1);
    // A full log: the next push drops the oldest entry, rewrites the file and re-sorts the view.
    for (int i = 0; log.events().size() <= EventManager::MaxEvents; ++i)
        log.push(new Event(QStringLiteral("Validation"), QStringLiteral("Card"),
                           QStringLiteral("Entry %1").arg(i), start.addSecs(i)));
    for (int i = 0; i < calls; ++i) {
        auto *event = new Event(QStringLiteral("Validation"), QStringLiteral("Card"),
                                QStringLiteral("Timed %1").arg(i), QDateTime::currentDateTime());
        const qint64 before = monotonicNs();
        log.push(event);
        say("push", monotonicNs() - before);
    }
    for (int i = 0; i < calls; ++i) {
        const qint64 before = monotonicNs();
        const QString qr = manager.diagnostics()->generateQr();
        say("qr", monotonicNs() - before);
        if (qr.isEmpty())
            say("qr-empty", 1);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_IM_MODULE", QByteArrayLiteral("freevirtualkeyboard"));
    runtimepaths::addLibraryPaths();
    renderbackend::guardStartup();
    QGuiApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Tessivo"));
    app.setApplicationVersion(QStringLiteral(TESSIVO_VERSION));
    app.setOrganizationName(QStringLiteral("orvo"));

    QCommandLineParser parser;
    const QCommandLineOption port("port", "Broker port.", "port", "1883");
    const QCommandLineOption exitAt("exit-at", "Quit at the first frame (first) or idle page (scan).", "frame");
    const QCommandLineOption latency("latency", "Validations to time.", "count", "0");
    const QCommandLineOption validations("validations", "Validations in all (memory growth).", "count", "0");
    const QCommandLineOption maintenance("maintenance", "Time event-log pushes and QR summaries.", "count", "0");
    parser.addOptions({port, exitAt, latency, validations, maintenance});
    parser.process(app);
    const int timed = parser.value(latency).toInt();
    const int total = qMax(timed > 0 ? timed + WarmUpValidations : 0, parser.value(validations).toInt());

    // The installed configuration: the system log only, as the package ships it.
    QTemporaryDir dir;
    QFile serial(dir.filePath(QStringLiteral("serialnumber")));
    serial.open(QIODevice::WriteOnly);
    serial.write("BENCH-0001\n");
    serial.close();
    QFile conf(dir.filePath(QStringLiteral("gui.conf")));
    conf.open(QIODevice::WriteOnly);
    conf.write(QStringLiteral("[log]\nstderr=false\n[mqtt]\nhost=127.0.0.1\nport=%1\n[gui]\ndeviceId=%2\n")
                       .arg(parser.value(port), serial.fileName())
                       .toUtf8());
    conf.close();

    Config config(conf.fileName(), GUIManager::Defaults);
    // The back end as the program chooses it (OpenGL unless QT_QUICK_BACKEND=software here).
    if (!renderbackend::choose())
        return 1;
    initTessivoResources();
    QFontDatabase::addApplicationFont(QStringLiteral(":/qml/fonts/DejaVuSans.ttf"));
    app.setFont(QFont(QStringLiteral("DejaVu Sans")));
    GUIManager manager(config, dir.filePath(QStringLiteral("events.ini")));
    logHandler = qInstallMessageHandler(stampingHandler);

    if (parser.value(maintenance).toInt() > 0) {
        timeMaintenance(manager, parser.value(maintenance).toInt());
        std::puts("done");
        return 0;
    }

    // Stamped as the controller decides, before the scene hears of it.
    qint64 screenAt = 0;
    bool waitingForScan = true;
    FrameProbe *probe = nullptr;
    QObject::connect(&manager, &GUIManager::screenChanged, [&] {
        screenAt = monotonicNs();
        if (probe && (!waitingForScan || manager.screen() == QLatin1String("ScanScreens")))
            probe->arm();
    });

    manager.load();
    auto *window = qobject_cast<QQuickWindow *>(manager.engine().rootObjects().value(0));
    if (!window)
        return 1;
    probe = new FrameProbe(window, &app);
    if (manager.screen() == QLatin1String("ScanScreens"))
        probe->arm();

    TestClient client(parser.value(port).toInt());
    int done = 0;
    int kind = 0;
    qint64 publishedAt = 0;
    QTimer lost;
    lost.setSingleShot(true);
    lost.setInterval(LostAfterMs);

    std::function<void()> next = [&] {
        if (done == WarmUpValidations)
            say("rss-warm", rssKb());
        if (done >= total) {
            say("rss-end", rssKb());
            std::puts("done");
            std::fflush(stdout);
            QCoreApplication::exit(0);
            return;
        }
        screenAt = 0;
        soundSentAt.store(0);
        publishedAt = client.publish(result(kind, done));
        lost.start();
    };
    auto schedule = [&] {
        ++done;
        kind = (kind + 1) % 3;
        // Measured validations wait a random part of a frame or more; the rest go back to back.
        const bool measured = done > WarmUpValidations - 1 && done < WarmUpValidations + timed;
        QTimer::singleShot(measured ? QRandomGenerator::global()->bounded(MinGapMs, MaxGapMs) : 1, next);
    };
    QObject::connect(&lost, &QTimer::timeout, [&] {
        std::printf("lost %s\n", Kinds[kind]);
        std::fflush(stdout);
        schedule();
    });

    QObject::connect(probe, &FrameProbe::firstFrame, &app, [&](qint64 ns) {
        say("first-frame", ns);
        if (parser.value(exitAt) == QLatin1String("first"))
            QCoreApplication::exit(0);
    });
    QObject::connect(probe, &FrameProbe::shown, &app, [&](qint64 ns) {
        if (waitingForScan) {
            waitingForScan = false;
            say("scan-frame", ns);
            if (parser.value(exitAt) == QLatin1String("scan"))
                QCoreApplication::exit(0);
            else if (total > 0)
                QTimer::singleShot(500, next);
            return;
        }
        if (!lost.isActive() || !screenAt)
            return;
        lost.stop();
        // The sound request goes out before the screen changes; the client may hear it a
        // little after the frame, so it is read when it is in.
        const bool measured = done >= WarmUpValidations && done < WarmUpValidations + timed;
        auto finish = [&, ns, measured, published = publishedAt, screen = screenAt, k = kind] {
            if (measured) {
                say("echo", client.echo());
                std::printf("sample %s %lld %lld %lld %lld\n", Kinds[k], static_cast<long long>(screen - published),
                            static_cast<long long>(client.soundAt() ? client.soundAt() - published : -1),
                            static_cast<long long>(ns - published),
                            static_cast<long long>(soundSentAt.load() ? soundSentAt.load() - published : -1));
                std::fflush(stdout);
            }
            schedule();
        };
        if (client.soundAt())
            finish();
        else
            QTimer::singleShot(20, finish);
    });
    // Frames drawn so far, for the idle figures: a still page should draw none.
    QTimer swapReport;
    QObject::connect(&swapReport, &QTimer::timeout, [&] { say("swaps", (*probe).swaps()); });
    swapReport.start(SwapReportMs);
    return app.exec();
}
