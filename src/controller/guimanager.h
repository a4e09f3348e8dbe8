#pragma once

#include "controller/brokertrial.h"
#include "controller/displaysettings.h"
#include "controller/language.h"
#include "controller/screencontroller.h"
#include "controller/remoteconfig.h"
#include "controller/maintenancebarcode.h"
#include "controller/powercontrol.h"
#include "maintenance/deviceidentity.h"
#include "maintenance/diagnostics.h"
#include "maintenance/eventmanager.h"
#include "maintenance/sessionmanager.h"
#include "mqtt/mqttclient.h"
#include "network/network.h"
#include "services/board.h"
#include "services/clock.h"
#include "services/inspector.h"
#include "services/update.h"
#include "validation/validator.h"

#include <QColor>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QQmlApplicationEngine>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>
#include <QVector>

class Config;
class QQmlContext;
class Transaction;

// The application's one central object: it owns the broker connection, every service proxy,
// the maintenance session, the event log and the screen controller that chooses the page the
// scene shows, and runs the reactions to changed settings; its RemoteConfig speaks for the
// application on its own topics.
class GUIManager : public QObject
{
    Q_OBJECT
    // The screen by name, for peers and tests; the scene reads `screenId`.
    Q_PROPERTY(QString screen READ screen WRITE setScreen NOTIFY screenChanged)
    Q_PROPERTY(manager::screens::Screen screenId READ screenId NOTIFY screenChanged)
    Q_PROPERTY(QString deviceId READ deviceId WRITE setDeviceId NOTIFY deviceIdChanged)
    Q_PROPERTY(QString language READ language WRITE setLanguage NOTIFY languageChanged)
    Q_PROPERTY(QString dynTr READ dynTr NOTIFY languageChanged)
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)
    Q_PROPERTY(bool showCursor READ showCursor WRITE setShowCursor NOTIFY showCursorChanged)
    Q_PROPERTY(bool showErrorDesc READ showErrorDesc WRITE setShowErrorDesc NOTIFY showErrorDescChanged)
    Q_PROPERTY(int displayOffMin READ displayOffMin WRITE setDisplayOffMin NOTIFY displayOffMinChanged)
    Q_PROPERTY(int shutdownDelaySec READ shutdownDelaySec WRITE setShutdownDelaySec NOTIFY shutdownDelaySecChanged)
    Q_PROPERTY(QColor screenSaverBg READ screenSaverBg NOTIFY screenSaverBgChanged)
    Q_PROPERTY(QString screenSaverImg READ screenSaverImg NOTIFY screenSaverImgChanged)
    Q_PROPERTY(Diagnostics *diagnostics READ diagnostics NOTIFY diagnosticsChanged)
    Q_PROPERTY(manager::Update *update READ update NOTIFY updateChanged)
    Q_PROPERTY(manager::Clock *clock READ clock NOTIFY clockChanged)
    Q_PROPERTY(int animSwitchSec READ animSwitchSec WRITE setAnimSwitchSec NOTIFY animSwitchSecChanged)
    // How far the scene is turned on the panel, clockwise: 0, 90, 180 or 270 degrees.
    Q_PROPERTY(int rotation READ rotation WRITE setRotation NOTIFY rotationChanged)
    // The Login page shows the lock-out after wrong PINs from it.
    Q_PROPERTY(SessionManager *session READ sessionManager CONSTANT)

