#include "displaysettings.h"

#include "app/config.h"
#include "settingtable.h"

#include <QDebug>

namespace {

// The controller's own settings: its lines keep the controller's tag.
const char Tag[] = "[GUIManager] ";

namespace Key = settingtable::key;

} // namespace

DisplaySettings::DisplaySettings(Config &config)
    : m_config(config)
{
}

bool DisplaySettings::showCursor() const
{
    return m_config.get(Key::ShowCursor).toBool();
}

bool DisplaySettings::showErrorDesc() const
{
    return m_config.get(Key::ShowErrorDesc).toBool();
}

int DisplaySettings::displayOffMin() const
{
    return m_config.get(Key::DisplayOffMin).toInt();
}

int DisplaySettings::shutdownDelaySec() const
{
    return m_config.get(Key::ShutdownDelaySec).toInt();
}

QColor DisplaySettings::screenSaverBg() const
{
    return QColor(m_config.get(Key::ScreenSaverBg).toString());
}

QString DisplaySettings::screenSaverImg() const
{
    return m_config.get(Key::ScreenSaverImg).toString();
}

int DisplaySettings::animSwitchSec() const
{
    return m_config.get(Key::AnimSwitchSec).toInt();
}

void DisplaySettings::setShowCursor(bool show)
{
    if (show != showCursor())
        m_config.set(Key::ShowCursor, show);
}

void DisplaySettings::setShowErrorDesc(bool show)
{
    if (show != showErrorDesc())
        m_config.set(Key::ShowErrorDesc, show);
}

void DisplaySettings::setDisplayOffMin(int minutes)
{
    if (minutes != displayOffMin() && inRange(Key::DisplayOffMin, minutes))
        m_config.set(Key::DisplayOffMin, minutes);
}

void DisplaySettings::setShutdownDelaySec(int seconds)
{
    if (seconds != shutdownDelaySec() && inRange(Key::ShutdownDelaySec, seconds))
        m_config.set(Key::ShutdownDelaySec, seconds);
}

void DisplaySettings::setAnimSwitchSec(int value)
{
    if (value != animSwitchSec() && inRange(Key::AnimSwitchSec, value))
        m_config.set(Key::AnimSwitchSec, value);
}

void DisplaySettings::setRotation(int degrees)
{
    if (degrees != rotation() && inRange(Key::Rotation, degrees))
        m_config.set(Key::Rotation, degrees);
}

bool DisplaySettings::updateRotation()
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

int DisplaySettings::minimum(const QString &key)
{
    const settingtable::Setting *setting = settingtable::find(key);
    return setting ? int(setting->minimum) : 0;
}

int DisplaySettings::maximum(const QString &key)
{
    const settingtable::Setting *setting = settingtable::find(key);
    return setting ? int(setting->maximum) : 0;
}

int DisplaySettings::step(const QString &key)
{
    const settingtable::Setting *setting = settingtable::find(key);
    return setting ? int(setting->step) : 1;
}

// The pages stay within the table's ranges; anything else calling a setter is refused as a
// remote value would be.
bool DisplaySettings::inRange(const QString &key, int value) const
{
    if (settingtable::inRange(key, value))
        return true;
    qWarning().noquote().nospace() << Tag << "WARN: Refusing configuration value : " << key << " = " << value;
    return false;
}
