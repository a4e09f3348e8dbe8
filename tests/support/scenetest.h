#pragma once

#include "app/config.h"
#include "brokerfixture.h"
#include "controller/guimanager.h"
#include "servicedouble.h"

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QScopedPointer>
#include <QStringList>
#include <QTemporaryDir>

class QQuickItem;
class QQuickWindow;
class QTouchDevice;

// Base of the scene tests: the real controller loads the real scene, with a broker of the test
// program's own and a service double (subscribed to everything) playing the sibling services.
// Items are found, read and touched by object name. The scene is drawn as the program draws it:
// with OpenGL under an X server (xcb), or by the software renderer, also on the offscreen
// platform with no X server at all (QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software).
// Pictures go to TESSIVO_ARTIFACTS/<folder>.
class SceneTest : public QObject
{
    Q_OBJECT

public:
    explicit SceneTest(const QString &folder) : m_folder(folder) {}

private slots:
    // Once per test program: process set-up, the broker, the touch device.
    void initTestCase();
    // Before each test: a fresh folder and service double.
    void init();
    // After each test: everything torn down, controller first. Every slip of the scene (a
    // failed binding, an undefined assignment, a missing image) fails the test that caused it,
    // with the pictures taken so far kept.
    void cleanup();

protected:

    // A configuration, a serial-number file (none when `serial` is empty) and an event log in
    // the test's folder; loads the scene and returns before the event loop has run, so no frame
    // is up yet.
    void launch(const QString &locale, const QByteArray &serial = "K00000042\n");
    // launch(), then the window active (the keyboard types into the focus object, which only an
    // active window has) and the controller's configuration seen on the broker.
    void startScene(const QString &locale, const QByteArray &serial = "K00000042\n");

    QObject *find(const QString &objectName, QObject *under = nullptr) const;
    QList<QObject *> findAll(const QString &objectName, QObject *under = nullptr) const;
    QQuickItem *item(const QString &objectName, QObject *under = nullptr) const;
    // The item's "text", or a marker naming the missing item.
    QString text(const QString &objectName, QObject *under = nullptr) const;
    bool shown(const QString &objectName, QObject *under = nullptr) const;
    QPoint centreOf(QQuickItem *target) const;
    QPoint centreOf(const QString &objectName, QObject *under = nullptr) const;
    // One finger down and up, as on the validator's touch panel.
    void touch(const QPoint &point);
    // The window as it looks now, and the same saved as <folder>/<name>.png.
    QImage picture();
    void grab(const QString &name);
    // Whether the software renderer draws the scene.
    bool software() const;

    QScopedPointer<BrokerFixture> m_broker;
    QScopedPointer<ServiceDouble> m_service;
    QScopedPointer<QTemporaryDir> m_dir;
    QScopedPointer<Config> m_config;
    QScopedPointer<GUIManager> m_manager;
    QQuickWindow *m_window = nullptr;
    QStringList m_qmlWarnings;
    QString m_artifacts;
    QTouchDevice *m_touch = nullptr;

private:
    QList<QObject *> walk(const QString &objectName, QObject *under, bool first) const;

    // Longest wait for a frame, well above any this machine draws.
    static constexpr int FrameWaitMs = 2000;

    const QString m_folder;
};
