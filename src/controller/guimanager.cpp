#include "guimanager.h"

#include "app/config.h"
#include "app/logger.h"
#include "app/runtimepaths.h"
#include "app/secrets.h"
#include "app/tintedicons.h"
#include "maintenance/event.h"
#include "maintenance/user.h"
#include "network/connection.h"
#include "network/ipv4.h"
#include "remoteconfig.h"
#include "settingtable.h"
#include "tones.h"
#include "validation/transaction.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QLocale>
#include <QLoggingCategory>
#include <QQmlContext>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QUrl>

#include <memory>

#include <cmath>


// Screen choice, configuration reactions and language. The own topics and the rules for
// remote settings are RemoteConfig's.

namespace {

namespace Key = settingtable::key;

const char Tag[] = "[GUIManager] ";

const QString &ValidSound = tones::Valid;
const QString &InvalidSound = tones::Invalid;

// The first page while the services report in.
constexpr int StartupScreenMs = 10000;


QString maskedJson(QVariantMap changes)
{
    for (auto it = changes.begin(); it != changes.end(); ++it) {
        if (secrets::isSecretName(it.key()) && !it.value().toString().isEmpty())
            it.value() = secrets::Mask;
    }
    return QString::fromUtf8(QJsonDocument(QJsonObject::fromVariantMap(changes)).toJson(QJsonDocument::Indented));
}

} // namespace

GUIManager::GUIManager(Config &config, const QString &eventLogFile)
    : m_config(config)
    , m_display(config)
    , m_validator(m_mqtt, config.get(Key::TopicBlm).toString())
    , m_board(m_mqtt, config.get(Key::TopicBoard).toString())
    , m_inspector(m_mqtt, config.get(Key::TopicInspector).toString())
    , m_network(m_mqtt, config.get(Key::TopicNetwork).toString())
    , m_update(m_mqtt, config.get(Key::TopicDevice).toString())
    , m_clock(m_mqtt, config.get(Key::TopicDevice).toString())
    , m_screens([this] { return m_board.ignition(); })
    , m_session(config)
    , m_eventLog(config, eventLogFile)
    , m_identity(config)
    , m_diagnostics(m_identity, m_board, m_network, m_validator)
    , m_brokerTrial(config)
    , m_maintenanceBarcode(m_session, m_validator, m_network, m_inspector, m_board)
    , m_power(m_board, m_inspector, m_session, m_eventLog, [this] { return shutdownDelaySec(); })
    , m_remoteConfig(config, m_mqtt, m_session, m_brokerTrial)
{
    m_rootContext = m_engine.rootContext();
    connect(&m_screens, &manager::ScreenController::screenChanged, this, &GUIManager::screenChanged);
    connect(&m_screens, &manager::ScreenController::messageChanged, this, &GUIManager::messageChanged);
    connect(&m_identity, &DeviceIdentity::deviceIdChanged, this, &GUIManager::deviceIdChanged);
    connect(&m_identity, &DeviceIdentity::saveFailed, this, &GUIManager::errorOccured);

    loadDeviceId();
    initLog();
    initConfig();
    initQml();
    initMqtt();
    initManagers();
}

GUIManager::~GUIManager()
{
    // The scene reads the proxies to its last binding: it goes first, before the members it
    // reads are destroyed under it.
    qDeleteAll(m_engine.rootObjects());
}

void GUIManager::load()
{
    // The translator goes in before the scene is built: installed afterwards, it would make
    // every text of every page be worked out and laid out a second time before the first frame.
    setLanguage(m_config.get(Key::Locale).toString());
    m_engine.load(QUrl(QStringLiteral("qrc:/qml/main.qml")));
    // Only the page on screen is in the first frame; the scene builds the others once that frame
    // is up. The frame is swapped on the render thread; the scene is told on ours.
    if (auto *window = qobject_cast<QQuickWindow *>(m_engine.rootObjects().value(0))) {
        auto once = std::make_shared<QMetaObject::Connection>();
        *once = connect(window, &QQuickWindow::frameSwapped, this, [window, once] {
            QObject::disconnect(*once);
            window->setProperty("buildAllPages", true);
        }, Qt::QueuedConnection);
    }
    m_eventLog.push(new Event(QStringLiteral("General"), QStringLiteral("Application started"), QString(),
                              QDateTime::currentDateTime()));
}

