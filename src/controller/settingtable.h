#pragma once

#include <QJsonValue>
#include <QString>
#include <QVariant>
#include <QVector>

// Every configuration key the application knows, once: its built-in value, the kind of value
// it takes and, for numbers, the range. The defaults of the store, the refusal of remote values
// on "/config/set", the setters and the settings pages' spin boxes all read this one table, so
// a page never offers what the broker path would refuse. A new key is one more row.
namespace settingtable {

enum class Kind { Text, NonEmptyText, Boolean, Integer };

struct Setting
{
    QString key;
    QVariant value;
    Kind kind;
    // Integers only, both ends included.
    qint64 minimum = 0;
    qint64 maximum = 0;
    // Only every step-th whole number from the minimum is taken.
    qint64 step = 1;
};

const QVector<Setting> &settings();
// The row of `key`, or nullptr for a key the application does not know.
const Setting *find(const QString &key);
// Whether a value received as JSON (over "/config/set") is one the key may take. Unknown keys
// are accepted: the store keeps what it cannot interpret as it is.
bool accepts(const QString &key, const QJsonValue &value);
// Whether an integer is in the key's range; true for keys without one.
bool inRange(const QString &key, qint64 value);

} // namespace settingtable
