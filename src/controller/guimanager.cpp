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


// Screen choice, own topics ("<base>/info", "/status", "/config", answered on "/info/get",
// "/status/get", "/config/get"; settings taken from "/config/set"), configuration reactions
// and language. "<base>/fleet/config", published beside "/config", is the copy the
// bridge takes to the depot: every secret value replaced by a count of its writes.

namespace {

const char Tag[] = "[GUIManager] ";

const QString &ValidSound = tones::Valid;
const QString &InvalidSound = tones::Invalid;
const QString TranslationFile = QStringLiteral(":/qml/translations/Tessivo_el_GR.qm");

// How long a result page stays before the idle screen returns.
constexpr int ResultScreenMs = 3000;
// Time to type the PIN before the login page gives up.
constexpr int LoginScreenMs = 15000;
// Reboot, shutdown and exit pages; the system normally goes away before this ends.
constexpr int GoingDownScreenMs = 30000;
// The first page while the services report in.
constexpr int StartupScreenMs = 10000;

// The requests the application answers, below its base topic.
const char *const OwnRequestSuffixes[] = {"/info/get", "/status/get", "/config/get", "/config/set"};

// The longest interval a timer is armed with (about 23 days), leaving room in its millisecond
// range for its own rounding.
constexpr qint64 LongestTimerMs = 2000000000;

// Deny reasons that mean "validated already" rather than "refused".
constexpr int TicketAlreadyValidated = 103;
constexpr int CardAlreadyValidated = 207;

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
    , m_validator(m_mqtt, config.get(QStringLiteral("topics/blm")).toString())
    , m_board(m_mqtt, config.get(QStringLiteral("topics/board")).toString())
    , m_inspector(m_mqtt, config.get(QStringLiteral("topics/inspector")).toString())
    , m_network(m_mqtt, config.get(QStringLiteral("topics/network")).toString())
    , m_update(m_mqtt, config.get(QStringLiteral("topics/device")).toString())
    , m_clock(m_mqtt, config.get(QStringLiteral("topics/device")).toString())
    , m_session(config)
    , m_eventLog(config, eventLogFile)
    , m_identity(config)
    , m_diagnostics(m_identity, m_board, m_network, m_validator)
    , m_brokerTrial(config)
    , m_maintenanceBarcode(m_session, m_validator, m_network, m_inspector, m_board)
    , m_power(m_board, m_inspector, m_session, m_eventLog, [this] { return shutdownDelaySec(); })
{
    m_base = baseTopic();
    m_rootContext = m_engine.rootContext();
    m_screenTimer.setSingleShot(true);
    m_displayOffTimer.setSingleShot(true);
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
    setLanguage(m_config.get(QStringLiteral("gui/locale")).toString());
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
    logger->setLevel(m_config.get(QStringLiteral("log/level")).toInt());
    logger->setStderr(m_config.get(QStringLiteral("log/stderr")).toBool());
    logger->setSyslog(m_config.get(QStringLiteral("log/syslog")).toBool());
    logger->setColor(m_config.get(QStringLiteral("log/color")).toBool());
}

void GUIManager::initConfig()
{
    connect(&m_config, &Config::configChanged, this, &GUIManager::onConfigChanged);
    connect(&m_config, &Config::configFileChanged, this, &GUIManager::onConfigFileChanged);
    m_config.print();
    // Before the scene: its first frame is already drawn at the panel's angle.
    updateRotation();
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

    m_rootContext->setContextProperty(QStringLiteral("manager"), this);
    m_rootContext->setContextProperty(QStringLiteral("board"), &m_board);
    m_rootContext->setContextProperty(QStringLiteral("inspector"), &m_inspector);
    m_rootContext->setContextProperty(QStringLiteral("transaction"), Transaction().toMap());
    m_rootContext->setContextProperty(QStringLiteral("eventLogManager"), &m_eventLog);
    m_rootContext->setContextProperty(QStringLiteral("network"), &m_network);
    m_rootContext->setContextProperty(QStringLiteral("validatorManager"), &m_validator);

    connect(&m_screenTimer, &QTimer::timeout, this, &GUIManager::onScreenTimeout);

    setScreen(QStringLiteral("Busy"), StartupScreenMs);
    setMessage(tr("Initializing"));
}

void GUIManager::initMqtt()
{
    disconnect(&m_mqtt, &manager::MqttClient::connected, this, &GUIManager::onMqttConnected);
    disconnect(&m_mqtt, &manager::MqttClient::disconnected, this, &GUIManager::onMqttDisconnected);
    disconnect(&m_mqtt, &manager::MqttClient::error, this, &GUIManager::onMqttError);
    disconnect(&m_mqtt, &manager::MqttClient::received, this, &GUIManager::processMqttMessage);
    connect(&m_mqtt, &manager::MqttClient::connected, this, &GUIManager::onMqttConnected);
    connect(&m_mqtt, &manager::MqttClient::disconnected, this, &GUIManager::onMqttDisconnected);
    connect(&m_mqtt, &manager::MqttClient::error, this, &GUIManager::onMqttError);
    connect(&m_mqtt, &manager::MqttClient::received, this, &GUIManager::processMqttMessage);

    m_mqtt.setClientId(QCoreApplication::applicationName() + QLatin1Char('_')
                       + QString::number(QCoreApplication::applicationPid()));
    m_mqtt.setWillMessage(QByteArrayLiteral("{\"service\": false}"));
    m_mqtt.setWillTopic(baseTopic() + QStringLiteral("/status"));
    m_mqtt.setHostname(m_config.get(QStringLiteral("mqtt/host")).toString());
    m_mqtt.setPort(m_config.get(QStringLiteral("mqtt/port")).toUInt());
    m_mqtt.setUsername(m_config.get(QStringLiteral("mqtt/username")).toString());
    m_mqtt.setPassword(m_config.get(QStringLiteral("mqtt/password")).toString());
    m_mqtt.connect();
    setMessage(QStringLiteral("Connecting"));
}

void GUIManager::initManagers()
{
    connect(&m_validator, &manager::Validator::statusChanged, this, &GUIManager::onValidatorStatusChanged);
    connect(&m_validator, &manager::Validator::cardDetected, this, &GUIManager::onCardDetected);
    connect(&m_validator, &manager::Validator::cardRemoved, this, &GUIManager::onCardRemoved);
    connect(&m_validator, &manager::Validator::cardRetry, this, &GUIManager::onCardRetry);
    connect(&m_validator, &manager::Validator::reasonChanged, this, &GUIManager::onValidatorReasonChanged);
    connect(&m_validator, &manager::Validator::ticketValidated, this, &GUIManager::onTicketValidated);
    connect(&m_validator, &manager::Validator::maintenanceBarcodeScanned, &m_maintenanceBarcode,
            &MaintenanceBarcode::onScanned);
    connect(&m_maintenanceBarcode, &MaintenanceBarcode::configurationApplied, this,
            &GUIManager::barcodeConfigurationApplied);
    connect(&m_maintenanceBarcode, &MaintenanceBarcode::configurationFailed, this,
            &GUIManager::barcodeConfigurationFailed);
    connect(&m_power, &PowerControl::ignitionChanged, this, &GUIManager::onIgnitionChanged);
    connect(&m_session, &SessionManager::accessGranted, this, &GUIManager::settingsAccessGranted);
    connect(&m_session, &SessionManager::accessDenied, this, &GUIManager::settingsAccessDenied);
    connect(&m_session, &SessionManager::expired, this, &GUIManager::setIdleScreen);
    connect(&m_session, &SessionManager::sessionActiveChanged, this, &GUIManager::onSessionActiveChanged);
    connect(&m_session, &SessionManager::lockedChanged, this, &GUIManager::onSessionLockedChanged);
    connect(&m_displayOffTimer, &QTimer::timeout, this, &GUIManager::onDisplayOffTimeout);
    connect(this, &GUIManager::screenChanged, this, &GUIManager::onScreenChanged);
    connect(&m_inspector, &manager::Inspector::systemRebootStarted, this, &GUIManager::onSystemRebootStarted);
    connect(&m_inspector, &manager::Inspector::systemShutdownStarted, this, &GUIManager::onSystemShutdownStarted);
}

// ---------------------------------------------------------------------------------------------
// Own topics

QString GUIManager::baseTopic() const
{
    return m_config.get(QStringLiteral("mqtt/base")).toString();
}

QStringList GUIManager::ownBases() const
{
    QStringList bases{baseTopic()};
    const QString bridged = m_config.get(QStringLiteral("bridge/base")).toString();
    if (!bridged.isEmpty() && bridged != bases.first())
        bases << bridged;
    return bases;
}

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

void GUIManager::subscribeToTopics()
{
    const QStringList bases = ownBases();
    for (const QString &old : qAsConst(m_subscribedBases)) {
        if (bases.contains(old))
            continue;
        // A base no longer ours: its requests go unanswered, and its retained status would
        // tell every later subscriber that an application still answers there.
        for (const char *suffix : OwnRequestSuffixes)
            m_mqtt.unsubscribe(old + QLatin1String(suffix));
        m_mqtt.publish(QByteArray(), old + QStringLiteral("/status"), 0, true);
    }
    m_subscribedBases = bases;
    // The client holds one entry per filter: subscribing again on every connection adds nothing.
    for (const QString &base : bases) {
        for (const char *suffix : OwnRequestSuffixes)
            m_mqtt.subscribe(base + QLatin1String(suffix), 0);
    }
}

void GUIManager::publishInfo()
{
    const QJsonObject info{{QStringLiteral("version"), QCoreApplication::applicationVersion()}};
    for (const QString &base : ownBases())
        m_mqtt.publish(QJsonDocument(info).toJson(QJsonDocument::Indented), base + QStringLiteral("/info"), 0, false);
}

void GUIManager::publishStatus()
{
    const QJsonObject status{{QStringLiteral("technician"), m_session.sessionActive()},
                             {QStringLiteral("service"), true}};
    // Retained like the last will on the same topic, so that the live status replaces a will
    // left by an earlier crash instead of leaving every later subscriber told we are down.
    for (const QString &base : ownBases())
        m_mqtt.publish(QJsonDocument(status).toJson(QJsonDocument::Indented), base + QStringLiteral("/status"), 0, true);
}

void GUIManager::publishConfig()
{
    QJsonObject json = m_config.toJson();
    // Every client of the broker may read this topic: the broker password stays out of it,
    // and so does the way back of a broker trial, which holds the previous one.
    QJsonObject mqtt = json.value(QStringLiteral("mqtt")).toObject();
    mqtt.remove(QStringLiteral("password"));
    json.insert(QStringLiteral("mqtt"), mqtt);
    json.remove(QStringLiteral("trial"));
    const QStringList bases = ownBases();
    const QByteArray local = QJsonDocument(json).toJson(QJsonDocument::Indented);
    for (const QString &base : bases)
        m_mqtt.publish(local, base + QStringLiteral("/config"), 0, false);

    // Local peers read the PIN from "/config"; what leaves the vehicle holds no secret at all,
    // only how often each was written, so that the depot can tell its change was taken.
    QJsonObject writes;
    for (auto group = json.begin(); group != json.end(); ++group) {
        QJsonObject members = group.value().toObject();
        for (const QString &name : members.keys()) {
            const QString key = group.key() + QLatin1Char('/') + name;
            if (secrets::isSecretName(key)) {
                members.remove(name);
                writes.insert(key, m_secretWrites.value(key));
            }
        }
        group.value() = members;
    }
    json.insert(QStringLiteral("secretWrites"), writes);
    const QByteArray depot = QJsonDocument(json).toJson(QJsonDocument::Indented);
    for (const QString &base : bases)
        m_mqtt.publish(depot, base + QStringLiteral("/fleet/config"), 0, false);
}

void GUIManager::processMqttMessage(const QByteArray &data, const QByteArray &from)
{
    bool own = false;
    for (const QString &base : ownBases())
        own = own || from.contains(base.toUtf8());
    if (!own)
        return;
    qInfo().noquote().nospace() << Tag << "Message received : " << QString::fromUtf8(from);
    if (QLoggingCategory::defaultCategory()->isDebugEnabled())
        qDebug().noquote().nospace() << Tag << "Data : " << secrets::maskedPayload(data);

    const QJsonDocument document = QJsonDocument::fromJson(data);
    if (from.contains("/info/get"))
        publishInfo();
    else if (from.contains("/status/get"))
        publishStatus();
    else if (from.contains("/config/get"))
        publishConfig();
    else if (from.contains("/config/set")) {
        const QJsonObject accepted = acceptableConfiguration(document.object());
        // A secret taken over MQTT counts even when it equals the stored one: the sender
        // cannot see the value, only that its write arrived and was accepted.
        for (auto group = accepted.constBegin(); group != accepted.constEnd(); ++group) {
            const QJsonObject members = group.value().toObject();
            for (auto member = members.constBegin(); member != members.constEnd(); ++member) {
                const QString key = group.key() + QLatin1Char('/') + member.key();
                if (secrets::isSecretName(key))
                    ++m_secretWrites[key];
            }
        }
        m_brokerTrial.keepWayBack(accepted);
        m_takingRemoteSettings = true;
        m_config.fromJson(accepted);
        m_takingRemoteSettings = false;
        m_brokerTrial.settle();
    }
}

// Remote settings that would leave the application unusable (unable to reach its broker, or
// to store a value its readers understand) are refused, key by key, with a warning.
QJsonObject GUIManager::acceptableConfiguration(const QJsonObject &json) const
{
    QJsonObject accepted;
    for (auto group = json.constBegin(); group != json.constEnd(); ++group) {
        if (!group.value().isObject())
            continue;
        const QJsonObject members = group.value().toObject();
        QJsonObject kept;
        for (auto member = members.constBegin(); member != members.constEnd(); ++member) {
            const QString key = group.key() + QLatin1Char('/') + member.key();
            const QJsonValue value = member.value();
            // The way back of a broker trial and the base the bridge carries are the
            // application's own bookkeeping.
            const bool own = group.key() == QLatin1String("trial") || group.key() == QLatin1String("bridge");
            if (!own && settingtable::accepts(key, value)) {
                kept.insert(member.key(), value);
            } else {
                // The value as it came, in JSON notation ("1884" with its quotes); never a secret.
                const QString shown = secrets::isSecretName(key)
                        ? secrets::Mask
                        : QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
                qWarning().noquote().nospace() << Tag << "WARN: Refusing configuration value : " << key << " = " << shown;
            }
        }
        accepted.insert(group.key(), kept);
    }
    return accepted;
}

// ---------------------------------------------------------------------------------------------
// Screens

void GUIManager::setMessage(const QString &message)
{
    if (m_message == message)
        return;
    m_message = message;
    emit messageChanged();
}

void GUIManager::setScreen(const QString &value)
{
    if (m_screen == value)
        return;
    qInfo().noquote().nospace() << Tag << "Setting screen : " << value;
    m_screen = value;
    m_screenTimer.stop();
    emit screenChanged();
}

void GUIManager::setScreen(const QString &value, int timeout)
{
    qInfo().noquote().nospace() << Tag << "Setting screen : " << value << " (timeout=" << timeout << " msec)";
    m_screenTimer.start(timeout);
    m_screen = value;
    emit screenChanged();
}

void GUIManager::onScreenTimeout()
{
    qInfo().noquote().nospace() << Tag << "Screen timeout : " << m_screen;
    setIdleScreen();
}

void GUIManager::setIdleScreen()
{
    m_screenTimer.stop();
    if (deviceId().isEmpty()) {
        setScreen(QStringLiteral("InitPage"));
        return;
    }
    if (m_session.sessionActive())
        return;

    const QString status = m_validator.status();
    if (status == QLatin1String("init")) {
        setScreen(QStringLiteral("Busy"));
        setMessage(tr("Please Wait"));
    } else if (status == QLatin1String("out-of-service")) {
        setScreen(QStringLiteral("OutOfService"));
        m_validator.disableRfid();
        m_validator.disableBarcode();
    } else if (status == QLatin1String("online") || status == QLatin1String("degraded")) {
        m_validator.enableRfid();
        m_validator.enableBarcode();
        setScreen(QStringLiteral("ScanScreens"));
    } else {
        setOutOfOrderScreen(validatorReason());
        m_validator.disableRfid();
        m_validator.disableBarcode();
    }
}

QString GUIManager::validatorReason() const
{
    QString reason = m_validator.reasonCode();
    if (showErrorDesc())
        reason += QLatin1Char('\n') + m_validator.reason();
    return reason;
}

void GUIManager::setOutOfOrderScreen(const QString &message)
{
    if (m_screen == QLatin1String("Login") || !m_board.ignition() || m_session.sessionActive())
        return;
    setScreen(QStringLiteral("OutOfOrder"));
    setMessage(message);
}

void GUIManager::setMaintenanceScreen()
{
    if (m_session.sessionActive())
        setScreen(QStringLiteral("Settings"));
    else if (m_screen == QLatin1String("Login"))
        setIdleScreen();
    else
        setScreen(QStringLiteral("Login"), LoginScreenMs);
}

void GUIManager::onValidatorStatusChanged()
{
    qInfo().noquote().nospace() << Tag << "Validator status changed : " << m_validator.status();
    setIdleScreen();
}

void GUIManager::onValidatorReasonChanged()
{
    qWarning().noquote().nospace() << Tag << "Validator reason changed : " << m_validator.reasonCode() << " "
                                   << m_validator.reason();
    if (m_validator.status() != QLatin1String("init"))
        setMessage(validatorReason());
}

void GUIManager::onTicketValidated(const Transaction &transaction)
{
    // The tone and the page go out first; the three log lines and the record for the scene come
    // right after them. Formatting the record's dump and handing it to the scene (which works out
    // the result pages' texts) take most of this handler's time, and the passenger's tone does not
    // wait for either. The page still never shows the previous record: nothing is drawn before
    // this handler returns.
    if (!m_session.sessionActive()) {
        if (transaction.valid()) {
            m_inspector.audioPlay(ValidSound);
            setScreen(QStringLiteral("Valid"), ResultScreenMs);
        } else if (transaction.denyReasonId() == TicketAlreadyValidated
                   || transaction.denyReasonId() == CardAlreadyValidated) {
            m_inspector.audioPlay(InvalidSound);
            setScreen(QStringLiteral("AlreadyValid"), ResultScreenMs);
        } else {
            m_inspector.audioPlay(InvalidSound);
            setScreen(QStringLiteral("Invalid"), ResultScreenMs);
        }
    }

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

void GUIManager::onCardRetry()
{
    qWarning().noquote().nospace() << Tag << "Validator card retry";
    if (m_session.sessionActive())
        return;
    m_inspector.audioPlay(InvalidSound);
    setScreen(QStringLiteral("Retry"), ResultScreenMs);
}

void GUIManager::onScreenChanged()
{
    const int minutes = displayOffMin();
    // 0 keeps the display lit; so does a negative value, which only a hand-edited file can hold.
    if (minutes <= 0)
        return;
    if (m_screen == QLatin1String("OutOfOrder") || m_screen == QLatin1String("OutOfService")) {
        qInfo().noquote().nospace() << Tag << "Staring Display OFF timer : " << minutes << " min(s)";
        // The Display page allows 60 days, past a timer's millisecond range: worked out in 64
        // bits and held at the longest interval a timer takes.
        m_displayOffTimer.start(int(qMin<qint64>(qint64(minutes) * m_displayOffUnitMs, LongestTimerMs)));
        return;
    }
    if (m_displayOffTimer.isActive()) {
        qInfo().noquote().nospace() << Tag << "Stopping Display OFF timer.";
        m_displayOffTimer.stop();
    }
    if (!m_board.peripheralPower(QStringLiteral("display"))) {
        qInfo().noquote().nospace() << Tag << "Turning on Display.";
        m_board.setPeripheralPower(QStringLiteral("display"), true);
    }
}

void GUIManager::onDisplayOffTimeout()
{
    qWarning().noquote().nospace() << Tag << "WARN: Turning off Display due to inactivity.";
    m_board.setPeripheralPower(QStringLiteral("display"), false);
}

// After the power side of the change: the event, the session's end, the shutdown scheduled.
void GUIManager::onIgnitionChanged(bool on)
{
    if (on)
        setIdleScreen();
    else
        setScreen(QStringLiteral("ScreenSaver"));
}

void GUIManager::shutdownRequest()
{
    setScreen(QStringLiteral("Busy"), GoingDownScreenMs);
    setMessage(tr("Shutting down"));
    m_power.shutdown();
}

void GUIManager::rebootRequest()
{
    setScreen(QStringLiteral("Busy"), GoingDownScreenMs);
    setMessage(tr("Rebooting"));
    m_power.reboot();
}

void GUIManager::exitRequest()
{
    setScreen(QStringLiteral("Busy"), GoingDownScreenMs);
    setMessage(tr("Exiting"));
    m_power.exit();
}

void GUIManager::onSystemRebootStarted()
{
    setScreen(QStringLiteral("Busy"), GoingDownScreenMs);
    setMessage(tr("Rebooting"));
}

void GUIManager::onSystemShutdownStarted()
{
    setScreen(QStringLiteral("Busy"), GoingDownScreenMs);
    setMessage(tr("Shutting down"));
}

// ---------------------------------------------------------------------------------------------
// Configuration

bool GUIManager::showCursor() const
{
    return m_config.get(QStringLiteral("gui/showCursor")).toBool();
}

bool GUIManager::showErrorDesc() const
{
    return m_config.get(QStringLiteral("gui/showErrorDesc")).toBool();
}

int GUIManager::displayOffMin() const
{
    return m_config.get(QStringLiteral("gui/displayOffMin")).toInt();
}

int GUIManager::shutdownDelaySec() const
{
    return m_config.get(QStringLiteral("gui/shutdownDelaySec")).toInt();
}

QColor GUIManager::screenSaverBg() const
{
    return QColor(m_config.get(QStringLiteral("gui/screenSaverBg")).toString());
}

QString GUIManager::screenSaverImg() const
{
    return m_config.get(QStringLiteral("gui/screenSaverImg")).toString();
}

int GUIManager::animSwitchSec() const
{
    return m_config.get(QStringLiteral("gui/animSwitchSec")).toInt();
}

void GUIManager::setShowCursor(bool show)
{
    if (show != showCursor())
        m_config.set(QStringLiteral("gui/showCursor"), show);
}

void GUIManager::setShowErrorDesc(bool show)
{
    if (show != showErrorDesc())
        m_config.set(QStringLiteral("gui/showErrorDesc"), show);
}

int GUIManager::settingMinimum(const QString &key) const
{
    const settingtable::Setting *setting = settingtable::find(key);
    return setting ? int(setting->minimum) : 0;
}

int GUIManager::settingMaximum(const QString &key) const
{
    const settingtable::Setting *setting = settingtable::find(key);
    return setting ? int(setting->maximum) : 0;
}

// The pages stay within the table's ranges; anything else calling a setter is refused as a
// remote value would be.
bool GUIManager::inRange(const QString &key, int value) const
{
    if (settingtable::inRange(key, value))
        return true;
    qWarning().noquote().nospace() << Tag << "WARN: Refusing configuration value : " << key << " = " << value;
    return false;
}

void GUIManager::setDisplayOffMin(int minutes)
{
    if (minutes != displayOffMin() && inRange(QStringLiteral("gui/displayOffMin"), minutes))
        m_config.set(QStringLiteral("gui/displayOffMin"), minutes);
}

void GUIManager::setShutdownDelaySec(int seconds)
{
    if (seconds != shutdownDelaySec() && inRange(QStringLiteral("gui/shutdownDelaySec"), seconds))
        m_config.set(QStringLiteral("gui/shutdownDelaySec"), seconds);
}

void GUIManager::setAnimSwitchSec(int value)
{
    if (value != animSwitchSec() && inRange(QStringLiteral("gui/animSwitchSec"), value))
        m_config.set(QStringLiteral("gui/animSwitchSec"), value);
}

void GUIManager::setRotation(int degrees)
{
    if (degrees != rotation() && inRange(QStringLiteral("gui/rotation"), degrees))
        m_config.set(QStringLiteral("gui/rotation"), degrees);
}

bool GUIManager::updateRotation()
{
    const QVariant value = m_config.get(QStringLiteral("gui/rotation"));
    bool ok = false;
    int degrees = value.toInt(&ok);
    if (!ok || !settingtable::inRange(QStringLiteral("gui/rotation"), degrees)) {
        qWarning().noquote().nospace() << Tag << "WARN: Invalid rotation : " << value.toString() << ", using 0";
        degrees = 0;
    }
    if (degrees == m_rotation)
        return false;
    m_rotation = degrees;
    return true;
}

void GUIManager::onConfigChanged(const QVariantMap &changes)
{
    qDebug().noquote().nospace() << Tag << "Config changed : " << maskedJson(changes);
    if (!m_takingRemoteSettings) {
        for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
            if (secrets::isSecretName(it.key()))
                ++m_secretWrites[it.key()];
        }
    }

    static const QRegularExpression logKey(QStringLiteral("log\\/.+"));
    static const QRegularExpression mqttKey(QStringLiteral("mqtt\\/.+"));
    auto anyKeyMatches = [&changes](const QRegularExpression &expression) {
        for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
            if (expression.match(it.key()).hasMatch())
                return true;
        }
        return false;
    };
    auto value = [&changes](const char *key) { return changes.value(QLatin1String(key)); };

