#include "app/runtimepaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QQmlEngine>

#include <algorithm>

// The build defines these when it builds the keyboard; without them the build tree is not a
// fallback.
#ifndef TESSIVO_BUILD_PLUGIN_DIR
#define TESSIVO_BUILD_PLUGIN_DIR ""
#endif
#ifndef TESSIVO_BUILD_QML_DIR
#define TESSIVO_BUILD_QML_DIR ""
#endif

namespace runtimepaths {

namespace {

QString executableDir()
{
    const QFileInfo exe(QStringLiteral("/proc/self/exe"));
    const QString target = exe.symLinkTarget();
    return target.isEmpty() ? QString() : QFileInfo(target).absolutePath();
}

QStringList paths(const char *variable, const QString &givenDir, const QString &besideName,
                  const QString &installedName, const QString &buildDir)
{
    QStringList result;
    const QString fromEnvironment = qEnvironmentVariable(variable);
    for (const QString &dir : fromEnvironment.split(QDir::listSeparator(), Qt::SkipEmptyParts))
        result << QDir::cleanPath(dir);

    const QString exeDir = givenDir.isEmpty() ? executableDir() : givenDir;
    if (!exeDir.isEmpty()) {
        result << QDir::cleanPath(exeDir + QLatin1Char('/') + besideName);
        result << QDir::cleanPath(exeDir + QStringLiteral("/../lib/tessivo/") + installedName);
    }
    if (!buildDir.isEmpty())
        result << QDir::cleanPath(buildDir);
    result.removeDuplicates();
    return result;
}

QStringList existing(const QStringList &dirs)
{
    QStringList result;
    for (const QString &dir : dirs) {
        if (QFileInfo(dir).isDir())
            result << dir;
    }
    return result;
}

} // namespace

QStringList pluginPaths(const QString &executableDir)
{
    return paths("TESSIVO_PLUGIN_DIR", executableDir, QStringLiteral("plugins"), QStringLiteral("plugins"),
                 QStringLiteral(TESSIVO_BUILD_PLUGIN_DIR));
}

QStringList qmlImportPaths(const QString &executableDir)
{
    return paths("TESSIVO_QML_DIR", executableDir, QStringLiteral("qml"), QStringLiteral("qml"),
                 QStringLiteral(TESSIVO_BUILD_QML_DIR));
}

void addLibraryPaths()
{
    // Each path is put in front of the ones before it, so the last choice goes in first.
    QStringList dirs = existing(pluginPaths());
    std::reverse(dirs.begin(), dirs.end());
    for (const QString &dir : dirs)
        QCoreApplication::addLibraryPath(dir);
}

void addImportPaths(QQmlEngine &engine)
{
    QStringList dirs = existing(qmlImportPaths());
    std::reverse(dirs.begin(), dirs.end());
    for (const QString &dir : dirs)
        engine.addImportPath(dir);
}

} // namespace runtimepaths
