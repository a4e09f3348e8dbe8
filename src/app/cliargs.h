#pragma once

#include <QStringList>
#include <QVariantMap>

// Turns the command line into configuration overrides ("log/level", "mqtt/host", ... and
// "config", the file to use). Exits the process for help (0), version (0) and errors (1).
QVariantMap parseCLIArgs();
QVariantMap parseCLIArgs(const QStringList &arguments);
