#pragma once

#include <QColor>
#include <QString>

class Config;

// The settings the scene shows and the technician changes on its pages: the cursor, the error
// description under the reason code, the display-off interval, the shutdown delay, the screen
// saver's colour and picture, the animation interval and the panel's rotation. It reads them
// from the store, refuses a value outside the settings table's range as "/config/set" would,
// and holds the rotation in force (a stored angle that is none falls back to upright). It owns
// no signal: the controller's reactions announce a change once the store has taken it.
class DisplaySettings
{
public:
    explicit DisplaySettings(Config &config);

    bool showCursor() const;
    bool showErrorDesc() const;
    int displayOffMin() const;
    int shutdownDelaySec() const;
    QColor screenSaverBg() const;
    QString screenSaverImg() const;
    int animSwitchSec() const;
    int rotation() const { return m_rotation; }

    void setShowCursor(bool show);
    void setShowErrorDesc(bool show);
    void setDisplayOffMin(int minutes);
    void setShutdownDelaySec(int seconds);
    void setAnimSwitchSec(int value);
    void setRotation(int degrees);

    // Takes "gui/rotation" from the store; true when the angle in force changed.
    bool updateRotation();

    // An integer setting's range and step as the table holds them ("gui/displayOffMin").
    static int minimum(const QString &key);
    static int maximum(const QString &key);
    static int step(const QString &key);

private:
    bool inRange(const QString &key, int value) const;

    Config &m_config;
    int m_rotation = 0;
};
