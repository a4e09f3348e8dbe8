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
} // namespace

const QVector<Setting> &settings()
{
    static const QVector<Setting> table = {
        {QStringLiteral("log/level"), 2, Kind::Integer, 0, 4},
        {QStringLiteral("log/syslog"), true, Kind::Boolean},
        {QStringLiteral("log/stderr"), true, Kind::Boolean},
        {QStringLiteral("log/color"), false, Kind::Boolean},
        {QStringLiteral("mqtt/host"), QStringLiteral("localhost"), Kind::NonEmptyText},
        {QStringLiteral("mqtt/port"), 1883, Kind::Integer, 1, 65535},
        {QStringLiteral("mqtt/username"), QString(), Kind::Text},
        {QStringLiteral("mqtt/password"), QString(), Kind::Text},
        {QStringLiteral("mqtt/base"), QStringLiteral("orvo/ui"), Kind::NonEmptyText},
        {QStringLiteral("gui/settingsPin"), QStringLiteral("4826"), Kind::NonEmptyText},
        {QStringLiteral("gui/showCursor"), true, Kind::Boolean},
        {QStringLiteral("gui/deviceId"), QStringLiteral("/etc/serialnumber"), Kind::NonEmptyText},
        {QStringLiteral("gui/locale"), QStringLiteral("el_GR"), Kind::NonEmptyText},
        {QStringLiteral("gui/displayOffMin"), 3, Kind::Integer, 0, LongestDisplayOnMin},
        {QStringLiteral("gui/shutdownDelaySec"), 60, Kind::Integer, ShortestShutdownDelaySec, LongestShutdownDelaySec},
        {QStringLiteral("gui/showErrorDesc"), false, Kind::Boolean},
        {QStringLiteral("gui/screenSaverBg"), QStringLiteral("black"), Kind::NonEmptyText},
        {QStringLiteral("gui/screenSaverImg"), QStringLiteral("qrc:/qml/images/Icons/orvo.png"), Kind::Text},
        {QStringLiteral("gui/animSwitchSec"), 0, Kind::Integer, 0, LongestAnimSwitch},
        // The panel's mounting angle, clockwise, in quarter turns.
        {QStringLiteral("gui/rotation"), 0, Kind::Integer, 0, 270, 90},
        {QStringLiteral("topics/barcode"), QStringLiteral("orvo/barcode"), Kind::NonEmptyText},
        {QStringLiteral("topics/blm"), QStringLiteral("orvo/blm"), Kind::NonEmptyText},
        {QStringLiteral("topics/board"), QStringLiteral("orvo/board"), Kind::NonEmptyText},
        {QStringLiteral("topics/inspector"), QStringLiteral("orvo/inspector"), Kind::NonEmptyText},
        {QStringLiteral("topics/network"), QStringLiteral("orvo/network"), Kind::NonEmptyText},
        {QStringLiteral("topics/device"), QStringLiteral("orvo/device"), Kind::NonEmptyText},
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
