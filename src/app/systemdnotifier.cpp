#include "systemdnotifier.h"

#include "controller/guimanager.h"

#include <QCoreApplication>
#include <QDebug>
#include <QQuickWindow>

#include <cstring>
#include <systemd/sd-daemon.h>

namespace {
const char Tag[] = "[SystemdNotifier] ";
}

SystemdNotifier::SystemdNotifier(QObject *parent)
    : QObject(parent)
{
    if (qEnvironmentVariableIsEmpty("NOTIFY_SOCKET"))
        return;
    m_active = true;
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &SystemdNotifier::notifyStopping);

    // WATCHDOG_USEC is the unit's WatchdogSec; WATCHDOG_PID, when set, names the process meant.
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        // Half the interval, as systemd advises: a ping delayed by a busy moment still counts.
        m_watchdog.setInterval(int(qBound<uint64_t>(1, usec / 2000, 24 * 3600 * 1000)));
        connect(&m_watchdog, &QTimer::timeout, this, &SystemdNotifier::onWatchdog);
        m_watchdog.start();
        // The scene is loaded on this thread next, blocking it; the interval counts from here.
        onWatchdog();
    }
}

SystemdNotifier::~SystemdNotifier() = default;

void SystemdNotifier::watchFirstFrame(QQuickWindow *window)
{
    if (!m_active || m_ready || !window)
        return;
    m_window = window;
    // The threaded render loop swaps on its own thread; the notice goes from this one.
    connect(window, &QQuickWindow::frameSwapped, this, &SystemdNotifier::onFrameSwapped, Qt::QueuedConnection);
    window->update();
}

void SystemdNotifier::follow(GUIManager &manager)
{
    if (!m_active)
        return;
    m_manager = &manager;
    m_brokerConnected = manager.mqttClient().state() == manager::MqttTransport::Connected;
    connect(&manager, &GUIManager::screenChanged, this, &SystemdNotifier::updateStatus);
    connect(&manager.mqttClient(), &manager::MqttClient::connected, this, [this] {
        m_brokerConnected = true;
        updateStatus();
    });
    connect(&manager.mqttClient(), &manager::MqttClient::disconnected, this, [this] {
        m_brokerConnected = false;
        updateStatus();
    });
    updateStatus();
    const QList<QObject *> roots = manager.engine().rootObjects();
    watchFirstFrame(qobject_cast<QQuickWindow *>(roots.value(0)));
}

void SystemdNotifier::updateStatus()
{
    if (!m_manager)
        return;
    const QString screen = m_manager->screen().isEmpty() ? QStringLiteral("starting") : m_manager->screen();
    setStatus(screen + (m_brokerConnected ? QStringLiteral(", broker connected")
                                          : QStringLiteral(", broker disconnected")));
}

void SystemdNotifier::setStatus(const QString &status)
{
    if (!m_active || status == m_status)
        return;
    m_status = status;
    send("STATUS=" + status.toUtf8());
}

void SystemdNotifier::notifyStopping()
{
    if (!m_active || m_stopping)
        return;
    m_stopping = true;
    m_watchdog.stop();
    if (send(QByteArrayLiteral("STOPPING=1")))
        qInfo().noquote().nospace() << Tag << "Told the service manager: STOPPING=1";
}

void SystemdNotifier::onFrameSwapped()
{
    if (m_ready)
        return;
    m_ready = true;
    if (m_window)
        disconnect(m_window, &QQuickWindow::frameSwapped, this, &SystemdNotifier::onFrameSwapped);
    if (send(QByteArrayLiteral("READY=1")))
        qInfo().noquote().nospace() << Tag << "Told the service manager: READY=1 (first frame drawn)";
}

void SystemdNotifier::onWatchdog()
{
    send(QByteArrayLiteral("WATCHDOG=1"));
}

bool SystemdNotifier::send(const QByteArray &state)
{
    if (!m_active)
        return false;
    const int result = sd_notify(0, state.constData());
    if (result > 0)
        return true;
    // A socket named but not there, or not taking datagrams: the service manager will not hear
    // from us (and a unit waiting for readiness will time out), but the passenger still can
    // validate. Said once; nothing more is sent.
    m_active = false;
    m_watchdog.stop();
    qWarning().noquote().nospace() << Tag << "WARN: Could not notify the service manager through "
                                   << qEnvironmentVariable("NOTIFY_SOCKET") << ": "
                                   << (result < 0 ? std::strerror(-result) : "no socket")
                                   << ". Running on without it";
    return false;
}
