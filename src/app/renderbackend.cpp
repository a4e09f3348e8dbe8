#include "app/renderbackend.h"

#include <QDebug>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPixmap>
#include <QQuickWindow>
#include <QScreen>
#include <QSGRendererInterface>

#include <qpa/qplatformintegration.h>
#include <private/qguiapplication_p.h>

#include <cstdio>
#include <unistd.h>

// The choice is made once, before the first window: Qt Quick cannot change its back end after.

namespace renderbackend {

namespace {

const char Tag[] = "[RenderBackend] ";

bool guarded = false;
QtMessageHandler previousHandler = nullptr;

void startupHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtFatalMsg) {
        if (previousHandler)
            previousHandler(type, context, message);
        else
            std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
        return;
    }
    // Only the platform plug-in's start can end here (the guard is lifted once the application
    // object exists): its reason is the first line.
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM", QStringLiteral("the default"));
    std::fprintf(stderr, "%sERROR: No display to draw on, platform %s: %s\n", Tag, qPrintable(platform),
                 qPrintable(message.section(QLatin1Char('\n'), 0, 0)));
    std::fflush(stderr);
    _exit(1);
}

QString requestedBackend()
{
    // The older variable, as Qt itself still reads it.
    const QString requested = qEnvironmentVariable("QT_QUICK_BACKEND");
    return requested.isEmpty() ? qEnvironmentVariable("QMLSCENE_DEVICE") : requested;
}

} // namespace

Choice decide(const QString &platform, const QString &requested, const std::function<bool()> &openGlWorks)
{
    if (requested == QLatin1String("software") || requested == QLatin1String("softwarecontext"))
        return {true, QStringLiteral("QT_QUICK_BACKEND=software")};
    // Another back end by name is Qt's own business.
    if (!requested.isEmpty())
        return {};
    if (platform == QLatin1String("linuxfb"))
        return {true, QStringLiteral("platform linuxfb")};
    if (!openGlWorks())
        return {true, QStringLiteral("no OpenGL context could be created")};
    return {};
}

bool openGlWorks()
{
    // Asking a platform without OpenGL for a context earns a warning of its own.
    QPlatformIntegration *integration = QGuiApplicationPrivate::platformIntegration();
    if (!integration || !integration->hasCapability(QPlatformIntegration::OpenGL))
        return false;
    QOpenGLContext context;
    if (!context.create())
        return false;
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface))
        return false;
    // A driver that makes a context but cannot name itself will not draw either.
    const bool named = context.functions()->glGetString(GL_RENDERER) != nullptr;
    context.doneCurrent();
    return named;
}

void guardStartup()
{
    previousHandler = qInstallMessageHandler(startupHandler);
    guarded = true;
}

bool choose()
{
    // The platform has started: from here on a fatal message is no longer about the display.
    if (guarded) {
        qInstallMessageHandler(previousHandler);
        guarded = false;
    }
    const QString platform = QGuiApplication::platformName();
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen || screen->geometry().isEmpty()) {
        // The framebuffer platform starts without its device and only fails at the first window.
        qCritical().noquote().nospace() << Tag << "ERROR: No display to draw on, platform " << platform
                                        << ": no screen";
        return false;
    }
    const QString requested = requestedBackend();
    const Choice choice = decide(platform, requested, [] { return openGlWorks(); });
    if (choice.software) {
        QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
        qWarning().noquote().nospace() << Tag << "WARN: Drawing with the software renderer (" << choice.reason
                                       << ")";
    } else if (!requested.isEmpty()) {
        qInfo().noquote().nospace() << Tag << "Drawing with the back end QT_QUICK_BACKEND names : " << requested;
    } else {
        qInfo().noquote().nospace() << Tag << "Drawing with OpenGL";
    }
    return true;
}

QImage grab(QQuickWindow *window)
{
    if (!window)
        return QImage();
    QImage image = window->grabWindow();
    // The software renderer reads its picture back from the platform's window store, which the
    // offscreen platform cannot hand out; its screen holds the same picture.
    if (image.isNull() && window->screen())
        image = window->screen()->grabWindow(window->winId()).toImage();
    return image;
}

} // namespace renderbackend
