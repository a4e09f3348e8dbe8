#pragma once

#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

// Every configuration key the application knows, once: its built-in value, the kind of value
// it takes, for numbers the range, and whether it is a secret. The defaults of the store, the
// refusal of remote values on "/config/set", the setters, the settings pages' spin boxes and
// the masking of log lines and of the depot's copy all read this one table, so a page never
// offers what the broker path would refuse. A new key is one more row (and a name below when
// the controller reads it); what a change of it sets off is the controller's table of reactions.
namespace settingtable {

// The keys the controller reads by name.
namespace key {
inline const QString LogLevel = QStringLiteral("log/level");
inline const QString LogSyslog = QStringLiteral("log/syslog");
inline const QString LogStderr = QStringLiteral("log/stderr");
inline const QString LogColor = QStringLiteral("log/color");
inline const QString MqttHost = QStringLiteral("mqtt/host");
inline const QString MqttPort = QStringLiteral("mqtt/port");
inline const QString MqttUsername = QStringLiteral("mqtt/username");
inline const QString MqttPassword = QStringLiteral("mqtt/password");
inline const QString MqttBase = QStringLiteral("mqtt/base");
inline const QString SettingsPin = QStringLiteral("gui/settingsPin");
inline const QString ShowCursor = QStringLiteral("gui/showCursor");
inline const QString DeviceId = QStringLiteral("gui/deviceId");
inline const QString Locale = QStringLiteral("gui/locale");
inline const QString DisplayOffMin = QStringLiteral("gui/displayOffMin");
inline const QString ShutdownDelaySec = QStringLiteral("gui/shutdownDelaySec");
inline const QString ShowErrorDesc = QStringLiteral("gui/showErrorDesc");
inline const QString ScreenSaverBg = QStringLiteral("gui/screenSaverBg");
inline const QString ScreenSaverImg = QStringLiteral("gui/screenSaverImg");
inline const QString AnimSwitchSec = QStringLiteral("gui/animSwitchSec");
inline const QString Rotation = QStringLiteral("gui/rotation");
inline const QString TopicBarcode = QStringLiteral("topics/barcode");
inline const QString TopicBlm = QStringLiteral("topics/blm");
inline const QString TopicBoard = QStringLiteral("topics/board");
inline const QString TopicInspector = QStringLiteral("topics/inspector");
inline const QString TopicNetwork = QStringLiteral("topics/network");
inline const QString TopicDevice = QStringLiteral("topics/device");
// Not a setting: the base the depot's bridge carries, written by the bridge's set-up.
inline const QString BridgeBase = QStringLiteral("bridge/base");
} // namespace key

enum class Kind { Text, NonEmptyText, Boolean, Integer };

struct Setting
{
    QString key;
    QVariant value;
    Kind kind;
    // Integers only, both ends included.
    qint64 minimum = 0;
    qint64 maximum = 0;
    // Only every step-th whole number from the minimum is taken.
    qint64 step = 1;
    // Shown as the mask in every log line, and left out of what leaves the vehicle.
    bool secret = false;
};

const QVector<Setting> &settings();
// The row of `key`, or nullptr for a key the application does not know.
const Setting *find(const QString &key);
// Whether a value received as JSON (over "/config/set") is one the key may take. Unknown keys
// are accepted: the store keeps what it cannot interpret as it is.
bool accepts(const QString &key, const QJsonValue &value);
// Whether an integer is in the key's range; true for keys without one.
bool inRange(const QString &key, qint64 value);
// The last part of each secret key ("password" of "mqtt/password"): a member or key of that
// name holds a secret wherever it appears.
const QStringList &secretNames();

} // namespace settingtable