// ---------------------------------------------------------------------------------------------
// Set-up

void GUIManager::initLog()
{
    manager::Logger *logger = manager::Logger::instance();
    logger->setLevel(m_config.get(Key::LogLevel).toInt());
    logger->setStderr(m_config.get(Key::LogStderr).toBool());
    logger->setSyslog(m_config.get(Key::LogSyslog).toBool());
    logger->setColor(m_config.get(Key::LogColor).toBool());
}

void GUIManager::initConfig()
{
    connect(&m_config, &Config::configChanged, this, &GUIManager::onConfigChanged);
    connect(&m_config, &Config::configFileChanged, this, &GUIManager::onConfigFileChanged);
    m_config.print();
    // Before the scene: its first frame is already drawn at the panel's angle.
    m_display.updateRotation();
}

void GUIManager::initQml()
{
    QQuickStyle::setStyle(QStringLiteral("Material"));
    runtimepaths::addImportPaths(m_engine);
    m_engine.addImageProvider(TintedIconProvider::Name, new TintedIconProvider);
    qInfo().noquote().nospace() << Tag << "QtQuick Style name is : " << QQuickStyle::name();

    qmlRegisterType<Transaction>("com.orvo.ticketing.transaction", 1, 0, "Transaction");
    qmlRegisterType<manager::Connection>("com.orvo.network.connection", 1, 0, "Connection");
    qmlRegisterType<IPv4>("com.orvo.network.ipv4", 1, 0, "IPv4");
    qmlRegisterUncreatableMetaObject(manager::screens::staticMetaObject, "com.orvo.screens", 1, 0, "Screens",
                                     QStringLiteral("Screens is an enumeration"));
    qmlRegisterUncreatableType<manager::Validator>("com.orvo.validation", 1, 0, "Validator",
                                                   QStringLiteral("The validator is the controller's"));

    m_rootContext->setContextProperty(QStringLiteral("manager"), this);
    m_rootContext->setContextProperty(QStringLiteral("board"), &m_board);
    m_rootContext->setContextProperty(QStringLiteral("inspector"), &m_inspector);
    m_rootContext->setContextProperty(QStringLiteral("transaction"), Transaction().toMap());
    m_rootContext->setContextProperty(QStringLiteral("eventLogManager"), &m_eventLog);
    m_rootContext->setContextProperty(QStringLiteral("network"), &m_network);
    m_rootContext->setContextProperty(QStringLiteral("validatorManager"), &m_validator);

    m_screens.setDeviceIdPresent(!deviceId().isEmpty());
    m_screens.setShowErrorDesc(showErrorDesc());
    m_screens.setScreen(manager::screens::Screen::Busy, StartupScreenMs);
    setMessage(tr("Initializing"));
}

