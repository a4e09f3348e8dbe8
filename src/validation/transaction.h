#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVariantMap>

// One validation outcome as the validation service reports it. The record wraps the service's
// "transaction" object unchanged and derives every figure from it when read, so nothing here
// can drift from what the service said.
//
// It is copyable (only the JSON object is copied, never the parent) so that a receiver, queued
// or direct, always holds its own record and never one that died with the emission.
class Transaction : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool valid READ valid CONSTANT)
    Q_PROPERTY(Type type READ type CONSTANT)
    Q_PROPERTY(int denyReasonId READ denyReasonId CONSTANT)
    Q_PROPERTY(QString denyReason READ denyReason CONSTANT)
    Q_PROPERTY(QString ticketId READ ticketId CONSTANT)
    Q_PROPERTY(QString fareProduct READ fareProduct CONSTANT)
    Q_PROPERTY(QString passengerType READ passengerType CONSTANT)
    Q_PROPERTY(QVariantMap details READ details CONSTANT)
    Q_PROPERTY(QVariantMap ticket READ ticket CONSTANT)

public:
    // The product codes the result screens tell apart. The service reports the same kind of
    // product under more than one code; the screens treat the codes of one kind alike.
    enum Type {
        BarcodeTicket = 0,       // paper or phone ticket
        StoredValue = 2,         // balance debited on the card
        StoredJourneys = 5,      // journeys left on the card
        PeriodPass = 8,          // pass valid for a number of days or minutes
        StoredJourneysB = 12,
        ElectronicPurse = 14,    // balance with a transfer window
        StoredValueB = 15,
        StoredJourneysC = 16,
    };
    Q_ENUM(Type)

    explicit Transaction(QObject *parent = nullptr);
    Transaction(const QJsonObject &transaction, QObject *parent);
    Transaction(const Transaction &other);
    Transaction &operator=(const Transaction &other);
    ~Transaction() override = default;

    bool valid() const;
    Type type() const;
    int denyReasonId() const;
    QString denyReason() const;
    QString ticketId() const;
    QString fareProduct() const;
    QString passengerType() const;
    QVariantMap details() const;
    QVariantMap ticket() const;

    QVariantMap defaultDetails() const;
    // The plain map the result screens read as the context property "transaction".
    QVariantMap toMap() const;

    // "yyyy-MM-ddTHH:mm:ssZ" in UTC to local time; any other text gives an invalid date-time.
    static QDateTime convertTimestamp(const QString &timestamp);

private:
    QJsonObject m_transaction;
};

Q_DECLARE_METATYPE(Transaction)
