// Pushes numbered events into an event log as fast as it can and reports each completed push
// on stdout, so that a test can kill it in the middle of a write and check what survived.
// Usage: eventpusher <events file> <config file> <first number>

#include "app/config.h"
#include "controller/guimanager.h"
#include "maintenance/eventmanager.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4)
        return 2;
    // Log lines go to stderr; stdout carries nothing but the push reports.
    Config config(args.at(2), GUIManager::Defaults);
    EventManager log(config, args.at(1));

    for (int i = args.at(3).toInt();; ++i) {
        log.push(new Event(QStringLiteral("General"), QStringLiteral("burst %1").arg(i),
                                    QStringLiteral("line one\nline two"),
                                    QDateTime::currentDateTime()));
        std::printf("%d\n", i);
        std::fflush(stdout);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}
