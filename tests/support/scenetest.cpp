#include "scenetest.h"

#include "controllerfixture.h"

#include "app/renderbackend.h"

#include <QDir>
#include <QFile>
#include <QQmlError>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

void SceneTest::initTestCase()
{
    ControllerFixture::initProcess();
    // The back end is chosen as the program chooses it: OpenGL under an X server, the software
    // renderer when QT_QUICK_BACKEND says so or no OpenGL context can be made (offscreen).
    QVERIFY(renderbackend::choose());
    QVERIFY2(!BrokerFixture::mosquittoPath().isEmpty(), "mosquitto is not installed");
    m_artifacts = qEnvironmentVariable("TESSIVO_ARTIFACTS", QDir::tempPath() + "/tessivo-artifacts") + "/" + m_folder;
    QVERIFY(QDir().mkpath(m_artifacts));
    m_touch = QTest::createTouchDevice();
    m_broker.reset(new BrokerFixture);
    QVERIFY(m_broker->start());
}

void SceneTest::init()
{
    m_qmlWarnings.clear();
    m_dir.reset(new QTemporaryDir);
    m_service.reset(new ServiceDouble(m_broker->port()));
    QVERIFY(m_service->start());
    QVERIFY(m_service->subscribe("#"));
}

void SceneTest::cleanup()
{
    const QStringList warnings = m_qmlWarnings;
    m_manager.reset();
    m_window = nullptr;
    m_config.reset();
    m_service.reset();
    m_dir.reset();
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
}

void SceneTest::launch(const QString &locale, const QByteArray &serial)
{
    const QString serialFile = m_dir->filePath("serialnumber");
    if (!serial.isEmpty()) {
        QFile file(serialFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(serial);
    }
    QFile conf(m_dir->filePath("gui.conf"));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write(QStringLiteral("[log]\nsyslog=false\n[mqtt]\nhost=127.0.0.1\nport=%1\n"
                              "[gui]\ndeviceId=%2\nlocale=%3\n")
                   .arg(m_broker->port())
                   .arg(serialFile, locale)
                   .toUtf8());
    conf.close();
    m_config.reset(new Config(m_dir->filePath("gui.conf"), GUIManager::Defaults));
    m_manager.reset(new GUIManager(*m_config, m_dir->filePath("events.ini")));
    QObject::connect(&m_manager->engine(), &QQmlEngine::warnings, &m_manager->engine(),
                     [this](const QList<QQmlError> &errors) {
                         for (const QQmlError &error : errors)
                             m_qmlWarnings << error.toString();
                     });
    m_manager->load();
    QVERIFY(!m_manager->engine().rootObjects().isEmpty());
    m_window = qobject_cast<QQuickWindow *>(m_manager->engine().rootObjects().first());
    QVERIFY(m_window);
}

void SceneTest::startScene(const QString &locale, const QByteArray &serial)
{
    launch(locale, serial);
    if (QTest::currentTestFailed())
        return;
    m_window->requestActivate();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    QVERIFY(m_service->waitFor("orvo/ui/config"));
}

QObject *SceneTest::find(const QString &objectName, QObject *under) const
{
    return walk(objectName, under, true).value(0);
}

QList<QObject *> SceneTest::findAll(const QString &objectName, QObject *under) const
{
    return walk(objectName, under, false);
}

QList<QObject *> SceneTest::walk(const QString &objectName, QObject *under, bool first) const
{
    // Pages sit in loaders and stacks, pop-ups in the overlay: walk object and item trees both.
    QList<QObject *> found;
    QList<QObject *> queue{under ? under : m_window};
    QSet<QObject *> seen;
    while (!queue.isEmpty()) {
        QObject *object = queue.takeFirst();
        if (!object || seen.contains(object))
            continue;
        seen.insert(object);
        if (object->objectName() == objectName) {
            found << object;
            if (first)
                break;
        }
        queue << object->children();
        if (auto *quick = qobject_cast<QQuickItem *>(object)) {
            for (QQuickItem *child : quick->childItems())
                queue << child;
        } else if (auto *window = qobject_cast<QQuickWindow *>(object)) {
            queue << window->contentItem();
        } else if (object->metaObject()->indexOfProperty("contentItem") >= 0) {
            queue << object->property("contentItem").value<QQuickItem *>();
        }
    }
    return found;
}

QQuickItem *SceneTest::item(const QString &objectName, QObject *under) const
{
    return qobject_cast<QQuickItem *>(find(objectName, under));
}

QString SceneTest::text(const QString &objectName, QObject *under) const
{
    QObject *object = find(objectName, under);
    return object ? object->property("text").toString() : QStringLiteral("<no %1>").arg(objectName);
}

bool SceneTest::shown(const QString &objectName, QObject *under) const
{
    QQuickItem *found = item(objectName, under);
    return found && found->isVisible();
}

QPoint SceneTest::centreOf(QQuickItem *target) const
{
    return target ? target->mapToScene(QPointF(target->width() / 2, target->height() / 2)).toPoint() : QPoint();
}

QPoint SceneTest::centreOf(const QString &objectName, QObject *under) const
{
    return centreOf(item(objectName, under));
}

void SceneTest::touch(const QPoint &point)
{
    QTest::touchEvent(m_window, m_touch).press(0, point, m_window);
    QTest::touchEvent(m_window, m_touch).release(0, point, m_window);
}

bool SceneTest::software() const
{
    return m_window && m_window->rendererInterface()
            && m_window->rendererInterface()->graphicsApi() == QSGRendererInterface::Software;
}

QImage SceneTest::picture()
{
    // The software renderer's picture on the offscreen platform is the last frame it showed: one
    // more frame first, so that it holds what the scene holds now.
    if (software()) {
        QSignalSpy frame(m_window, &QQuickWindow::frameSwapped);
        m_window->update();
        frame.wait(FrameWaitMs);
    }
    return renderbackend::grab(m_window).convertToFormat(QImage::Format_RGB32);
}

void SceneTest::grab(const QString &name)
{
    const QString path = m_artifacts + "/" + name + ".png";
    QVERIFY2(picture().save(path), qPrintable(path));
}