void GUIManager::initMqtt()
{
    disconnect(&m_mqtt, &manager::MqttClient::connected, this, &GUIManager::onMqttConnected);
    disconnect(&m_mqtt, &manager::MqttClient::disconnected, this, &GUIManager::onMqttDisconnected);
    disconnect(&m_mqtt, &manager::MqttClient::error, this, &GUIManager::onMqttError);
    connect(&m_mqtt, &manager::MqttClient::connected, this, &GUIManager::onMqttConnected);
    connect(&m_mqtt, &manager::MqttClient::disconnected, this, &GUIManager::onMqttDisconnected);
    connect(&m_mqtt, &manager::MqttClient::error, this, &GUIManager::onMqttError);

    m_mqtt.setClientId(QCoreApplication::applicationName() + QLatin1Char('_')
                       + QString::number(QCoreApplication::applicationPid()));
    m_mqtt.setWillMessage(QByteArrayLiteral("{\"service\": false}"));
    m_mqtt.setWillTopic(m_remoteConfig.baseTopic() + QStringLiteral("/status"));
    m_mqtt.setHostname(m_config.get(Key::MqttHost).toString());
    m_mqtt.setPort(m_config.get(Key::MqttPort).toUInt());
    m_mqtt.setUsername(m_config.get(Key::MqttUsername).toString());
    m_mqtt.setPassword(m_config.get(Key::MqttPassword).toString());
    m_mqtt.connect();
    setMessage(QStringLiteral("Connecting"));
}

void GUIManager::initManagers()
{
    connect(&m_validator, &manager::Validator::statusChanged, this,
            [this] { m_screens.setValidatorStatus(m_validator.statusId()); });
    connect(&m_validator, &manager::Validator::cardDetected, this, &GUIManager::onCardDetected);
    connect(&m_validator, &manager::Validator::cardRemoved, this, &GUIManager::onCardRemoved);
    connect(&m_validator, &manager::Validator::cardRetry, &m_screens, &manager::ScreenController::cardRetry);
    connect(&m_validator, &manager::Validator::reasonChanged, this,
            [this] { m_screens.setValidatorReason(m_validator.reasonCode(), m_validator.reason()); });
    connect(&m_validator, &manager::Validator::ticketValidated, this, &GUIManager::onTicketValidated);
    connect(&m_validator, &manager::Validator::maintenanceBarcodeScanned, &m_maintenanceBarcode,
            &MaintenanceBarcode::onScanned);
    connect(&m_maintenanceBarcode, &MaintenanceBarcode::configurationApplied, this,
            &GUIManager::barcodeConfigurationApplied);
    connect(&m_maintenanceBarcode, &MaintenanceBarcode::configurationFailed, this,
            &GUIManager::barcodeConfigurationFailed);
    connect(&m_power, &PowerControl::ignitionChanged, &m_screens, &manager::ScreenController::setIgnition);
    connect(&m_session, &SessionManager::accessGranted, this, &GUIManager::settingsAccessGranted);
    // After the scene heard of it: the PIN page's own line comes before the change of page.
    connect(&m_session, &SessionManager::accessGranted, this, [this] {
        m_screens.setSessionOpen(m_session.sessionActive());
        m_screens.loginSucceeded();
    });
    connect(&m_session, &SessionManager::accessDenied, this, &GUIManager::settingsAccessDenied);
    connect(&m_session, &SessionManager::expired, &m_screens, &manager::ScreenController::setIdleScreen);
    connect(&m_session, &SessionManager::sessionActiveChanged, this, &GUIManager::onSessionActiveChanged);
    connect(&m_session, &SessionManager::lockedChanged, this, &GUIManager::onSessionLockedChanged);
    connect(this, &GUIManager::deviceIdChanged, this, [this] { m_screens.setDeviceIdPresent(!deviceId().isEmpty()); });
    connect(&m_screens, &manager::ScreenController::readersRequested, this, [this](bool on) {
        if (on) {
            m_validator.enableRfid();
            m_validator.enableBarcode();
        } else {
            m_validator.disableRfid();
            m_validator.disableBarcode();
        }
    });
    connect(&m_screens, &manager::ScreenController::toneRequested, this,
            [this](bool valid) { m_inspector.audioPlay(valid ? ValidSound : InvalidSound); });
    connect(&m_screens, &manager::ScreenController::displayPowerRequested, this,
            [this](bool on) { m_board.setPeripheralPower(QStringLiteral("display"), on); });
    connect(&m_board, &manager::Board::peripheralPowerChanged, this, [this](const QString &peripheral, bool on) {
        if (peripheral == QLatin1String("display"))
            m_screens.setDisplayPowered(on);
    });
    connect(this, &GUIManager::displayOffMinChanged, this, [this] { m_screens.setDisplayOffMinutes(displayOffMin()); });
    // From here on the display follows the page; the start-up page came before the board did.
    m_screens.setDisplayOffMinutes(displayOffMin());
    connect(&m_inspector, &manager::Inspector::systemRebootStarted, this, &GUIManager::onSystemRebootStarted);
    connect(&m_inspector, &manager::Inspector::systemShutdownStarted, this, &GUIManager::onSystemShutdownStarted);
}

