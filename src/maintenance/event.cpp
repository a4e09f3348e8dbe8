#include "event.h"


namespace {
const QString General = QStringLiteral("General");
} // namespace

Event::Event(QObject *parent)
    : QObject(parent)
{
}

Event::Event(const QString &category, const QString &name, const QString &description,
             const QDateTime &timestamp, QObject *parent)
    : QObject(parent)
    , m_category(category)
    , m_name(name)
    , m_description(description)
    , m_timestamp(timestamp)
{
}

EventLogin::EventLogin(int userId, const QString &firstName, const QString &lastName,
                       const QDateTime &when, QObject *parent)
    : Event(General, QStringLiteral("Maintenance login"),
            QStringLiteral("User ID : %1\nFirst name : %2\nLast name : %3\nDate : %4")
                .arg(userId)
                .arg(firstName, lastName, when.toString(Qt::TextDate)),
            when, parent)
{
}

EventLogout::EventLogout(const QDateTime &when, QObject *parent)
    : Event(General, QStringLiteral("Maintenance logout"),
            QStringLiteral("Date : %4").arg(when.toString(Qt::TextDate)), when, parent)
{
}

EventLoginLocked::EventLoginLocked(int wrongPins, int lockSeconds, const QDateTime &when, QObject *parent)
    : Event(General, QStringLiteral("Maintenance login locked"),
            QStringLiteral("Wrong PINs : %1\nLocked for : %2 s\nDate : %3")
                .arg(wrongPins)
                .arg(lockSeconds)
                .arg(when.toString(Qt::TextDate)),
            when, parent)
{
}
