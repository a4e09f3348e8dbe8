#pragma once

#include "mqtt/topicroutes.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>

namespace manager {

class MqttClient;

// The inspector service's proxy: the sound card (volume, playback), reboot and power-off, and
// the system statistics. Power requests leave a short delay after they are announced, so the
// scene can show its "Busy" page before the system goes down.
class Inspector : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QVariantMap info READ info NOTIFY infoChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(QVariantMap memory READ memory NOTIFY memoryChanged)
    Q_PROPERTY(QVariantMap cpu READ cpu NOTIFY cpuChanged)
    Q_PROPERTY(QVariantMap disks READ disks NOTIFY disksChanged)
    Q_PROPERTY(int audioVolume READ audioVolume WRITE setAudioVolume NOTIFY audioVolumeChanged)

public:
    Inspector(MqttClient &client, const QString &baseTopic, QObject *parent = nullptr);

    QVariantMap info() const { return m_info; }
    QString status() const { return m_status; }
    QVariantMap memory() const { return m_memory; }
    QVariantMap cpu() const { return m_cpu; }
    QVariantMap disks() const { return m_disks; }
    int audioVolume() const;

    // Whether a power-off is scheduled, and the milliseconds left until it is requested.
    bool shutdownScheduled() const { return m_shutdownTimer.isActive(); }
    int shutdownRemainingMs() const { return m_shutdownTimer.remainingTime(); }

public slots:
    void refresh();
    void monitor(int msec);
    void setAudioVolume(int value);
    void audioPlay(const QString &file);
    void systemReboot();
    void systemShutdown();
    void scheduleShutdown(int sec);
    void abortShutdown();

signals:
    void infoChanged();
    void statusChanged();
    void memoryChanged();
    void cpuChanged();
    void disksChanged();
    void audioVolumeChanged();
    void systemRebootStarted();
    void systemShutdownStarted();

private:
    using Handler = void (Inspector::*)(const QJsonObject &message, const QString &topic);
    static const TopicRoute<Inspector, Handler> Routes[];

    void subscribe();
    void publish(const QString &suffix, const QByteArray &payload);
    void setStatus(const QString &status);
    void onShutdownDue();

    void onInfoReceived(const QJsonObject &message, const QString &topic);
    void onStatusReceived(const QJsonObject &message, const QString &topic);
    void onAudioReceived(const QJsonObject &message, const QString &topic);

    MqttClient &m_client;
    QString m_baseTopic;
    QVariantMap m_info;
    QString m_status;
    QVariantMap m_memory;
    QVariantMap m_cpu;
    QVariantMap m_disks;
    QVariantMap m_audioRecord;
    QTimer m_monitorTimer;
    QTimer m_shutdownTimer;
    // The request of a scheduled shutdown, in its announcement delay: an abort (the ignition
    // back on) still cancels it.
    QTimer m_scheduledRequestTimer;
};

} // namespace manager
