#include "transaction.h"

#include <QCoreApplication>
#include <QDate>
#include <QJsonValue>
#include <QTime>

#include <cmath>
#include <limits>

// The record reads the service's "transaction" object: "result", "type", "denyReason"."id",
// "ticketId", "fareProductName", "passengerTypeName", and per product the "barcode" or "card"
// members. Money arrives as integer cents; figures for the screens are derived at each read.

namespace {

// One text for the ids from `first` to `last`.
struct DenyReason
{
    int first;
    int last;
    const char *text;
};

// Ids 103 and 207 are a repeated validation (ticket, card); the controller shows its
// "already valid" page for both. Ids 250 to 255 are the card-blocking variants.
const DenyReason DenyReasons[] = {
    {100, 100, QT_TRANSLATE_NOOP("Transaction", "The ticket is invalid")},
    {101, 101, QT_TRANSLATE_NOOP("Transaction", "The ticket has expired")},
    {102, 102, QT_TRANSLATE_NOOP("Transaction", "The ticket is not allowed in this route")},
    {103, 103, QT_TRANSLATE_NOOP("Transaction", "The ticket has already been validated")},
    {104, 104, QT_TRANSLATE_NOOP("Transaction", "The ticket is not yet active")},
    {105, 105, QT_TRANSLATE_NOOP("Transaction", "Please try again")},
    {106, 106, QT_TRANSLATE_NOOP("Transaction", "The ticket does not belong to this operator")},
    {107, 107, QT_TRANSLATE_NOOP("Transaction", "The ticket has an invalid passenger profile")},
    {108, 108, QT_TRANSLATE_NOOP("Transaction", "The ticket is not allowed in this axis")},
    {109, 109, QT_TRANSLATE_NOOP("Transaction", "The ticket is not allowed in this zone")},
    {110, 110, QT_TRANSLATE_NOOP("Transaction", "The ticket has invalid timestamp")},
    {200, 200, QT_TRANSLATE_NOOP("Transaction", "The card is invalid")},
    {201, 201, QT_TRANSLATE_NOOP("Transaction", "The card has expired")},
    {202, 202, QT_TRANSLATE_NOOP("Transaction", "The card is not allowed in this route")},
    {203, 203, QT_TRANSLATE_NOOP("Transaction", "The card has already been validated")},
    {204, 204, QT_TRANSLATE_NOOP("Transaction", "The card does not have enough trips")},
    {205, 205, QT_TRANSLATE_NOOP("Transaction", "The card does not have sufficient balance")},
    {206, 206, QT_TRANSLATE_NOOP("Transaction", "This card can no longer be used")},
    {207, 207, QT_TRANSLATE_NOOP("Transaction", "The card has already been validated")},
    {208, 208, QT_TRANSLATE_NOOP("Transaction", "The card is not active")},
    {209, 209, QT_TRANSLATE_NOOP("Transaction", "The card does not belong to this operator")},
    {250, 255, QT_TRANSLATE_NOOP("Transaction", "The card is blocked")},
    {300, 300, QT_TRANSLATE_NOOP("Transaction", "The product is blocked")},
    {301, 301, QT_TRANSLATE_NOOP("Transaction", "The product is not yet active")},
    {500, 500, QT_TRANSLATE_NOOP("Transaction", "Internal Error")},
};
const char *const UnknownDenyReason = QT_TRANSLATE_NOOP("Transaction", "Unknown Error");

constexpr int MinutesPerDay = 1440;
constexpr qint64 SecondsPerMinute = 60;
// Above 2^53 a JSON number no longer holds every integer exactly; such a balance is not a
// sum of money the service could have meant, so it reads as missing.
constexpr double MaxExactCents = 9007199254740992.0;

// Balances in cents, read wide so that a difference of two of them cannot overflow.
qint64 cents(const QJsonValue &value)
{
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number || std::fabs(number) > MaxExactCents)
        return 0;
    return static_cast<qint64>(number);
}

double amount(qint64 cents)
{
    return static_cast<double>(cents) / 100.0;
}

int clampToInt(qint64 value)
{
    return static_cast<int>(qBound<qint64>(std::numeric_limits<int>::min(), value,
                                           std::numeric_limits<int>::max()));
}

// Whole minutes of a pass, read wide: "remainingDays" times 1440 overflows an int from
// about 1.5 million days on.
qint64 wholeNumber(const QJsonValue &value)
{
    const double number = value.toDouble();
    if (!std::isfinite(number))
        return 0;
    return static_cast<qint64>(qBound(-MaxExactCents, std::trunc(number), MaxExactCents));
}

} // namespace

Transaction::Transaction(QObject *parent)
    : QObject(parent)
{
}

Transaction::Transaction(const QJsonObject &transaction, QObject *parent)
    : QObject(parent)
    , m_transaction(transaction)
{
}

Transaction::Transaction(const Transaction &other)
    : QObject(nullptr)
    , m_transaction(other.m_transaction)
{
}

Transaction &Transaction::operator=(const Transaction &other)
{
    m_transaction = other.m_transaction;
    return *this;
}

bool Transaction::valid() const
{
    return m_transaction.value(QLatin1String("result")).toBool();
}

Transaction::Type Transaction::type() const
{
    return static_cast<Type>(m_transaction.value(QLatin1String("type")).toInt());
}

int Transaction::denyReasonId() const
{
    return m_transaction.value(QLatin1String("denyReason")).toObject().value(QLatin1String("id")).toInt();
}

