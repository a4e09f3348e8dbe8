#pragma once

#include <QDateTime>
#include <QObject>


// One entry of the event log. Its fields are fixed at construction; the notify signals exist
// only so that the scene can bind to them.
class Event : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString category READ category NOTIFY categoryChanged)
    Q_PROPERTY(QString name READ name NOTIFY nameChanged)
    Q_PROPERTY(QString description READ description NOTIFY descriptionChanged)
    Q_PROPERTY(QDateTime timestamp READ timestamp NOTIFY timestampChanged)

public:
    explicit Event(QObject *parent = nullptr);
    Event(const QString &category, const QString &name, const QString &description,
          const QDateTime &timestamp, QObject *parent = nullptr);

    QString category() const { return m_category; }
    QString name() const { return m_name; }
    QString description() const { return m_description; }
    QDateTime timestamp() const { return m_timestamp; }

signals:
    void categoryChanged();
    void nameChanged();
    void descriptionChanged();
    void timestampChanged();

private:
    QString m_category;
    QString m_name;
    QString m_description;
    QDateTime m_timestamp;
};

// A technician opened a maintenance session.
class EventLogin : public Event
{
    Q_OBJECT

public:
    EventLogin(int userId, const QString &firstName, const QString &lastName,
               const QDateTime &when = QDateTime::currentDateTime(), QObject *parent = nullptr);
};

// The maintenance session ended (logout, expiry or ignition off).
class EventLogout : public Event
{
    Q_OBJECT

public:
    explicit EventLogout(const QDateTime &when = QDateTime::currentDateTime(),
                         QObject *parent = nullptr);
};


// Logins were refused for a while after too many wrong PINs in a row.
class EventLoginLocked : public Event
{
    Q_OBJECT

public:
    EventLoginLocked(int wrongPins, int lockSeconds, const QDateTime &when = QDateTime::currentDateTime(),
                     QObject *parent = nullptr);
};
