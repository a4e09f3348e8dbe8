// Any bytes as a "/config/set" body handed to the store, and any bytes as the settings file.
#include "app/config.h"
#include "controller/guimanager.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_config";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static QTemporaryDir dir;
    static bool quiet = [] {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        return true;
    }();
    (void)quiet;

    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const QString fileName = dir.filePath(QStringLiteral("gui.conf"));
    {
        QFile file(fileName);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(bytes);
    }
    Config config(fileName, GUIManager::Defaults);
    config.fromJson(QJsonDocument::fromJson(bytes).object());
    (void)config.toJson();
    return 0;
}
