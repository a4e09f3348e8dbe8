#include "screenshots.h"

#include "app/renderbackend.h"
#include "controller/guimanager.h"

#include <QDebug>
#include <QDir>
#include <QImage>
#include <QQuickWindow>

namespace {
const char Tag[] = "[Screenshots] ";
}

Screenshots::Screenshots(GUIManager &manager, const QString &folder, QObject *parent)
    : QObject(parent)
    , m_manager(manager)
    , m_folder(folder)
{
    if (m_folder.isEmpty())
        return;
    const QList<QObject *> roots = manager.engine().rootObjects();
    m_window = qobject_cast<QQuickWindow *>(roots.value(0));
    if (!m_window) {
        qWarning().noquote().nospace() << Tag << "WARN: No window to take screenshots of";
        return;
    }
    if (!QDir().mkpath(m_folder)) {
        qWarning().noquote().nospace() << Tag << "WARN: Could not create screenshot folder : " << m_folder;
        return;
    }
    // The scene has already switched to the controller's first screen; take that one too.
    connect(&manager, &GUIManager::screenChanged, this, &Screenshots::onScreenChanged);
    // The window may swap its frames on the render thread; grabbing belongs on this one.
    connect(m_window, &QQuickWindow::frameSwapped, this, &Screenshots::onFrameSwapped, Qt::QueuedConnection);
    onScreenChanged();
}

void Screenshots::onScreenChanged()
{
    if (!m_window)
        return;
    // The scene reacts to the same signal first; the next frame shows the new page. Should a
    // second change come before that frame, the first page was never on the glass.
    m_pendingScreen = m_manager.screen();
    m_window->update();
}

void Screenshots::onFrameSwapped()
{
    if (!m_window || m_pendingScreen.isNull())
        return;
    const QString screen = m_pendingScreen;
    m_pendingScreen = QString();
    const QString name = QStringLiteral("%1-%2.png").arg(++m_count, 3, 10, QLatin1Char('0')).arg(screen);
    const QString path = QDir(m_folder).filePath(name);
    if (renderbackend::grab(m_window).save(path))
        qInfo().noquote().nospace() << Tag << "Saved screenshot : " << path;
    else
        qWarning().noquote().nospace() << Tag << "WARN: Could not save screenshot : " << path;
}
