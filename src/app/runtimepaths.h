#pragma once

#include <QStringList>

class QQmlEngine;

// Where the application's own plug-ins (the keyboard's input method) and QML modules (its
// panel) are found, first match first:
//   1. TESSIVO_PLUGIN_DIR / TESSIVO_QML_DIR, each a list separated like PATH;
//   2. plugins/ and qml/ beside the executable (the build tree);
//   3. ../lib/tessivo/plugins and ../lib/tessivo/qml from the executable (an installation);
//   4. the build tree's folders as compiled in, for the test programs in its sub-folders.
namespace runtimepaths {

// executableDir empty: the directory of the running program, read from /proc/self/exe so that
// it works before the application object exists.
QStringList pluginPaths(const QString &executableDir = QString());
QStringList qmlImportPaths(const QString &executableDir = QString());

// Before QGuiApplication is created: the input-method plug-in is loaded while the application
// object is built, so its folders must be known by then. Adds only folders that exist.
void addLibraryPaths();

// Adds the existing QML import folders to the engine, the first of the list searched first.
void addImportPaths(QQmlEngine &engine);

} // namespace runtimepaths
