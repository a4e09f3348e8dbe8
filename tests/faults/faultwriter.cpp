// Writes without pause until killed: "config <file>" changes a setting through the store,
// "serial <file>" saves serial numbers through the controller's atomic write. Each value is
// announced on stdout once written, so the test knows what may be on disk.
#include "app/config.h"
#include "controller/guimanager.h"

#include <QCoreApplication>
#include <QSaveFile>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return 2;
    const QString mode = args.at(1);
    const QString file = args.at(2);

    if (mode == QLatin1String("config")) {
        Config config(file, GUIManager::Defaults);
        for (int i = 1;; ++i) {
            config.set(QStringLiteral("gui/displayOffMin"), i);
            std::printf("%d\n", i);
            std::fflush(stdout);
        }
    }
    if (mode == QLatin1String("serial")) {
        for (int i = 1;; ++i) {
            // The same write the controller makes for the device serial number.
            QSaveFile save(file);
            save.setDirectWriteFallback(true);
            if (save.open(QIODevice::WriteOnly)) {
                save.write(QStringLiteral("TSV-%1").arg(i, 6, 10, QLatin1Char('0')).toUtf8());
                if (save.commit()) {
                    std::printf("%d\n", i);
                    std::fflush(stdout);
                }
            }
        }
    }
    return 2;
}