QString Transaction::denyReason() const
{
    const int id = denyReasonId();
    for (const DenyReason &reason : DenyReasons) {
        if (id >= reason.first && id <= reason.last)
            return QCoreApplication::translate("Transaction", reason.text);
    }
    return QCoreApplication::translate("Transaction", UnknownDenyReason);
}

QString Transaction::ticketId() const
{
    return m_transaction.value(QLatin1String("ticketId")).toString();
}

QString Transaction::fareProduct() const
{
    return m_transaction.value(QLatin1String("fareProductName")).toString();
}

QString Transaction::passengerType() const
{
    return m_transaction.value(QLatin1String("passengerTypeName")).toString();
}

QVariantMap Transaction::defaultDetails() const
{
    return {
        {QStringLiteral("fromStopGroupName"), QString()},
        {QStringLiteral("toStopGroupName"), QString()},
        {QStringLiteral("deducted"), 0.0},
        {QStringLiteral("remaining"), 0.0},
        {QStringLiteral("activationTimestamp"), QDateTime()},
        {QStringLiteral("expires"), QDateTime()},
        {QStringLiteral("transferRemainingMin"), 0},
    };
}

QVariantMap Transaction::details() const
{
    QVariantMap details = defaultDetails();
    const int code = m_transaction.value(QLatin1String("type")).toInt();
    const QJsonObject card = m_transaction.value(QLatin1String("card")).toObject();

    if (code == BarcodeTicket) {
        const QJsonObject barcode = m_transaction.value(QLatin1String("barcode")).toObject();
        details[QStringLiteral("fromStopGroupName")] = barcode.value(QLatin1String("fromStopGroupName")).toString();
        details[QStringLiteral("toStopGroupName")] = barcode.value(QLatin1String("toStopGroupName")).toString();
        details[QStringLiteral("transferRemainingMin")] = barcode.value(QLatin1String("transferRemainingMin")).toInt();
        return details;
    }
    if (code == StoredValue || code == StoredValueB) {
        const qint64 before = cents(card.value(QLatin1String("balanceBefore")));
        const qint64 after = cents(card.value(QLatin1String("balanceAfter")));
        details[QStringLiteral("deducted")] = amount(before - after);
        details[QStringLiteral("remaining")] = amount(after);
        return details;
    }
    if (code == PeriodPass) {
        const QJsonObject pass = card.value(QLatin1String("periodPass")).toObject();
        const QJsonValue minutesValue = pass.value(QLatin1String("remainingMinutes"));
        const qint64 minutes = (minutesValue.isUndefined() || minutesValue.isNull())
                ? wholeNumber(pass.value(QLatin1String("remainingDays"))) * MinutesPerDay
                : wholeNumber(minutesValue);
        // Kept within an int of minutes: the screens show an int and the expiry stays a
        // date-time Qt can add up without overflowing its milliseconds.
        const int remaining = clampToInt(minutes);
        details[QStringLiteral("activationTimestamp")] =
                convertTimestamp(pass.value(QLatin1String("activationTimestamp")).toString());
        details[QStringLiteral("remaining")] = remaining;
        details[QStringLiteral("expires")] = QDateTime::currentDateTime().addSecs(remaining * SecondsPerMinute);
        return details;
    }
    if (code == StoredJourneys || code == StoredJourneysC || code == StoredJourneysB) {
        const QJsonObject journeys = card.value(QLatin1String("storedJourneys")).toObject();
        details[QStringLiteral("activationTimestamp")] =
                convertTimestamp(journeys.value(QLatin1String("activationTimestamp")).toString());
        details[QStringLiteral("remaining")] = journeys.value(QLatin1String("after")).toInt();
        details[QStringLiteral("transferRemainingMin")] = journeys.value(QLatin1String("transferRemainingMin")).toInt();
        return details;
    }
    if (code == ElectronicPurse) {
        details[QStringLiteral("deducted")] = 0;
        details[QStringLiteral("remaining")] = amount(cents(card.value(QLatin1String("balanceAfter"))));
        details[QStringLiteral("transferRemainingMin")] =
                card.value(QLatin1String("ePurse")).toObject().value(QLatin1String("transferRemainingMin")).toInt();
        return details;
    }
    return details;
}

QVariantMap Transaction::ticket() const
{
    return QVariantMap();
}

QVariantMap Transaction::toMap() const
{
    // "passengeType" is the name the scene reads.
    return {
        {QStringLiteral("valid"), valid()},
        {QStringLiteral("type"), static_cast<int>(type())},
        {QStringLiteral("denyReason"), denyReason()},
        {QStringLiteral("denyReasonId"), denyReasonId()},
        {QStringLiteral("fareProduct"), fareProduct()},
        {QStringLiteral("passengeType"), passengerType()},
        {QStringLiteral("details"), details()},
    };
}

QDateTime Transaction::convertTimestamp(const QString &timestamp)
{
    // Date and time are read apart and joined as UTC: read as one local date-time first, a
    // stamp inside the spring-forward hour would not exist and come out shifted or invalid.
    if (timestamp.size() != 20 || timestamp.at(10) != QLatin1Char('T') || timestamp.at(19) != QLatin1Char('Z'))
        return QDateTime();
    const QDate date = QDate::fromString(timestamp.left(10), QStringLiteral("yyyy-MM-dd"));
    const QTime time = QTime::fromString(timestamp.mid(11, 8), QStringLiteral("HH:mm:ss"));
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    return QDateTime(date, time, Qt::UTC).toLocalTime();
}
