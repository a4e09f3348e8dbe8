#include "ipv4.h"

#include <QRegularExpression>

namespace {
const char AddressKey[] = "address";
const char NetmaskKey[] = "netmask";
const char GatewayKey[] = "gateway";
const char Dns0Key[] = "dns0";
const char Dns1Key[] = "dns1";
} // namespace

IPv4::IPv4(QObject *parent)
    : QObject(parent)
{
}

QString IPv4::address() const { return value(AddressKey); }
QString IPv4::mask() const { return value(NetmaskKey); }
QString IPv4::gateway() const { return value(GatewayKey); }
QString IPv4::dns0() const { return value(Dns0Key); }
QString IPv4::dns1() const { return value(Dns1Key); }

void IPv4::setAddress(const QString &address)
{
    if (store(AddressKey, address))
        emit addressChanged();
}

void IPv4::setMask(const QString &mask)
{
    if (store(NetmaskKey, mask))
        emit maskChanged();
}

void IPv4::setGateway(const QString &gateway)
{
    if (store(GatewayKey, gateway))
        emit gatewayChanged();
}

void IPv4::setDns0(const QString &dns0)
{
    if (store(Dns0Key, dns0))
        emit dns0Changed();
}

void IPv4::setDns1(const QString &dns1)
{
    if (store(Dns1Key, dns1))
        emit dns1Changed();
}

QVariantMap IPv4::toMap() const
{
    return m_map;
}

void IPv4::fromMap(const QVariantMap &map)
{
    setAddress(map.value(QLatin1String(AddressKey)).toString());
    setMask(map.value(QLatin1String(NetmaskKey)).toString());
    setGateway(map.value(QLatin1String(GatewayKey)).toString());
    setDns0(map.value(QLatin1String(Dns0Key)).toString());
    setDns1(map.value(QLatin1String(Dns1Key)).toString());
}

bool IPv4::matches(const QVariantMap &map) const
{
    if (map.size() != m_map.size())
        return false;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const auto stored = m_map.constFind(it.key());
        // QVariant's own == converts between types ("5" equals 5), which would hide a number
        // where the service should send text.
        if (stored == m_map.cend() || stored->userType() != it->userType() || *stored != *it)
            return false;
    }
    return true;
}

bool IPv4::isDotted(const QString &text)
{
    static const QRegularExpression dotted(QStringLiteral(
            "^(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])(\\.(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])){3}$"));
    return dotted.match(text).hasMatch();
}

QString IPv4::manualFailure(const QString &address, const QString &netmask, const QString &gateway,
                            const QString &dns0, const QString &dns1)
{
    const auto emptyOrDotted = [](const QString &text) { return text.isEmpty() || isDotted(text); };
    if (address.isEmpty())
        return QStringLiteral("IPv4 address cannot be empty in 'manual' mode");
    if (netmask.isEmpty())
        return QStringLiteral("IPv4 netmask cannot be empty in 'manual' mode");
    if (!isDotted(address))
        return QStringLiteral("IPv4 address is not a valid IP address");
    if (!isDotted(netmask))
        return QStringLiteral("IPv4 netmask is not a valid IP address");
    if (!emptyOrDotted(gateway))
        return QStringLiteral("IPv4 gateway is not a valid IP address");
    if (!emptyOrDotted(dns0))
        return QStringLiteral("IPv4 DNS #0 is not a valid IP address");
    if (!emptyOrDotted(dns1))
        return QStringLiteral("IPv4 DNS #1 is not a valid IP address");
    return QString();
}

QString IPv4::value(const char *key) const
{
    return m_map.value(QLatin1String(key)).toString();
}

bool IPv4::store(const char *key, const QString &text)
{
    const QString name = QLatin1String(key);
    auto it = m_map.find(name);
    if (it == m_map.end())
        it = m_map.insert(name, QString());
    if (it->toString() == text)
        return false;
    *it = text;
    return true;
}