    // Every changed row reacts, once and in this order: a file edit or one "/config/set" may
    // change several settings, and each must be in force when the configuration is published.
    if (changes.contains(QStringLiteral("gui/deviceId"))) {
        qInfo().noquote().nospace() << Tag << "Device id changed. Re-loading";
        loadDeviceId();
    }
    if (changes.contains(QStringLiteral("gui/showCursor"))) {
        qInfo().noquote().nospace() << Tag << "Cursor changed : " << (value("gui/showCursor").toBool() ? "visible" : "hidden");
        emit showCursorChanged();
    }
    if (changes.contains(QStringLiteral("gui/displayOffMin"))) {
        qInfo().noquote().nospace() << Tag << "Display OFF interval changed : " << value("gui/displayOffMin").toInt() << " min(s)";
        emit displayOffMinChanged();
    }
    if (changes.contains(QStringLiteral("gui/shutdownDelaySec"))) {
        qInfo().noquote().nospace() << Tag << "Shutdown delay changed : " << value("gui/shutdownDelaySec").toInt() << " sec(s)";
        updateBoardShutdownDelay();
        emit shutdownDelaySecChanged();
    }
    if (changes.contains(QStringLiteral("gui/locale")))
        setLanguage(value("gui/locale").toString());
    if (changes.contains(QStringLiteral("gui/showErrorDesc"))) {
        qInfo().noquote().nospace() << Tag << "Show Error description changed : " << (value("gui/showErrorDesc").toBool() ? "YES" : "NO");
        setMessage(validatorReason());
        emit showErrorDescChanged();
    }
    if (changes.contains(QStringLiteral("gui/screenSaverBg"))) {
        qInfo().noquote().nospace() << Tag << "Screen-saver background changed : " << value("gui/screenSaverBg").toString();
        emit screenSaverBgChanged();
    }
    if (changes.contains(QStringLiteral("gui/screenSaverImg"))) {
        qInfo().noquote().nospace() << Tag << "Screen-saver image changed : " << value("gui/screenSaverImg").toString();
        emit screenSaverImgChanged();
    }
    if (changes.contains(QStringLiteral("gui/animSwitchSec"))) {
        qInfo().noquote().nospace() << Tag << "GIFs animation changed : " << value("gui/animSwitchSec").toInt() << " msec(s)";
        emit animSwitchSecChanged();
    }
    if (changes.contains(QStringLiteral("gui/rotation")) && updateRotation()) {
        qInfo().noquote().nospace() << Tag << "Rotation changed : " << m_rotation << " deg";
        emit rotationChanged();
    }
    if (anyKeyMatches(logKey)) {
        qInfo().noquote().nospace() << Tag << "Log configuration changed. Applying.";
        initLog();
    }
    if (changes.contains(QStringLiteral("mqtt/base"))) {
        // The depot's bridge carries the base it was written for: that one keeps answering
        // until the file names the bridge's new base (tessivo-bridge-setup writes it).
        if (!m_config.get(QStringLiteral("bridge/base")).isValid() && !m_base.isEmpty())
            m_config.keep({{QStringLiteral("bridge/base"), m_base}});
        m_base = baseTopic();
    }
    if (anyKeyMatches(mqttKey)) {
        qInfo().noquote().nospace() << Tag << "MQTT configuration changed. Applying.";
        initMqtt();
    } else if (changes.contains(QStringLiteral("bridge/base")) && m_mqtt.state() == manager::MqttTransport::Connected) {
        subscribeToTopics();
    }
    publishConfig();
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
    if (language == m_language)
        return;
    qInfo().noquote().nospace() << Tag << "Language changed : " << language;

    if (!m_translatorLoaded) {
        qInfo().noquote().nospace() << Tag << "Loading translation file : " << TranslationFile;
        if (!m_translator.load(TranslationFile)) {
            qCritical().noquote().nospace() << Tag << "ERROR: Failed to load translation file";
            return;
        }
        m_translatorLoaded = true;
    }

    const QLocale locale(language);
    if (locale.language() == QLocale::English) {
        QCoreApplication::removeTranslator(&m_translator);
    } else if (!QCoreApplication::installTranslator(&m_translator)) {
        qCritical().noquote().nospace() << Tag << "ERROR: Failed to install translator";
        return;
    }
    QLocale::setDefault(locale);

    m_language = language;
    m_config.set(QStringLiteral("gui/locale"), language);
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
