#pragma once

#include <QObject>
#include <QString>

class Config;

// The validator's serial number. It is kept in a small file of its own whose path is the
// setting "gui/deviceId": read at start and whenever that path changes, written when the
// technician enters a number on the serial-number page. Reading never blocks on what the path
// names, and a number that cannot be written is not taken. The screen decision, the settings
// pages and the diagnostics report read the number here.
class DeviceIdentity : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString deviceId READ deviceId WRITE setDeviceId NOTIFY deviceIdChanged)

public:
    explicit DeviceIdentity(Config &config, QObject *parent = nullptr);

    QString deviceId() const { return m_deviceId; }
    // Saves the number first; one that cannot be saved is reported and not taken.
    void setDeviceId(const QString &deviceId);

    // Reads the number from the file "gui/deviceId" names; an unreadable file keeps the old one.
    void load();

signals:
    void deviceIdChanged();
    // The number could not be written; the text is the file's error.
    void saveFailed(const QString &error);

private:
    bool save();

    Config &m_config;
    QString m_deviceId;
};
