#include "connection.h"

namespace manager {

namespace {
// A member that is not text (a number, null, an object) reads as empty, as a missing one does.
QString text(const QVariantMap &map, const QString &key)
{
    const QVariant value = map.value(key);
    return value.userType() == QMetaType::QString ? value.toString() : QString();
}
} // namespace

Connection::Connection(QObject *parent)
    : QObject(parent)
{
}

Connection::Connection(const QVariantMap &map, QObject *parent)
    : Connection(parent)
{
    fromMap(map);
}

void Connection::fromMap(const QVariantMap &map)
{
    const QString interface = text(map, QStringLiteral("interface"));
    if (interface != m_interface) {
        m_interface = interface;
        emit interfaceChanged();
    }

    const QString state = text(map, QStringLiteral("stateStr"));
    if (state != m_state) {
        m_state = state;
        emit stateChanged();
    }

    const QString type = text(map, QStringLiteral("typeStr"));
    if (type != m_type) {
        m_type = type;
        emit typeChanged();
    }

    // Anything but an object reads as an empty map, which clears the settings.
    const QVariantMap ipv4 = map.value(QStringLiteral("ipv4")).toMap();
    if (!m_ipv4.matches(ipv4)) {
        m_ipv4.fromMap(ipv4);
        emit ipv4Changed();
    }
}

} // namespace manager
