#include "scenario.h"
#include "simulator.h"

#include "mqtt/mqttclient.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <csignal>
#include <cmath>
#include <unistd.h>

// tessivo-simulator: plays the validator's sibling services on the broker (see --help).

namespace {

// How long the probe listens for the services' retained status. The run script gives the
// whole probe one second, connection included.
constexpr int ProbeWindowMs = 700;
constexpr int ProbeLimitMs = 900;

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM end the event loop, so that the retained state is cleaned up on the way out.
void quitOnSignals(QCoreApplication &app)
{
    if (::pipe(signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier] {
        notifier->setEnabled(false);
        QCoreApplication::quit();
    });
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
}

int fail(const QString &message)
{
    QTextStream(stderr) << message << '\n';
    return 2;
}

// Whether real services (or a simulator already running) are on the broker: they keep their
// status retained there, so a subscriber hears it at once. The status requests wake a board
// or device service that does not retain. 0 when something answered, 1 otherwise.
int probe(const simulator::Options &options)
{
    manager::MqttClient client;
    client.setHostname(options.host);
    client.setPort(options.port);
    client.setRetryMillis(ProbeLimitMs);
    client.setClientId(QStringLiteral("tessivo-probe-%1").arg(QCoreApplication::applicationPid()));
    const simulator::BaseTopics &topics = options.topics;
    for (const QString &base : {topics.blm, topics.board, topics.inspector, topics.network, topics.device})
        client.subscribe(base + QStringLiteral("/status"), 0);

    QObject::connect(&client, &manager::MqttClient::received, [](const QByteArray &data, const QByteArray &) {
        // An empty message only removes a retained status: nobody is speaking.
        if (!data.isEmpty())
            QCoreApplication::exit(0);
    });
    QObject::connect(&client, &manager::MqttClient::connected, [&client, &topics] {
        QTimer::singleShot(0, &client, [&client, &topics] {
            client.publish(QByteArrayLiteral("{}"), topics.board + QStringLiteral("/status/get"));
            client.publish(QByteArray(), topics.device + QStringLiteral("/status/get"));
        });
        QTimer::singleShot(ProbeWindowMs, [] { QCoreApplication::exit(1); });
    });
    QTimer::singleShot(ProbeLimitMs, [] { QCoreApplication::exit(1); });
    client.connect();
    const int answered = QCoreApplication::exec();
    client.disconnect();
    return answered;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessivo-simulator"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSIVO_VERSION));

    simulator::Options options;
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Plays the validator's sibling services (validation, board, inspector, network, device) "
            "on an MQTT broker, so that Tessivo can be run and tested without the device."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption host({"H", "host"}, "Broker host (default localhost).", "host", options.host);
    const QCommandLineOption port({"P", "port"}, "Broker port (default 1883).", "port", QString::number(options.port));
    const QCommandLineOption scenario("scenario", "demo (default), idle or interactive.", "name", options.scenario);
    const QCommandLineOption speed("speed", "Divide every pause by this factor (default 1).", "factor", "1");
    const QCommandLineOption probeOption("probe",
            "Exit 0 when services already answer on the broker, 1 when none does.");
    const QCommandLineOption verbose("verbose", "Show the MQTT client's log on standard error.");
    parser.addOptions({host, port, scenario, speed, probeOption, verbose});
    struct TopicOption
    {
        QCommandLineOption option;
        QString *target;
    };
    simulator::BaseTopics &topics = options.topics;
    const QList<TopicOption> topicOptions{
            {{"blm-topic", "Validation service base topic.", "topic", topics.blm}, &topics.blm},
            {{"board-topic", "Board service base topic.", "topic", topics.board}, &topics.board},
            {{"inspector-topic", "Inspector service base topic.", "topic", topics.inspector}, &topics.inspector},
            {{"network-topic", "Network service base topic.", "topic", topics.network}, &topics.network},
            {{"device-topic", "Device service base topic.", "topic", topics.device}, &topics.device},
            {{"ui-topic", "The application's base topic.", "topic", topics.ui}, &topics.ui}};
    for (const TopicOption &topic : topicOptions)
        parser.addOption(topic.option);
    parser.process(app);

    if (!parser.isSet(verbose))
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false\ndefault.info=false"));

    options.host = parser.value(host);
    bool ok = false;
    const uint portNumber = parser.value(port).toUInt(&ok);
    if (!ok || portNumber == 0 || portNumber > 65535)
        return fail(QStringLiteral("Invalid port: ") + parser.value(port));
    options.port = quint16(portNumber);
    options.speed = parser.value(speed).toDouble(&ok);
    if (!ok || !std::isfinite(options.speed) || options.speed <= 0)
        return fail(QStringLiteral("Invalid speed factor: ") + parser.value(speed));
    options.scenario = parser.value(scenario);
    for (const TopicOption &topic : topicOptions) {
        *topic.target = parser.value(topic.option);
        if (topic.target->isEmpty() || topic.target->contains(QLatin1Char('#')) || topic.target->contains(QLatin1Char('+')))
            return fail(QStringLiteral("Invalid base topic: ") + *topic.target);
    }

    if (parser.isSet(probeOption))
        return probe(options);

    simulator::Simulator device(options);
    const std::unique_ptr<simulator::Scenario> play = simulator::Scenario::create(options.scenario, device);
    if (!play)
        return fail(QStringLiteral("Unknown scenario: %1 (one of %2)")
                            .arg(options.scenario, simulator::Scenario::names().join(", ")));
    QObject::connect(&device, &simulator::Simulator::ready, play.get(), &simulator::Scenario::start);
    quitOnSignals(app);
    device.start();
    const int status = QCoreApplication::exec();
    device.stop();
    return status;
}
