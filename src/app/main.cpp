#include "app/cliargs.h"
#include "app/config.h"
#include "app/quitonsignal.h"
#include "app/renderbackend.h"
#include "app/resources.h"
#include "app/runtimepaths.h"
#include "app/screenshots.h"
#include "app/systemdnotifier.h"
#include "controller/guimanager.h"

#include <QDebug>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>

int main(int argc, char *argv[])
{
    // The on-screen keyboard is an input-method plug-in; it must be chosen before the
    // application object loads the platform plug-ins.
    qputenv("QT_IM_MODULE", QByteArrayLiteral("freevirtualkeyboard"));
    runtimepaths::addLibraryPaths();
    // Help, version and a bad option are answered here, before the GUI application object
    // exists: it needs a display, and `tessivo -V` over ssh has none.
    exitForInformationalOptions(argc, argv);

    renderbackend::guardStartup();
    QGuiApplication app(argc, argv);
    // From here on a stop request ends the event loop (at once, or as soon as it runs).
    QuitOnSignal quitOnSignal;
    // Under the service manager: its watchdog pings start before the scene loads.
    SystemdNotifier notifier;
    setApplicationIdentity();

    const QVariantMap overrides = parseCLIArgs();
    const QString fileName = overrides.value(QStringLiteral("config"), QStringLiteral("gui.conf")).toString();

    Config config(fileName, GUIManager::Defaults);
    config.addOverrides(overrides);

    initTessivoResources();
    QFontDatabase::addApplicationFont(QStringLiteral(":/qml/fonts/DejaVuSans.ttf"));
    app.setFont(QFont(QStringLiteral("DejaVu Sans")));

    if (!renderbackend::choose())
        return 1;
    GUIManager manager(config);
    manager.load();
    // Ready once the first page is on the panel; the status line follows screen and broker.
    notifier.follow(manager);
    // Pictures of every screen for review, when TESSIVO_SCREENSHOTS names a folder.
    Screenshots screenshots(manager, qEnvironmentVariable("TESSIVO_SCREENSHOTS"));
    return app.exec();
}
