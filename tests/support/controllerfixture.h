#pragma once

#include "app/config.h"
#include "controller/guimanager.h"

#include <QScopedPointer>
#include <QTemporaryDir>

// The real controller as it runs on a validator, with a configuration, a serial-number file and
// an event log of its own in a temporary folder, connected to the broker on the given port.
class ControllerFixture
{
public:
    explicit ControllerFixture(quint16 port, const QByteArray &extraConfig = QByteArray());

    GUIManager &manager() { return *m_manager; }
    Config &config() { return *m_config; }
    QString path(const QString &name) const { return m_dir.filePath(name); }

    // Resources, application identity, the scene's font and the process-wide log handler, once
    // per test program (which must have a QGuiApplication).
    static void initProcess();

private:
    QTemporaryDir m_dir;
    QScopedPointer<Config> m_config;
    QScopedPointer<GUIManager> m_manager;
};
