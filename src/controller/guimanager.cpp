#include "guimanager.h"

#include "app/config.h"
#include "app/logger.h"
#include "app/runtimepaths.h"
#include "app/secrets.h"
#include "app/tintedicons.h"
#include "maintenance/event.h"
#include "maintenance/user.h"
#include "network/connection.h"
#include "network/ethernet.h"
#include "network/ipv4.h"
#include "remoteconfig.h"
#include "settingtable.h"
#include "validation/transaction.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QLocale>
#include <QLoggingCategory>
#include <QQmlContext>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextStream>
#include <QUrl>

#include <memory>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>


// Screen choice, configuration reactions, device id and language. The own topics and the
// rules for remote settings are RemoteConfig's.

namespace {

namespace Key = settingtable::key;

const char Tag[] = "[GUIManager] ";

const QString ValidSound = QStringLiteral("/opt/orvo/tessivo/Valid.wav");
const QString InvalidSound = QStringLiteral("/opt/orvo/tessivo/Invalid.wav");
const QString TranslationFile = QStringLiteral(":/qml/translations/Tessivo_el_GR.qm");

// How long a result page stays before the idle screen returns.
constexpr int ResultScreenMs = 3000;
// Time to type the PIN before the login page gives up.
constexpr int LoginScreenMs = 15000;
// Reboot, shutdown and exit pages; the system normally goes away before this ends.
constexpr int GoingDownScreenMs = 30000;
// The first page while the services report in.
constexpr int StartupScreenMs = 10000;
// Lets the "Exiting" page reach the screen before the event loop ends.
constexpr int ExitDelayMs = 2000;
// The board keeps its own power-off delay this much longer than ours, so that the system
// shuts down cleanly before the board cuts the power.
constexpr int BoardDelayMarginSec = 60;

// The longest interval a timer is armed with (about 23 days), leaving room in its millisecond
// range for its own rounding.
constexpr qint64 LongestTimerMs = 2000000000;

// A serial number is one short line; the file holding it is never near this.
constexpr int LargestSerialNumberFile = 4096;

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

// The path comes from the configuration, which the broker may set: only a small regular file is
// read, without blocking. A device (/dev/zero), a FIFO with no writer or a huge file would
// otherwise stop the scene for good, and again at every start, since the path is saved.
QByteArray readSerialNumberFile(const QString &fileName, QString *error)
{
    const QByteArray name = QFile::encodeName(fileName);
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return QByteArray();
    }
    QByteArray content;
    struct stat status;
    if (::fstat(fd, &status) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
    } else if (!S_ISREG(status.st_mode)) {
        *error = QStringLiteral("Not a regular file");
    } else if (status.st_size > LargestSerialNumberFile) {
        *error = QStringLiteral("Larger than %1 bytes").arg(LargestSerialNumberFile);
    } else {
        // One byte more than allowed tells a file that grew after the check.
        content.resize(LargestSerialNumberFile + 1);
        qint64 total = 0;
        while (total < content.size()) {
            const ssize_t count = ::read(fd, content.data() + total, size_t(content.size() - total));
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0) {
                *error = QString::fromLocal8Bit(std::strerror(errno));
                break;
            }
            if (count == 0)
                break;
            total += count;
        }
        content.truncate(int(total));
        if (error->isEmpty() && total > LargestSerialNumberFile)
            *error = QStringLiteral("Larger than %1 bytes").arg(LargestSerialNumberFile);
    }
    ::close(fd);
    return error->isEmpty() ? content : QByteArray();
}

} // namespace

