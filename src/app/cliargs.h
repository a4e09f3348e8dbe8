#pragma once

#include <QStringList>
#include <QVariantMap>

// Turns the command line into configuration overrides ("log/level", "mqtt/host", ... and
// "config", the file to use). Exits the process for help (0), version (0) and errors (1).
QVariantMap parseCLIArgs();
QVariantMap parseCLIArgs(const QStringList &arguments);

// Help, version and a malformed command line need no display: this decides them from argv
// before the GUI application object exists (which would abort without a display) and ends the
// process for them under a core application; otherwise it returns and the normal start goes on.
// The toolkit's own GUI options (-platform, -geometry, ...) are left for the GUI application.
void exitForInformationalOptions(int argc, char *argv[]);
QStringList withoutToolkitOptions(const QStringList &arguments);

// Name, display name, version and organisation of the application object that exists.
void setApplicationIdentity();
