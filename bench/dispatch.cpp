// The cost of one received message on its way to the proxies: every proxy the controller makes,
// plus the two reader proxies, on one client with no broker. Each round hands one message on
// every topic a proxy reads (a "/#" subscription stands for the topics read below it) to the
// client's receive path, and the total is divided by the messages handed. Log lines are
// formatted as usual and then dropped.
//
//     tessivo-bench-dispatch [rounds]      prints "dispatch: <n> messages, <ns> ns per message"
#include "mqtt/mqttclient.h"
#include "network/network.h"
#include "services/board.h"
#include "services/clock.h"
#include "services/gpsmanager.h"
#include "services/inspector.h"
#include "services/update.h"
#include "validation/barcodemanager.h"
#include "validation/validator.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

namespace {

// Stands for the transport: its signal reaches the client's receive slot as the transport's does.
class Feed : public QObject
{
    Q_OBJECT
signals:
    void message(const QByteArray &data, const QString &topic);
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const long rounds = argc > 1 ? std::atol(argv[1]) : 20000;

    manager::MqttClient client;
    manager::Validator validator(client, QStringLiteral("orvo/blm"));
    manager::Board board(client, QStringLiteral("orvo/board"));
    manager::Inspector inspector(client, QStringLiteral("orvo/inspector"));
    manager::Network network(client, QStringLiteral("orvo/network"));
    manager::Update update(client, QStringLiteral("orvo/device"));
    manager::Clock clock(client, QStringLiteral("orvo/device"));
    manager::BarcodeManager barcode(client, QStringLiteral("orvo/barcode"));
    manager::GPSManager gps(client, QStringLiteral("orvo/gps"));

    QStringList topics;
    for (const QString &filter : client.subscriptions()) {
        if (!filter.endsWith(QLatin1String("/#")))
            topics << filter;
    }
    topics << barcode.readTopics() << gps.readTopics();

    Feed feed;
    if (!QObject::connect(&feed, SIGNAL(message(QByteArray,QString)), &client, SLOT(onReceived(QByteArray,QString)))) {
        std::fprintf(stderr, "dispatch: the client's receive slot is missing\n");
        return 1;
    }
    const QByteArray payload("{}");

    QElapsedTimer timer;
    timer.start();
    for (long round = 0; round < rounds; ++round) {
        for (const QString &topic : qAsConst(topics))
            emit feed.message(payload, topic);
    }
    const qint64 elapsed = timer.nsecsElapsed();
    const long messages = rounds * topics.size();
    std::printf("dispatch: %ld messages on %d topics, %.0f ns per message\n", messages, int(topics.size()),
                double(elapsed) / double(messages));
    return 0;
}

#include "dispatch.moc"
