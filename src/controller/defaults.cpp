#include "guimanager.h"
#include "settingtable.h"

#include <QHash>

#include <cmath>

namespace settingtable {

namespace {
// The fault screens stay lit at most a day before the display goes off (0: never).
constexpr qint64 LongestDisplayOnMin = 24 * 60;
// The shutdown delay in the page's steps of 5 s, up to the 900 s its tool tip promises the
// technician; the board keeps power 60 s longer than this.
constexpr qint64 ShortestShutdownDelaySec = 5;
constexpr qint64 LongestShutdownDelaySec = 15 * 60;
// The idle page's animation period, in milliseconds: at most an hour.
constexpr qint64 LongestAnimSwitch = 3600 * 1000;
constexpr bool Secret = true;
} // namespace

const QVector<Setting> &settings()
{
    static const QVector<Setting> table = {
        {key::LogLevel, 2, Kind::Integer, 0, 4},
        {key::LogSyslog, true, Kind::Boolean},
        {key::LogStderr, true, Kind::Boolean},
        {key::LogColor, false, Kind::Boolean},
        {key::MqttHost, QStringLiteral("localhost"), Kind::NonEmptyText},
        {key::MqttPort, 1883, Kind::Integer, 1, 65535},
        {key::MqttUsername, QString(), Kind::Text},
        {key::MqttPassword, QString(), Kind::Text, 0, 0, 1, Secret},
        {key::MqttBase, QStringLiteral("orvo/ui"), Kind::NonEmptyText},
        {key::SettingsPin, QStringLiteral("4826"), Kind::NonEmptyText, 0, 0, 1, Secret},
        {key::ShowCursor, true, Kind::Boolean},
        {key::DeviceId, QStringLiteral("/etc/serialnumber"), Kind::NonEmptyText},
        {key::Locale, QStringLiteral("el_GR"), Kind::NonEmptyText},
        {key::DisplayOffMin, 3, Kind::Integer, 0, LongestDisplayOnMin},
        {key::ShutdownDelaySec, 60, Kind::Integer, ShortestShutdownDelaySec, LongestShutdownDelaySec},
        {key::ShowErrorDesc, false, Kind::Boolean},
        {key::ScreenSaverBg, QStringLiteral("black"), Kind::NonEmptyText},
        {key::ScreenSaverImg, QStringLiteral("qrc:/qml/images/Icons/orvo.png"), Kind::Text},
        {key::AnimSwitchSec, 0, Kind::Integer, 0, LongestAnimSwitch},
        // The panel's mounting angle, clockwise, in quarter turns.
        {key::Rotation, 0, Kind::Integer, 0, 270, 90},
        {key::TopicBarcode, QStringLiteral("orvo/barcode"), Kind::NonEmptyText},
        {key::TopicBlm, QStringLiteral("orvo/blm"), Kind::NonEmptyText},
        {key::TopicBoard, QStringLiteral("orvo/board"), Kind::NonEmptyText},
        {key::TopicInspector, QStringLiteral("orvo/inspector"), Kind::NonEmptyText},
        {key::TopicNetwork, QStringLiteral("orvo/network"), Kind::NonEmptyText},
        {key::TopicDevice, QStringLiteral("orvo/device"), Kind::NonEmptyText},
    };
    return table;
}

const Setting *find(const QString &key)
{
    static const QHash<QString, int> index = [] {
        QHash<QString, int> rows;
        for (int i = 0; i < settings().size(); ++i)
            rows.insert(settings().at(i).key, i);
        return rows;
    }();
    const auto row = index.constFind(key);
    return row == index.constEnd() ? nullptr : &settings().at(*row);
}

bool accepts(const QString &key, const QJsonValue &value)
{
    const Setting *setting = find(key);
    if (!setting)
        return true;
    switch (setting->kind) {
    case Kind::Text:
        return value.isString();
    case Kind::NonEmptyText:
        return value.isString() && !value.toString().trimmed().isEmpty();
    case Kind::Boolean:
        return value.isBool();
    case Kind::Integer: {
        // The range first: a double beyond 64 bits converted to an integer is undefined.
        const double number = value.toDouble();
        return value.isDouble() && number >= double(setting->minimum) && number <= double(setting->maximum)
                && std::trunc(number) == number && (qint64(number) - setting->minimum) % setting->step == 0;
    }
    }
    return false;
}

const QStringList &secretNames()
{
    static const QStringList names = [] {
        QStringList secret;
        for (const Setting &setting : settings()) {
            const QString name = setting.key.section(QLatin1Char('/'), -1);
            if (setting.secret && !secret.contains(name))
                secret << name;
        }
        return secret;
    }();
    return names;
}

bool inRange(const QString &key, qint64 value)
{
    const Setting *setting = find(key);
    if (!setting || setting->kind != Kind::Integer)
        return true;
    return value >= setting->minimum && value <= setting->maximum
            && (value - setting->minimum) % setting->step == 0;
}

} // namespace settingtable

const QVariantMap GUIManager::Defaults = [] {
    QVariantMap defaults;
    for (const settingtable::Setting &setting : settingtable::settings())
        defaults.insert(setting.key, setting.value);
    return defaults;
}();
