// Any payload on any topic the application subscribes to, delivered straight to every proxy's
// dispatcher: the first byte picks the topic, the rest is the payload.
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

namespace {

const char *const Topics[] = {
    "orvo/blm/info", "orvo/blm/status", "orvo/blm/config", "orvo/blm/rfid/retry", "orvo/blm/rfid/removed",
    "orvo/blm/rfid/scanned", "orvo/blm/barcode/scanned", "orvo/blm/barcode/maintenance/scanned",
    "orvo/rfid/card/removed", "orvo/rfid/card/found", "orvo/board/info", "orvo/board/status",
    "orvo/board/config", "orvo/board/display", "orvo/board/power", "orvo/board/audio", "orvo/board/event",
    "orvo/inspector/info", "orvo/inspector/status", "orvo/inspector/audio", "orvo/inspector/stats/cpu",
    "orvo/network/info", "orvo/network/status", "orvo/network/ethernet/state", "orvo/network/ethernet/config",
    "orvo/device/update/software/status", "orvo/device/update/software/progress",
    "orvo/device/update/software/progess", "orvo/device/ntp/status", "orvo/device/ntp/config",
    "orvo/barcode/status", "orvo/barcode/info", "orvo/barcode/scanned", "orvo/gps/info", "orvo/gps/status",
    "orvo/gps/telemetry",
};

struct Proxies
{
    manager::MqttClient client;
    manager::Validator validator{client, QStringLiteral("orvo/blm")};
    manager::Board board{client, QStringLiteral("orvo/board")};
    manager::Inspector inspector{client, QStringLiteral("orvo/inspector")};
    manager::Network network{client, QStringLiteral("orvo/network")};
    manager::Update update{client, QStringLiteral("orvo/device")};
    manager::Clock clock{client, QStringLiteral("orvo/device")};
    manager::BarcodeManager barcode{client, QStringLiteral("orvo/barcode")};
    manager::GPSManager gps{client, QStringLiteral("orvo/gps")};
};

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
        return new Proxies;
    }();
    if (size == 0)
        return 0;
    const char *topic = Topics[data[0] % (sizeof(Topics) / sizeof(Topics[0]))];
    const QByteArray payload(reinterpret_cast<const char *>(data + 1), int(size - 1));
    emit proxies->client.received(payload, QByteArray(topic));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