// ---------------------------------------------------------------------------------------------
// Broker connection (the own topics are the remote configuration's)

void GUIManager::onMqttConnected()
{
    qInfo().noquote().nospace() << Tag << "Connected to MQTT broker";
    m_brokerTrial.onConnected();
    setMessage(QStringLiteral("Connected"));
    subscribeToTopics();
    publishInfo();
    publishStatus();
    publishConfig();
}

void GUIManager::onMqttDisconnected()
{
    qWarning().noquote().nospace() << Tag << "WARN: Disconnected from MQTT broker";
    setOutOfOrderScreen(QStringLiteral("Disconnected"));
}

void GUIManager::onMqttError(const QString &error)
{
    qCritical().noquote().nospace() << Tag << "ERROR: " << error;
}

// ---------------------------------------------------------------------------------------------
// Screens

void GUIManager::setMessage(const QString &message)
{
    m_screens.setMessage(message);
}

QString GUIManager::screenName(int screen) const
{
    return manager::screens::name(manager::screens::Screen(screen));
}

// A name that is no page is refused: the scene would show nothing.
bool GUIManager::screenNamed(const QString &value, manager::screens::Screen *screen) const
{
    if (manager::screens::fromName(value, screen))
        return true;
    qWarning().noquote().nospace() << Tag << "WARN: Unknown screen : " << value;
    return false;
}

void GUIManager::setScreen(const QString &value)
{
    manager::screens::Screen screen;
    if (screenNamed(value, &screen))
        m_screens.setScreen(screen);
}

void GUIManager::setScreen(const QString &value, int timeout)
{
    manager::screens::Screen screen;
    if (screenNamed(value, &screen))
        m_screens.setScreen(screen, timeout);
}

void GUIManager::setIdleScreen()
{
    m_screens.setIdleScreen();
}

void GUIManager::setOutOfOrderScreen(const QString &message)
{
    m_screens.setOutOfOrderScreen(message);
}

void GUIManager::setMaintenanceScreen()
{
    m_screens.setMaintenanceScreen();
}

void GUIManager::onTicketValidated(const Transaction &transaction)
{
    // The tone and the page go out first; the three log lines and the record for the scene come
    // right after them. Formatting the record's dump and handing it to the scene (which works out
    // the result pages' texts) take most of this handler's time, and the passenger's tone does not
    // wait for either. The page still never shows the previous record: nothing is drawn before
    // this handler returns.
    m_screens.showResult(transaction);

    // The record lives only for this emission: the scene keeps the map.
    const QVariantMap map = transaction.toMap();
    qWarning().noquote().nospace() << Tag << "Validator ticket validated : " << int(transaction.type());
    qWarning().noquote().nospace() << Tag << "Valid : " << (transaction.valid() ? "true" : "false");
    qWarning().noquote().nospace() << Tag << "Contents : " << map;
    m_rootContext->setContextProperty(QStringLiteral("transaction"), map);
}

void GUIManager::onCardDetected(const QString &uid, const QString &type)
{
    qWarning().noquote().nospace() << Tag << QStringLiteral("Validator card detected : uid=%1, type=%2").arg(uid, type);
}

void GUIManager::onCardRemoved()
{
    qWarning().noquote().nospace() << Tag << "Validator card removed";
}

