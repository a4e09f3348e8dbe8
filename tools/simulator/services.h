#pragma once

#include "samples.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

namespace manager {
class MqttClient;
}

namespace simulator {

// What every simulated service shares: the broker connection, the lines shown to the person
// watching, and the pace of the simulation.
class Bus
{
public:
    Bus(manager::MqttClient &client, double speed);

    void publish(const QString &topic, const QJsonObject &payload, bool retain = false);
    void publish(const QString &topic, const QByteArray &payload, bool retain = false);
    // One line on standard output, with the time of day in front.
    void say(const QString &line) const;
    // A pause of the real services (a download step, a clock synchronisation), shortened by
    // the speed factor.
    int scaled(int millis) const;
    void later(int millis, QObject *context, std::function<void()> action) const;
    // Removes from the broker every retained message we left there, so that nobody takes a
    // stopped simulator for running services.
    void clearRetained();

private:
    manager::MqttClient &m_client;
    double m_speed;
    QSet<QString> m_retained;
};

// One sibling service below its base topic. Requests are registered per topic; the payload is
// parsed once here, so a handler only sees a JSON object (empty for an empty payload).
class Service : public QObject
{
public:
    Service(Bus &bus, const QString &base, const char *tag);

    // The request topics to subscribe to.
    QStringList requestTopics() const { return m_handlers.keys(); }
    // Runs the request's handler; false when the topic is not one of ours.
    bool handle(const QString &topic, const QByteArray &payload);
    // Every state topic, as the service announces itself on start.
    virtual void publishState() = 0;

protected:
    using Handler = std::function<void(const QJsonObject &)>;
    // A request below the base topic; "get" requests take any payload.
    void onRequest(const QString &suffix, Handler handler);
    void onGet(const QString &suffix, std::function<void()> handler);
    // A request on a topic that does not depend on the base topic.
    void onFixedRequest(const QString &topic, Handler handler);
    QString topic(const QString &suffix) const { return m_base + suffix; }

    Bus &m_bus;
    const QString m_base;

private:
    struct Route
    {
        Handler handler;
        bool parsed = true;
    };
    const char *m_tag;
    QHash<QString, Route> m_handlers;
};

// The validation service: readers, SAM, fare rules, and the results of every validation.
class ValidationService : public Service
{
public:
    enum class Condition { Online, Degraded, Offline, OutOfService, Initialising };

    ValidationService(Bus &bus, const QString &base);
    void publishState() override;

    void setOnline();
    void setDegraded(bool obuLost, bool barcodeLost);
    // A fault with its reason code: 2 (service down), 3 (reader firmware update), 4 (reader
    // fault) or 7 (clock not synchronised). False, and nothing changes, for any other code.
    bool setOffline(int code);
    void setOutOfService();
    void setInitialising();

    void presentCard(const Card &card);
    void removeCard(const Card &card);
    void report(const ValidationResult &result);
    void askRetry();
    void scanMaintenanceBarcode(const QJsonObject &content);

private:
    struct State
    {
        bool service = true;
        bool init = false;
        bool hasRfid = true;
        bool hasNtp = true;
        bool hasRoute = true;
        bool hasQr = true;
        bool hasObu = true;
    };
    void setState(const State &state, const QString &description);
    void setReader(int state, const QString &error);
    void publishInfo();
    void publishStatus();
    void publishConfig();
    void onConfigSet(const QJsonObject &request);

    State m_state;
    int m_rfidState = 1; // Idle until the application switches the reader on
    QString m_rfidError;
    bool m_barcodeEnabled = false;
    QString m_obuHost = QStringLiteral("192.168.10.1");
    QString m_obuUsername = QStringLiteral("validator");
    QString m_obuPassword = QStringLiteral("ob-4127-secret");
    QString m_obuPort = QStringLiteral("1883");
    QString m_passbackTime = QStringLiteral("30");
    QString m_qrPassback = QStringLiteral("true");
};

// The board: LEDs, buzzer, backlight, peripheral power, ignition and delayed power-off.
class BoardService : public Service
{
public:
    BoardService(Bus &bus, const QString &base);
    void publishState() override;

    void setIgnition(bool on);
    bool ignition() const { return m_ignition; }

private:
    void publishInfo();
    void publishStatus();
    void publishConfig();
    void publishDisplay();
    void publishPower();
    void publishAudio();
    void onPowerSet(const QJsonObject &request);
    void onDisplaySet(const QJsonObject &request);
    void onAudioSet(const QJsonObject &request);
    void onConfigSet(const QJsonObject &request);

    qint64 m_startedMs = 0;
    bool m_ignition = true;
    QJsonObject m_power;
    int m_brightness = 80;
    QString m_brightnessMode = QStringLiteral("auto");
    bool m_mute = false;
    int m_delayShutdownFor = 360;
};

// The inspector: sound card, reboot and power-off, system statistics.
class InspectorService : public Service
{
public:
    InspectorService(Bus &bus, const QString &base);
    void publishState() override;

private:
    void publishAudio();
    void onAudioSet(const QJsonObject &request);
    void onAudioPlay(const QJsonObject &request);

    int m_volume = 70;
};

// The network service with the wired interface "eth0".
class NetworkService : public Service
{
public:
    NetworkService(Bus &bus, const QString &base);
    void publishState() override;

private:
    void publishStatus();
    void publishEthernetState();
    void publishEthernetConfig();
    void onEthernetConfigSet(const QJsonObject &request);
    QJsonObject currentIpv4() const;

    QString m_method = QStringLiteral("auto");
    QJsonObject m_manual; // the five address texts of a manual configuration
};

// The device service: the clock's NTP client and the software update.
class DeviceService : public Service
{
public:
    DeviceService(Bus &bus, const QString &base);
    void publishState() override;
    // The update server offers this version from the next check on.
    void offer(const QString &version);
    // The next install stops after its download with this reason, and the service says so.
    void failNextInstall(const QString &reason);

private:
    void publishStatus();
    void publishNtpStatus();
    void publishNtpConfig();
    void publishProgress(const QString &message, int percent, const QString &version);
    void onNtpConfigSet(const QJsonObject &request);
    void onNtpSync();
    void onCheck();
    void onInstall();
    struct Step
    {
        QString message;
        int percent;
    };
    // Reports the steps one by one as progress, then runs `done`.
    void runSteps(QVector<Step> steps, const QString &version, std::function<void()> done);
    void publishUpdateStatus();

    bool m_ntpEnabled = true;
    bool m_ntpSynced = true;
    QString m_ntpServer = QStringLiteral("pool.ntp.org");
    int m_syncRequests = 0;
    QString m_current = QStringLiteral("2.4.1");
    QString m_pending;
    // The version the update server offers; empty once installed.
    QString m_available = QStringLiteral("2.5.0");
    bool m_busy = false;
    QString m_failure; // the reason the next install fails with; empty: it succeeds
    QString m_lastError; // why the last install failed, until the next check or install
};

} // namespace simulator
