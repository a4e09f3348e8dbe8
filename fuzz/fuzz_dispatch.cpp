// Any payload on any topic a proxy reads, handed to that proxy's client as if from the broker
// (the client routes it to the subscription it matches): the first byte picks the topic, the
// rest is the payload. The topics are the proxies' own: each
// proxy is made on a client of its own, and what it subscribed to there is its table (a "/#"
// subscription stands for the topics its dispatcher reads below it). At the end, one line per
// proxy and topic tells how often the client's subscription brought it a message on that
// topic, then how many of them were reached.
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

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct Route
{
    const char *proxy;
    manager::MqttClient *client;
    QString topic;
    unsigned long long reached = 0;
};

struct Proxies
{
    manager::MqttClient validatorClient, boardClient, inspectorClient, networkClient, updateClient,
        clockClient, barcodeClient, gpsClient;
    manager::Validator validator{validatorClient, QStringLiteral("orvo/blm")};
    manager::Board board{boardClient, QStringLiteral("orvo/board")};
    manager::Inspector inspector{inspectorClient, QStringLiteral("orvo/inspector")};
    manager::Network network{networkClient, QStringLiteral("orvo/network")};
    manager::Update update{updateClient, QStringLiteral("orvo/device")};
    manager::Clock clock{clockClient, QStringLiteral("orvo/device")};
    manager::BarcodeManager barcode{barcodeClient, QStringLiteral("orvo/barcode")};
    manager::GPSManager gps{gpsClient, QStringLiteral("orvo/gps")};
};

std::vector<Route> *routes = nullptr;

// Counts what the client's subscription for `filter` brings on the topic of route `index`.
void count(manager::MqttClient &client, const QString &filter, size_t index)
{
    QObject::connect(client.subscribe(filter, 0, nullptr), &manager::MqttSubscription::messageReceived,
                     [index](const QByteArray &, const QString &topic) {
                         Route &route = (*routes)[index];
                         route.reached += topic == route.topic;
                     });
}

void add(const char *proxy, manager::MqttClient &client, const QStringList &below = {})
{
    for (const QString &filter : client.subscriptions()) {
        if (filter.contains(QLatin1Char('#')) || filter.contains(QLatin1Char('+'))) {
            if (below.isEmpty()) {
                std::fprintf(stderr, "fuzz_dispatch: %s subscribes to %s, and no topic below it is known\n", proxy,
                             qPrintable(filter));
                std::abort();
            }
            for (const QString &topic : below) {
                routes->push_back({proxy, &client, topic});
                count(client, filter, routes->size() - 1);
            }
        } else {
            routes->push_back({proxy, &client, filter});
            count(client, filter, routes->size() - 1);
        }
    }
}

void report()
{
    size_t reached = 0;
    for (const Route &route : *routes) {
        std::fprintf(stderr, "fuzz_dispatch: %s %s: %llu\n", route.proxy, qPrintable(route.topic), route.reached);
        reached += route.reached > 0;
    }
    std::fprintf(stderr, "fuzz_dispatch: %zu of %zu handler topics reached\n", reached, routes->size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_dispatch";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static Proxies *proxies = [] {
        qSetMessagePattern(QStringLiteral("%{if-critical}%{endif}"));
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        auto *made = new Proxies;
        routes = new std::vector<Route>;
        add("Validator", made->validatorClient);
        add("Board", made->boardClient);
        add("Inspector", made->inspectorClient);
        add("Network", made->networkClient);
        add("Update", made->updateClient);
        add("Clock", made->clockClient);
        add("BarcodeManager", made->barcodeClient, made->barcode.readTopics());
        add("GPSManager", made->gpsClient, made->gps.readTopics());
        std::atexit(report);
        return made;
    }();
    (void)proxies;
    if (size == 0)
        return 0;
    const Route &route = (*routes)[data[0] % routes->size()];
    const QByteArray payload(reinterpret_cast<const char *>(data + 1), int(size - 1));
    route.client->deliver(payload, route.topic);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