void GUIManager::shutdownRequest()
{
    m_screens.goingDown(tr("Shutting down"));
    m_power.shutdown();
}

void GUIManager::rebootRequest()
{
    m_screens.goingDown(tr("Rebooting"));
    m_power.reboot();
}

void GUIManager::exitRequest()
{
    m_screens.goingDown(tr("Exiting"));
    m_power.exit();
}

void GUIManager::onSystemRebootStarted()
{
    m_screens.goingDown(tr("Rebooting"));
}

void GUIManager::onSystemShutdownStarted()
{
    m_screens.goingDown(tr("Shutting down"));
}

// ---------------------------------------------------------------------------------------------
// Configuration

// What a change of a setting sets off. A row names a key, or a group ("log/") that any key
// holding it followed by a name reaches, known to the table or not.
struct GUIManager::SettingReaction
{
    QString key;
    void (*run)(GUIManager &manager, const QVariantMap &changes);

    bool reachedBy(const QVariantMap &changes) const
    {
        if (!key.endsWith(QLatin1Char('/')))
            return changes.contains(key);
        const QRegularExpression group(QRegularExpression::escape(key) + QStringLiteral(".+"));
        for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
            if (group.match(it.key()).hasMatch())
                return true;
        }
        return false;
    }
};

// Every changed row reacts, once and in this order: a file edit or one "/config/set" may
// change several settings, and each must be in force when the configuration is published.
const QVector<GUIManager::SettingReaction> &GUIManager::settingReactions()
{
    static const QString LogGroup = QStringLiteral("log/");
    static const QString MqttGroup = QStringLiteral("mqtt/");
    static const QVector<SettingReaction> reactions = {
        {Key::DeviceId, [](GUIManager &m, const QVariantMap &) {
             qInfo().noquote().nospace() << Tag << "Device id changed. Re-loading";
             m.loadDeviceId();
         }},
        {Key::ShowCursor, [](GUIManager &m, const QVariantMap &changes) {
             qInfo().noquote().nospace() << Tag << "Cursor changed : " << (changes.value(Key::ShowCursor).toBool() ? "visible" : "hidden");
             emit m.showCursorChanged();
         }},
        {Key::DisplayOffMin, [](GUIManager &m, const QVariantMap &changes) {
             qInfo().noquote().nospace() << Tag << "Display OFF interval changed : " << changes.value(Key::DisplayOffMin).toInt() << " min(s)";
             emit m.displayOffMinChanged();
         }},
        {Key::ShutdownDelaySec, [](GUIManager &m, const QVariantMap &changes) {
             qInfo().noquote().nospace() << Tag << "Shutdown delay changed : " << changes.value(Key::ShutdownDelaySec).toInt() << " sec(s)";
             m.updateBoardShutdownDelay();
             emit m.shutdownDelaySecChanged();
         }},
        {Key::Locale, [](GUIManager &m, const QVariantMap &changes) { m.setLanguage(changes.value(Key::Locale).toString()); }},
        {Key::ShowErrorDesc, [](GUIManager &m, const QVariantMap &changes) {
             qInfo().noquote().nospace() << Tag << "Show Error description changed : " << (changes.value(Key::ShowErrorDesc).toBool() ? "YES" : "NO");
             m.m_screens.setShowErrorDesc(m.showErrorDesc());
             emit m.showErrorDescChanged();
         }},
        {Key::ScreenSaverBg, [](GUIManager &m, const QVariantMap &changes) {
             qInfo().noquote().nospace() << Tag << "Screen-saver background changed : " << changes.value(Key::ScreenSaverBg).toString();
             emit m.screenSaverBgChanged();
         }},
        {Key::ScreenSaverImg, [](GUIManager &m, const QVariantMap &changes) {
             qInfo().noquote().nospace() << Tag << "Screen-saver image changed : " << changes.value(Key::ScreenSaverImg).toString();
             emit m.screenSaverImgChanged();
         }},
        {Key::AnimSwitchSec, [](GUIManager &m, const QVariantMap &changes) {
             qInfo().noquote().nospace() << Tag << "GIFs animation changed : " << changes.value(Key::AnimSwitchSec).toInt() << " msec(s)";
             emit m.animSwitchSecChanged();
         }},
        {Key::Rotation, [](GUIManager &m, const QVariantMap &) {
             if (!m.m_display.updateRotation())
                 return;
             qInfo().noquote().nospace() << Tag << "Rotation changed : " << m.m_display.rotation() << " deg";
             emit m.rotationChanged();
         }},
        {LogGroup, [](GUIManager &m, const QVariantMap &) {
             qInfo().noquote().nospace() << Tag << "Log configuration changed. Applying.";
             m.initLog();
         }},
        {Key::MqttBase, [](GUIManager &m, const QVariantMap &) { m.m_remoteConfig.onBaseChanged(); }},
        {MqttGroup, [](GUIManager &m, const QVariantMap &) {
             qInfo().noquote().nospace() << Tag << "MQTT configuration changed. Applying.";
             m.initMqtt();
         }},
        // A reconnection subscribes to the bridge's base anyway.
        {Key::BridgeBase, [](GUIManager &m, const QVariantMap &changes) {
             if (!SettingReaction{MqttGroup, nullptr}.reachedBy(changes))
                 m.m_remoteConfig.onBridgeBaseChanged();
         }},
    };
    return reactions;
}