GUIManager::GUIManager(Config &config, const QString &eventLogFile)
    : m_config(config)
    , m_validator(m_mqtt, config.get(Key::TopicBlm).toString())
    , m_board(m_mqtt, config.get(Key::TopicBoard).toString())
    , m_inspector(m_mqtt, config.get(Key::TopicInspector).toString())
    , m_network(m_mqtt, config.get(Key::TopicNetwork).toString())
    , m_update(m_mqtt, config.get(Key::TopicDevice).toString())
    , m_clock(m_mqtt, config.get(Key::TopicDevice).toString())
    , m_session(config)
    , m_eventLog(config, eventLogFile)
    , m_diagnostics(m_deviceId, m_board, m_network, m_validator)
    , m_brokerTrial(config)
    , m_remoteConfig(config, m_mqtt, m_session, m_brokerTrial)
{
    m_rootContext = m_engine.rootContext();
    m_screenTimer.setSingleShot(true);
    m_displayOffTimer.setSingleShot(true);

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
    disconnect(&m_mqtt, &manager::MqttClient::received, &m_remoteConfig, &RemoteConfig::processMqttMessage);
    connect(&m_mqtt, &manager::MqttClient::connected, this, &GUIManager::onMqttConnected);
    connect(&m_mqtt, &manager::MqttClient::disconnected, this, &GUIManager::onMqttDisconnected);
    connect(&m_mqtt, &manager::MqttClient::error, this, &GUIManager::onMqttError);
    connect(&m_mqtt, &manager::MqttClient::received, &m_remoteConfig, &RemoteConfig::processMqttMessage);

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
    connect(&m_validator, &manager::Validator::statusChanged, this, &GUIManager::onValidatorStatusChanged);
    connect(&m_validator, &manager::Validator::cardDetected, this, &GUIManager::onCardDetected);
    connect(&m_validator, &manager::Validator::cardRemoved, this, &GUIManager::onCardRemoved);
    connect(&m_validator, &manager::Validator::cardRetry, this, &GUIManager::onCardRetry);
    connect(&m_validator, &manager::Validator::reasonChanged, this, &GUIManager::onValidatorReasonChanged);
    connect(&m_validator, &manager::Validator::ticketValidated, this, &GUIManager::onTicketValidated);
    connect(&m_validator, &manager::Validator::maintenanceBarcodeScanned, this,
            &GUIManager::onMaintenanceBarcodeScanned);
    connect(&m_board, &manager::Board::ignitionChanged, this, &GUIManager::onIgnitionChanged);
    connect(&m_board, &manager::Board::delayShutdownForChanged, this, &GUIManager::updateBoardShutdownDelay);
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
    if (m_deviceId.isEmpty()) {
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

void GUIManager::onIgnitionChanged()
{
    if (m_board.ignition()) {
        m_eventLog.push(new Event(QStringLiteral("Board"), QStringLiteral("Ignition on"), QString(),
                                  QDateTime::currentDateTime()));
        m_inspector.abortShutdown();
        setIdleScreen();
    } else {
        m_eventLog.push(new Event(QStringLiteral("Board"), QStringLiteral("Ignition off"), QString(),
                                  QDateTime::currentDateTime()));
        m_session.logoutRequest();
        m_inspector.scheduleShutdown(shutdownDelaySec());
        setScreen(QStringLiteral("ScreenSaver"));
    }
}

void GUIManager::updateBoardShutdownDelay()
{
    const int wanted = shutdownDelaySec() + BoardDelayMarginSec;
    const int current = m_board.delayShutdownFor();
    if (current == wanted)
        return;
    qWarning().noquote().nospace() << Tag << "WARN: Updating board shutdown delay to : " << wanted
                                   << " sec(s) (prev=" << current << ")";
    m_board.setDelayShutdownFor(wanted);
}

void GUIManager::shutdownRequest()
{
    setScreen(QStringLiteral("Busy"), GoingDownScreenMs);
    setMessage(tr("Shutting down"));
    m_inspector.systemShutdown();
}

void GUIManager::rebootRequest()
{
    setScreen(QStringLiteral("Busy"), GoingDownScreenMs);
    setMessage(tr("Rebooting"));
    m_inspector.systemReboot();
}

void GUIManager::exitRequest()
{
    setScreen(QStringLiteral("Busy"), GoingDownScreenMs);
    setMessage(tr("Exiting"));
    QTimer::singleShot(ExitDelayMs, qApp, [] { QCoreApplication::exit(0); });
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
    return m_config.get(Key::ShowCursor).toBool();
}

bool GUIManager::showErrorDesc() const
{
    return m_config.get(Key::ShowErrorDesc).toBool();
}

int GUIManager::displayOffMin() const
{
    return m_config.get(Key::DisplayOffMin).toInt();
}

int GUIManager::shutdownDelaySec() const
{
    return m_config.get(Key::ShutdownDelaySec).toInt();
}

QColor GUIManager::screenSaverBg() const
{
    return QColor(m_config.get(Key::ScreenSaverBg).toString());
}

QString GUIManager::screenSaverImg() const
{
    return m_config.get(Key::ScreenSaverImg).toString();
}

int GUIManager::animSwitchSec() const
{
    return m_config.get(Key::AnimSwitchSec).toInt();
}

void GUIManager::setShowCursor(bool show)
{
    if (show != showCursor())
        m_config.set(Key::ShowCursor, show);
}

void GUIManager::setShowErrorDesc(bool show)
{
    if (show != showErrorDesc())
        m_config.set(Key::ShowErrorDesc, show);
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

int GUIManager::settingStep(const QString &key) const
{
    const settingtable::Setting *setting = settingtable::find(key);
    return setting ? int(setting->step) : 1;
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
    if (minutes != displayOffMin() && inRange(Key::DisplayOffMin, minutes))
        m_config.set(Key::DisplayOffMin, minutes);
}

void GUIManager::setShutdownDelaySec(int seconds)
{
    if (seconds != shutdownDelaySec() && inRange(Key::ShutdownDelaySec, seconds))
        m_config.set(Key::ShutdownDelaySec, seconds);
}

void GUIManager::setAnimSwitchSec(int value)
{
    if (value != animSwitchSec() && inRange(Key::AnimSwitchSec, value))
        m_config.set(Key::AnimSwitchSec, value);
}

void GUIManager::setRotation(int degrees)
{
    if (degrees != rotation() && inRange(Key::Rotation, degrees))
        m_config.set(Key::Rotation, degrees);
}

bool GUIManager::updateRotation()
{
    const QVariant value = m_config.get(Key::Rotation);
    bool ok = false;
    int degrees = value.toInt(&ok);
    if (!ok || !settingtable::inRange(Key::Rotation, degrees)) {
        qWarning().noquote().nospace() << Tag << "WARN: Invalid rotation : " << value.toString() << ", using 0";
        degrees = 0;
    }
    if (degrees == m_rotation)
        return false;
    m_rotation = degrees;
    return true;
}

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
             m.setMessage(m.validatorReason());
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
             if (!m.updateRotation())
                 return;
             qInfo().noquote().nospace() << Tag << "Rotation changed : " << m.m_rotation << " deg";
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
    m_config.set(Key::Locale, language);
    emit languageChanged();
}

// ---------------------------------------------------------------------------------------------
// Device id

void GUIManager::loadDeviceId()
{
    const QString fileName = m_config.get(Key::DeviceId).toString();
    qInfo().noquote().nospace() << Tag << "Loading device id from : " << fileName;
    QString error;
    const QByteArray content = readSerialNumberFile(fileName, &error);
    if (!error.isEmpty()) {
        qCritical().noquote().nospace() << Tag << "ERROR: Could not load device S/N from file : " << fileName << " ("
                                        << error << ")";
        return;
    }
    QTextStream stream(content);
    QString line;
    while (stream.readLineInto(&line)) {
        // A line of blanks is no number: the first line with something on it is.
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        m_deviceId = line;
        emit deviceIdChanged();
        break;
    }
}

bool GUIManager::saveDeviceId()
{
    const QString fileName = m_config.get(Key::DeviceId).toString();
    qInfo().noquote().nospace() << Tag << "Saving device id to : " << fileName;
    // Written beside the old file and renamed over it, so that a power cut leaves either the
    // old or the new number, never an empty or half-written file. Where the folder is not
    // writable the file is written in place.
    QSaveFile file(fileName);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) {
        qCritical().noquote().nospace() << Tag << "ERROR: Could not save device S/N to file : " << fileName << " ("
                                        << file.errorString() << ")";
        emit errorOccured(file.errorString());
        return false;
    }
    file.write(m_deviceId.toUtf8());
    if (!file.commit()) {
        qCritical().noquote().nospace() << Tag << "ERROR: Could not save device S/N to file : " << fileName << " ("
                                        << file.errorString() << ")";
        emit errorOccured(file.errorString());
        return false;
    }
    return true;
}

void GUIManager::setDeviceId(const QString &deviceId)
{
    if (deviceId == m_deviceId)
        return;
    qWarning().noquote().nospace() << Tag << "Device ID changed : " << deviceId;
    const QString previous = m_deviceId;
    m_deviceId = deviceId;
    // A number that cannot be kept is not taken: the validator would lose it at the next start,
    // and the serial-number page stays up, showing the failure, instead of going into service.
    if (!saveDeviceId()) {
        m_deviceId = previous;
        return;
    }
    emit deviceIdChanged();
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

// ---------------------------------------------------------------------------------------------
// Maintenance barcode

void GUIManager::onMaintenanceBarcodeScanned(const QJsonObject &data)
{
    qInfo().noquote().nospace() << Tag << "Maintenance Barcode scanned";
    if (!m_session.sessionActive()) {
        qWarning().noquote().nospace() << Tag << "WARN: Maintenance session is not active. Ignoring.";
        return;
    }

    QStringList applied;
    // Parts refused for what they hold (a URL or an address that is not one): nothing of them
    // is sent, and the technician is told which.
    QStringList refused;
    // Parts whose request could not be sent (no broker): the technician must not be told they
    // were applied.
    QStringList notSent;
    if (data.contains(QStringLiteral("validator"))) {
        const QString text = data.value(QStringLiteral("validator")).toObject().value(QStringLiteral("obc")).toString();
        const QUrl url = ValidatorConfig::brokerUrl(text);
        if (!url.isEmpty()) {
            qInfo().noquote().nospace() << Tag << "Applying Validator configuration";
            applied.append(QStringLiteral("OBC : %1").arg(secrets::maskedUrl(url)));
            m_validator.config()->setObuUrl(url);
            if (!m_validator.saveConfig())
                notSent.append(QStringLiteral("Validator configuration not sent"));
        } else {
            qWarning().noquote().nospace() << Tag << "WARN: OBC URL is not valid : " << secrets::maskedUrlText(text);
            refused.append(QStringLiteral("OBC URL is not valid : %1").arg(secrets::maskedUrlText(text)));
        }
    }

    const QJsonObject network = data.value(QStringLiteral("network")).toObject();
    if (network.contains(QStringLiteral("eth0"))) {
        const QJsonObject eth0 = network.value(QStringLiteral("eth0")).toObject();
        auto text = [&eth0](const char *name) { return eth0.value(QLatin1String(name)).toString(); };
        const QString method = text("method");
        const QString address = text("address");
        const QString netmask = text("netmask");
        const QString gateway = text("gateway");
        const QString dns0 = text("dns0");
        const QString dns1 = text("dns1");
        manager::Ethernet *ethernet = m_network.ethernet();
        if (ethernet->interface() == QLatin1String("eth0")) {
            applied.append(QStringLiteral("Method : %1").arg(method));
            applied.append(QStringLiteral("Address : %1").arg(address));
            applied.append(QStringLiteral("Netmask : %1").arg(netmask));
            applied.append(QStringLiteral("Gateway : %1").arg(gateway));
            applied.append(QStringLiteral("DNS #0 : %1").arg(dns0));
            applied.append(QStringLiteral("DNS #1 : %1").arg(dns1));
            const bool manual = method == QLatin1String("manual");
            const QString chosen = manual ? QStringLiteral("manual") : QStringLiteral("auto");
            const QString failure = ethernet->configFailure(chosen, address, netmask, gateway, dns0, dns1);
            if (!failure.isEmpty()) {
                // The record stays as the service reported it: the page shows nothing unsent.
                qWarning().noquote().nospace() << Tag << "WARN: Ethernet configuration not applied : " << failure;
                refused.append(failure);
            } else {
                ethernet->setMethod(chosen);
                IPv4 *config = ethernet->config();
                config->setAddress(manual ? address : QString());
                config->setMask(manual ? netmask : QString());
                config->setGateway(manual ? gateway : QString());
                config->setDns0(manual ? dns0 : QString());
                config->setDns1(manual ? dns1 : QString());
                qInfo().noquote().nospace() << Tag << "Applying Ethernet configuration to eth0";
                if (!ethernet->save())
                    notSent.append(QStringLiteral("Ethernet configuration not sent"));
            }
        } else {
            qWarning().noquote().nospace() << Tag << "WARN: Active ethernet interface is not 'eth0' : "
                                           << ethernet->interface();
        }
    }

    if (!refused.isEmpty() || !notSent.isEmpty()) {
        qWarning().noquote().nospace() << Tag << "WARN: Maintenance barcode not applied : "
                                       << (refused + notSent).join(QStringLiteral(", "));
        // A refused code gets no tone at all: no sign of success where nothing was sent.
        if (!notSent.isEmpty())
            m_inspector.audioPlay(InvalidSound);
        emit barcodeConfigurationFailed(refused + notSent + applied);
    } else if (!applied.isEmpty()) {
        m_inspector.audioPlay(ValidSound);
        m_board.setLedValid();
        emit barcodeConfigurationApplied(applied);
    }
}
