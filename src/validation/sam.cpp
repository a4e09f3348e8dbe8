#include "sam.h"

// Fed from one element of the reader status member "sams": "slot", "enabled", "unlocked",
// "atr", "batch", "mode", "name", "production" (a "yyyy-MM-dd" date), "uid", "vendor", "version".

namespace {

template<typename T, typename Signal>
void assign(SAM *sam, T &member, const T &value, Signal changed)
{
    if (member == value)
        return;
    member = value;
    emit (sam->*changed)();
}

} // namespace

SAM::SAM(QObject *parent)
    : QObject(parent)
{
}

SAM::SAM(const QJsonObject &object, QObject *parent)
    : QObject(parent)
{
    fromJson(object);
}

void SAM::fromJson(const QJsonObject &object)
{
    assign(this, m_slot, object.value(QLatin1String("slot")).toInt(), &SAM::slotChanged);
    assign(this, m_enabled, object.value(QLatin1String("enabled")).toBool(), &SAM::enabledChanged);
    assign(this, m_unlocked, object.value(QLatin1String("unlocked")).toBool(), &SAM::unlockedChanged);
    assign(this, m_atr, object.value(QLatin1String("atr")).toString(), &SAM::atrChanged);
    assign(this, m_batch, object.value(QLatin1String("batch")).toString(), &SAM::batchChanged);
    assign(this, m_mode, object.value(QLatin1String("mode")).toString(), &SAM::modeChanged);
    assign(this, m_name, object.value(QLatin1String("name")).toString(), &SAM::nameChanged);
    assign(this, m_production,
           QDate::fromString(object.value(QLatin1String("production")).toString(), QStringLiteral("yyyy-MM-dd")),
           &SAM::productionChanged);
    assign(this, m_uid, object.value(QLatin1String("uid")).toString(), &SAM::uidChanged);
    assign(this, m_vendor, object.value(QLatin1String("vendor")).toString(), &SAM::vendorChanged);
    assign(this, m_version, object.value(QLatin1String("version")).toString(), &SAM::versionChanged);
}