QStringList GUIManager::reactionKeys()
{
    QStringList keys;
    for (const SettingReaction &reaction : settingReactions())
        keys << reaction.key;
    return keys;
}

void GUIManager::onConfigChanged(const QVariantMap &changes)
{
    qDebug().noquote().nospace() << Tag << "Config changed : " << maskedJson(changes);
    m_remoteConfig.countSecretWrites(changes);
    for (const SettingReaction &reaction : settingReactions()) {
        if (reaction.reachedBy(changes))
            reaction.run(*this, changes);
    }
    m_remoteConfig.publishConfig();
}

void GUIManager::onConfigFileChanged()
{
    qWarning().noquote().nospace() << Tag << "WARN: Configuration file changed!";
    m_config.print();
}

// ---------------------------------------------------------------------------------------------
// Language

void GUIManager::setLanguage(const QString &language)
{
    if (!m_language.switchTo(language))
        return;
    m_config.set(Key::Locale, language);
    emit languageChanged();
}

// ---------------------------------------------------------------------------------------------
// Device id

void GUIManager::setDeviceId(const QString &deviceId)
{
    m_identity.setDeviceId(deviceId);
}

void GUIManager::saveDeviceIdRequest(const QString &deviceId)
{
    qInfo().noquote().nospace() << Tag << "Save Device Id request : " << deviceId;
    setDeviceId(deviceId);
    setIdleScreen();
}

// ---------------------------------------------------------------------------------------------
// Maintenance session

void GUIManager::settingsLoginRequest(const QString &pin)
{
    m_session.loginRequest(pin);
}

void GUIManager::settingsLogoutRequest()
{
    m_session.logoutRequest();
}

void GUIManager::onSessionActiveChanged()
{
    m_screens.setSessionOpen(m_session.sessionActive());
    if (m_session.sessionActive()) {
        const User *user = m_session.user();
        m_eventLog.push(new EventLogin(user ? user->id : 0, user ? user->firstName : QString(),
                                       user ? user->lastName : QString()));
    } else {
        setIdleScreen();
        m_eventLog.push(new EventLogout);
    }
    publishStatus();
}

void GUIManager::onSessionLockedChanged()
{
    if (m_session.locked())
        m_eventLog.push(new EventLoginLocked(SessionManager::MaxWrongPins, m_session.lockSecondsLeft()));
}
