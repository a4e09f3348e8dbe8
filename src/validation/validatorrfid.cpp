#include "validatorrfid.h"

#include "sam.h"

#include <QHash>

// Info members: "firmware", "model", "manufacturer", "uid". Status members: "active", "error",
// "state" (a number, named through the state table), "slots" (bools), "sams" (objects).

ValidatorRfid::ValidatorRfid(QObject *parent)
    : QObject(parent)
{
}

QString ValidatorRfid::mapState(int state)
{
    static const QHash<int, QString> names = {
        {0, QStringLiteral("Init")},      {1, QStringLiteral("Idle")},
        {2, QStringLiteral("Searching")}, {3, QStringLiteral("CardFound")},
        {4, QStringLiteral("Updating")},  {5, QStringLiteral("Error")},
    };
    return names.value(state, QStringLiteral("Unknown"));
}

void ValidatorRfid::fromJson(const QJsonObject &object)
{
    if (object.contains(QLatin1String("firmware")))
        parseInfo(object);
    if (object.contains(QLatin1String("state")))
        parseStatus(object);
}

void ValidatorRfid::parseInfo(const QJsonObject &object)
{
    setFirmware(object.value(QLatin1String("firmware")).toString());
    setModel(object.value(QLatin1String("model")).toString());
    setManufacturer(object.value(QLatin1String("manufacturer")).toString());
    setDeviceUid(object.value(QLatin1String("uid")).toString());
}

void ValidatorRfid::parseStatus(const QJsonObject &object)
{
    setActive(object.value(QLatin1String("active")).toBool());
    setError(object.value(QLatin1String("error")).toString());
    setState(mapState(object.value(QLatin1String("state")).toInt()));
    setSlots(object.value(QLatin1String("slots")).toArray());
    setSams(object.value(QLatin1String("sams")).toArray());
}

void ValidatorRfid::setSlots(const QJsonArray &slotFlags)
{
    const int before = m_slots.size();
    m_slots.clear();
    for (const QJsonValue &flag : slotFlags)
        m_slots.append(flag.isBool() && flag.toBool());
    // Announced when the count moves, so that a page bound to it does not keep a stale count.
    if (m_slots.size() != before)
        emit numberOfSlotsChanged();
}

void ValidatorRfid::setSams(const QJsonArray &sams)
{
    // The old SAMs go through the event loop: a binding or a slot still running on one of
    // them finishes before it disappears. They stay our children until then, so they are
    // freed with us even if the loop never runs again.
    const QList<SAM *> old = m_sams;
    m_sams.clear();
    for (const QJsonValue &sam : sams)
        m_sams.append(new SAM(sam.toObject(), this));
    for (SAM *sam : old)
        sam->deleteLater();
    emit samChanged();
}

SAM *ValidatorRfid::sam() const
{
    return m_sams.isEmpty() ? nullptr : m_sams.first();
}

bool ValidatorRfid::enabled() const
{
    return m_state == QLatin1String("Searching") || m_state == QLatin1String("CardFound");
}

void ValidatorRfid::setActive(bool active)
{
    if (m_active == active)
        return;
    m_active = active;
    emit activeChanged();
}

void ValidatorRfid::setFirmware(const QString &firmware)
{
    if (m_firmware == firmware)
        return;
    m_firmware = firmware;
    emit firmwareChanged();
}

void ValidatorRfid::setVersion(const QString &version)
{
    if (m_version == version)
        return;
    m_version = version;
    emit versionChanged();
}

void ValidatorRfid::setManufacturer(const QString &manufacturer)
{
    if (m_manufacturer == manufacturer)
        return;
    m_manufacturer = manufacturer;
    emit manufacturerChanged();
}

void ValidatorRfid::setModel(const QString &model)
{
    if (m_model == model)
        return;
    m_model = model;
    emit modelChanged();
}

void ValidatorRfid::setDeviceUid(const QString &deviceUid)
{
    if (m_deviceUid == deviceUid)
        return;
    m_deviceUid = deviceUid;
    emit deviceUidChanged();
}

void ValidatorRfid::setError(const QString &error)
{
    if (m_error == error)
        return;
    m_error = error;
    emit errorChanged();
}

void ValidatorRfid::setState(const QString &state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged();
    // `enabled` follows the state; it is announced with every state change, moved or not.
    emit enabledChanged();
}
