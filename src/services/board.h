#pragma once

#include "mqtt/topicroutes.h"

#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantList>
#include <QVariantMap>

namespace manager {

class MqttClient;

// The board service's proxy: LEDs, buzzer, backlight and light sensor, audio mute, peripheral
// power, the ignition input and the board's delayed power-off. It keeps what the service last
// reported; its setters only send requests and wait for the service to report the new state.
class Board : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool ignition READ ignition NOTIFY ignitionChanged)
    Q_PROPERTY(QString poleId READ poleId NOTIFY poleIdChanged)
    Q_PROPERTY(double temperature READ temperature NOTIFY temperatureChanged)
    Q_PROPERTY(double voltage READ voltage NOTIFY voltageChanged)
    Q_PROPERTY(int displayBrightness READ displayBrightness WRITE setDisplayBrightness NOTIFY displayBrightnessChanged)
    Q_PROPERTY(QString displayBrightnessMode READ displayBrightnessMode WRITE setDisplayBrightnessMode
                   NOTIFY displayBrightnessModeChanged)
    Q_PROPERTY(int ambientLightSensor READ ambientLightSensor NOTIFY ambientLightSensorChanged)
    Q_PROPERTY(QVariantMap info READ info NOTIFY infoChanged)
    Q_PROPERTY(bool audioEnabled READ audioEnabled WRITE setAudioEnabled NOTIFY audioEnabledChanged)
    Q_PROPERTY(QVariantList peripherals READ peripherals WRITE setPeripherals NOTIFY peripheralsChanged)
    Q_PROPERTY(bool rtcFailed READ rtcFailed NOTIFY rtcFailedChanged)
    Q_PROPERTY(int delayShutdownFor READ delayShutdownFor WRITE setDelayShutdownFor NOTIFY delayShutdownForChanged)

public:
    Board(MqttClient &client, const QString &baseTopic, QObject *parent = nullptr);

    bool ignition() const { return m_ignition; }
    QString poleId() const;
    double temperature() const;
    double voltage() const;
    int uptime() const;
    bool rtcFailed() const;
    int displayBrightness() const;
    QString displayBrightnessMode() const;
    int ambientLightSensor() const;
    QVariantMap info() const { return m_info; }
    bool audioEnabled() const;
    QVariantList peripherals() const;
    int delayShutdownFor() const { return m_delayShutdownFor; }
    QString status() const { return m_status; }

    Q_INVOKABLE bool peripheralPower(const QString &peripheral) const;

public slots:
    void refresh();
    void monitor(int msec);
    void setPeripheralPower(const QString &peripheral, bool value);
    void setDelayShutdownFor(int sec);
    void setLedValid();
    void setLedInvalid();
    void setLedTestPattern();
    void setLedOff();
    void setDisplayBrightness(int value);
    void setDisplayBrightnessMode(const QString &value);
    void setAudioEnabled(bool value);
    void playBuzzer(int onMsec, int offMsec, int repeat = 0);
    void setPeripherals(const QVariantList &list);

signals:
    void infoChanged();
    void statusChanged();
    void ignitionChanged();
    void poleIdChanged();
    void temperatureChanged();
    void voltageChanged();
    void uptimeChanged();
    void peripheralPowerChanged(const QString &peripheral, bool value);
    void audioEnabledChanged();
    void rtcFailedChanged();
    void displayBrightnessChanged();
    void displayBrightnessModeChanged();
    void ambientLightSensorChanged();
    void peripheralsChanged();
    void delayShutdownForChanged();

private:
    using Handler = void (Board::*)(const QJsonObject &message, const QString &topic);
    static const TopicRoute<Board, Handler> Routes[];

    void subscribe();
    void publish(const QString &suffix, const QByteArray &payload);
    void setStatus(const QString &status);
    void playLeds(const QJsonObject &pattern);

    void onInfoReceived(const QJsonObject &message, const QString &topic);
    void onStatusReceived(const QJsonObject &message, const QString &topic);
    void onConfigReceived(const QJsonObject &message, const QString &topic);
    void onDisplayReceived(const QJsonObject &message, const QString &topic);
    void onPowerReceived(const QJsonObject &message, const QString &topic);
    void onEventReceived(const QJsonObject &message, const QString &topic);
    void onAudioReceived(const QJsonObject &message, const QString &topic);

    MqttClient &m_client;
    QString m_baseTopic;
    QVariantMap m_info;
    QString m_status;
    QJsonObject m_statusRecord;
    QJsonObject m_displayRecord;
    QJsonObject m_powerRecord;
    // Keys of the power record, the most recently added last: the record is bounded.
    QStringList m_powerOrder;
    int m_delayShutdownFor = 0;
    QVariantMap m_audioRecord;
    QTimer m_monitorTimer;
    bool m_ignition = true;
    // Display names of the peripherals, translated once on the first read of the list.
    mutable QMap<QString, QString> m_peripheralNames;
};

} // namespace manager
