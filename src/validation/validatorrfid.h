#pragma once

#include "validation/sam.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

// The contactless card reader as the validation service reports it: identification from the
// info message, state, slots and SAMs from the status message.
class ValidatorRfid : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool active READ active NOTIFY activeChanged)
    Q_PROPERTY(bool enabled READ enabled NOTIFY enabledChanged)
    Q_PROPERTY(int numberOfSlots READ numberOfSlots NOTIFY numberOfSlotsChanged)
    Q_PROPERTY(QString state READ state NOTIFY stateChanged)
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)
    Q_PROPERTY(QString firmware READ firmware NOTIFY firmwareChanged)
    Q_PROPERTY(QString version READ version NOTIFY versionChanged)
    Q_PROPERTY(QString manufacturer READ manufacturer NOTIFY manufacturerChanged)
    Q_PROPERTY(QString model READ model NOTIFY modelChanged)
    Q_PROPERTY(QString deviceUid READ deviceUid NOTIFY deviceUidChanged)
    Q_PROPERTY(SAM *sam READ sam NOTIFY samChanged)

public:
    explicit ValidatorRfid(QObject *parent = nullptr);

    static QString mapState(int state);

    // Info and status messages both arrive here; "firmware" marks the info half and "state"
    // the status half, and an object may carry both.
    void fromJson(const QJsonObject &object);
    void parseInfo(const QJsonObject &object);
    void parseStatus(const QJsonObject &object);

    void setSlots(const QJsonArray &slotFlags);
    void setSams(const QJsonArray &sams);

    void setActive(bool active);
    void setFirmware(const QString &firmware);
    void setVersion(const QString &version);
    void setManufacturer(const QString &manufacturer);
    void setModel(const QString &model);
    void setDeviceUid(const QString &deviceUid);
    void setError(const QString &error);
    void setState(const QString &state);

    bool active() const { return m_active; }
    bool enabled() const;
    int numberOfSlots() const { return m_slots.size(); }
    QList<bool> slotFlags() const { return m_slots; }
    QString state() const { return m_state; }
    QString error() const { return m_error; }
    QString firmware() const { return m_firmware; }
    QString version() const { return m_version; }
    QString manufacturer() const { return m_manufacturer; }
    QString model() const { return m_model; }
    QString deviceUid() const { return m_deviceUid; }
    // The first SAM of the last status, or null. The object is replaced by the next status:
    // whoever keeps it beyond the current event holds it in a QPointer.
    SAM *sam() const;
    QList<SAM *> sams() const { return m_sams; }

signals:
    void activeChanged();
    void enabledChanged();
    void numberOfSlotsChanged();
    void stateChanged();
    void errorChanged();
    void firmwareChanged();
    void versionChanged();
    void manufacturerChanged();
    void modelChanged();
    void deviceUidChanged();
    void samChanged();

private:
    bool m_active = false;
    QList<bool> m_slots;
    QString m_state;
    QString m_error;
    QString m_firmware;
    QString m_version;
    QString m_manufacturer;
    QString m_model;
    QString m_deviceUid;
    QList<SAM *> m_sams;
};