public:
    // Every configuration key the application knows, with its built-in value.
    static const QVariantMap Defaults;

    // The event log lives beside the executable; tests give it a file of their own.
    explicit GUIManager(Config &config, const QString &eventLogFile = EventManager::defaultFileName());
    ~GUIManager() override;

    void load();

    QString screen() const { return manager::screens::name(m_screens.screen()); }
    manager::screens::Screen screenId() const { return m_screens.screen(); }
    QString deviceId() const { return m_identity.deviceId(); }
    QString language() const { return m_language.current(); }
    QString dynTr() const { return QString(); }
    QString message() const { return m_screens.message(); }
    bool showCursor() const { return m_display.showCursor(); }
    bool showErrorDesc() const { return m_display.showErrorDesc(); }
    int displayOffMin() const { return m_display.displayOffMin(); }
    int shutdownDelaySec() const { return m_display.shutdownDelaySec(); }
    QColor screenSaverBg() const { return m_display.screenSaverBg(); }
    QString screenSaverImg() const { return m_display.screenSaverImg(); }
    int animSwitchSec() const { return m_display.animSwitchSec(); }
    int rotation() const { return m_display.rotation(); }
    Diagnostics *diagnostics() { return &m_diagnostics; }
    manager::Update *update() { return &m_update; }
    manager::Clock *clock() { return &m_clock; }
    SessionManager *sessionManager() { return &m_session; }

    void setScreen(const QString &value);
    void setDeviceId(const QString &deviceId);
    void setLanguage(const QString &language);
    void setShowCursor(bool show) { m_display.setShowCursor(show); }
    void setShowErrorDesc(bool show) { m_display.setShowErrorDesc(show); }
    void setDisplayOffMin(int minutes) { m_display.setDisplayOffMin(minutes); }
    void setShutdownDelaySec(int seconds) { m_display.setShutdownDelaySec(seconds); }
    void setAnimSwitchSec(int value) { m_display.setAnimSwitchSec(value); }
    void setRotation(int degrees) { m_display.setRotation(degrees); }

    void initLog();
    void initConfig();
    void initQml();
    void initMqtt();
    void initManagers();

    // The own topics, as peers and tools see them.
    void subscribeToTopics() { m_remoteConfig.subscribeToTopics(); }
    void publishInfo() { m_remoteConfig.publishInfo(); }
    void publishStatus() { m_remoteConfig.publishStatus(); }
    void publishConfig() { m_remoteConfig.publishConfig(); }
    RemoteConfig &remoteConfig() { return m_remoteConfig; }

    // The keys, and the groups ("log/", any key of the group), whose change sets off a reaction
    // of the controller, in the order the reactions run.
    static QStringList reactionKeys();

    QString validatorReason() const { return m_screens.reasonMessage(); }
    // The name of a screen of the enumeration, as the scene's page table knows its pages.
    Q_INVOKABLE QString screenName(int screen) const;

    // The range of an integer setting ("gui/displayOffMin"), as the pages offer it and
    // "/config/set" accepts it.
    Q_INVOKABLE int settingMinimum(const QString &key) const { return DisplaySettings::minimum(key); }
    Q_INVOKABLE int settingMaximum(const QString &key) const { return DisplaySettings::maximum(key); }
    // Only every step-th value from the minimum is taken (90 for "gui/rotation").
    Q_INVOKABLE int settingStep(const QString &key) const { return DisplaySettings::step(key); }

    // The QML engine, for tests and tools that look at the scene.
    QQmlApplicationEngine &engine() { return m_engine; }
    manager::MqttClient &mqttClient() { return m_mqtt; }
    manager::Validator &validator() { return m_validator; }
    manager::Board &board() { return m_board; }
    manager::Inspector &inspector() { return m_inspector; }
    manager::Network &network() { return m_network; }
    SessionManager &session() { return m_session; }
    EventManager &eventLog() { return m_eventLog; }
    BrokerTrial &brokerTrial() { return m_brokerTrial; }

    // Test seam: the display-off interval is minutes long in service.
    void setDisplayOffUnitMs(int unitMs) { m_screens.setDisplayOffUnitMs(unitMs); }

signals:
    void screenChanged();
    void deviceIdChanged();
    void languageChanged();
    void settingsAccessGranted();
    void settingsAccessDenied();
    void messageChanged();
    void showCursorChanged();
    void showErrorDescChanged();
    void displayOffMinChanged();
    void shutdownDelaySecChanged();
    void errorOccured(const QString &error);
    void diagnosticsChanged();
    void updateChanged();
    void clockChanged();
    void barcodeConfigurationApplied(const QStringList &configList);
    // A maintenance barcode whose settings could not all be sent: the lines not sent, then the rest.
    void barcodeConfigurationFailed(const QStringList &configList);
    void screenSaverBgChanged();
    void screenSaverImgChanged();
    void animSwitchSecChanged();
    void rotationChanged();

public slots:
    void settingsLoginRequest(const QString &pin);
    void settingsLogoutRequest();
    void setIdleScreen();
    void setOutOfOrderScreen(const QString &message);
    void setScreen(const QString &value, int timeout);
    void saveDeviceIdRequest(const QString &deviceId);
    void setMaintenanceScreen();
    void shutdownRequest();
    void rebootRequest();
    void exitRequest();

private slots:
    void onTicketValidated(const Transaction &transaction);
    void onCardDetected(const QString &uid, const QString &type);
    void onCardRemoved();
    void onSystemRebootStarted();
    void onSystemShutdownStarted();
    void onConfigChanged(const QVariantMap &changes);
    void onConfigFileChanged();
    void onSessionActiveChanged();
    void onSessionLockedChanged();
    void onMqttConnected();
    void onMqttDisconnected();
    void onMqttError(const QString &error);

private:
    void setMessage(const QString &message);
    void loadDeviceId() { m_identity.load(); }
    void updateBoardShutdownDelay() { m_power.updateBoardShutdownDelay(); }
    struct SettingReaction;
    static const QVector<SettingReaction> &settingReactions();
    bool screenNamed(const QString &value, manager::screens::Screen *screen) const;

    QQmlApplicationEngine m_engine;
    QQmlContext *m_rootContext = nullptr;
    Config &m_config;
    Language m_language;
    DisplaySettings m_display;
    manager::MqttClient m_mqtt;
    manager::Validator m_validator;
    manager::Board m_board;
    manager::Inspector m_inspector;
    manager::Network m_network;
    manager::Update m_update;
    manager::Clock m_clock;
    manager::ScreenController m_screens;
    SessionManager m_session;
    EventManager m_eventLog;
    DeviceIdentity m_identity;
    Diagnostics m_diagnostics;
    BrokerTrial m_brokerTrial;
    MaintenanceBarcode m_maintenanceBarcode;
    PowerControl m_power;
    RemoteConfig m_remoteConfig;
};
