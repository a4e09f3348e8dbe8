#pragma once

#include <QImage>
#include <QString>

#include <functional>

class QQuickWindow;

// What draws the scene: OpenGL where it works; Qt Quick's software renderer on validators
// without a 3D GPU (drawing straight to the panel through the Linux framebuffer), on those whose
// driver cannot make an OpenGL context, and on Qt's offscreen platform without an X server.
// Every page draws the same on both.
namespace renderbackend {

struct Choice
{
    bool software = false;
    // Why the software renderer, as the start-up line names it: "QT_QUICK_BACKEND=software",
    // "platform linuxfb", "no OpenGL context could be created". Empty otherwise.
    QString reason;
};

// The choice for a platform plug-in and the QT_QUICK_BACKEND value as given. `openGlWorks` is
// asked only when nothing else decides.
Choice decide(const QString &platform, const QString &requested, const std::function<bool()> &openGlWorks);

// Whether this platform can create an OpenGL context and make it current.
bool openGlWorks();

// Before the application object exists: should the platform plug-in fail to start (no display,
// no EGL device), the process ends with one error line and exit code 1, for the service manager
// to try again, instead of an abort and a core dump. choose() lifts it.
void guardStartup();

// After the application object exists and before the scene is loaded: makes the choice and
// names it in one line (a warning when it is the software renderer). False, after one error
// line, when there is no screen to draw on at all (a framebuffer platform without its device).
bool choose();

// The window as it is on the screen, on either back end.
QImage grab(QQuickWindow *window);

} // namespace renderbackend
