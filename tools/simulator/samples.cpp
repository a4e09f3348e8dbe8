#include "samples.h"

#include <QDateTime>
#include <QJsonValue>
#include <QVector>

namespace simulator {

namespace {
// Card technologies as the reader numbers them.
constexpr int Desfire = 256;
constexpr int MifareClassic1k = 4;
constexpr int MifarePlus2k = 16;

const char FullFare[] = "Κανονικό";
const char ReducedFare[] = "Μειωμένο";
const char StudentFare[] = "Φοιτητικό";
const char NinetyMinuteTicket[] = "Ενιαίο εισιτήριο 90 λεπτών";

// A journey ticket allows transfers for 90 minutes after its first validation.
constexpr int TransferWindowMin = 90;

QJsonObject barcodeTrip(int transferRemainingMin)
{
    return {{"fromStopGroupName", "Σύνταγμα"},
            {"toStopGroupName", "Πειραιάς"},
            {"transferRemainingMin", transferRemainingMin}};
}

QJsonObject storedJourneys(int after, int activatedMinutesAgo)
{
    return {{"activationTimestamp", utcStamp(activatedMinutesAgo)},
            {"after", after},
            {"transferRemainingMin", TransferWindowMin - activatedMinutesAgo % TransferWindowMin}};
}

QJsonObject periodPass(int remainingDays, int activatedDaysAgo)
{
    // The service sends the minutes only in the pass's last day; otherwise they stay null.
    return {{"remainingMinutes", QJsonValue::Null},
            {"remainingDays", remainingDays},
            {"activationTimestamp", utcStamp(activatedDaysAgo * 24 * 60)}};
}

QJsonObject transaction(bool result, int type, const QString &product, const QString &passenger)
{
    static int sequence = 41870;
    return {{"result", result},
            {"type", type},
            {"ticketId", QStringLiteral("TX-%1").arg(++sequence)},
            {"fareProductName", product},
            {"passengerTypeName", passenger}};
}

QString euros(int cents)
{
    return QStringLiteral("%1.%2 EUR").arg(cents / 100).arg(cents % 100, 2, 10, QLatin1Char('0'));
}

// One valid result per product kind that the screens tell apart.
ValidationResult validSample(int type)
{
    ValidationResult r;
    switch (type) {
    case 0:
        r.medium = Medium::Barcode;
        r.transaction = transaction(true, type, NinetyMinuteTicket, FullFare);
        r.transaction.insert("barcode", barcodeTrip(TransferWindowMin));
        r.summary = QStringLiteral("90-minute ticket, transfers for %1 min").arg(TransferWindowMin);
        break;
    case 2:
    case 15: {
        const bool reduced = type == 15;
        const int before = reduced ? 540 : 1250;
        const int fare = reduced ? 60 : 120;
        r.transaction = transaction(true, type,
                                    reduced ? "Μειωμένο αντίτιμο από υπόλοιπο" : "Αντίτιμο από υπόλοιπο",
                                    reduced ? ReducedFare : FullFare);
        r.transaction.insert("card", QJsonObject{{"balanceBefore", before}, {"balanceAfter", before - fare}});
        r.summary = QStringLiteral("stored value, %1 charged, %2 left").arg(euros(fare), euros(before - fare));
        break;
    }
    case 5:
    case 12:
    case 16: {
        const int after = type == 5 ? 7 : type == 12 ? 1 : 14;
        const char *product = type == 5    ? "Πακέτο 10 διαδρομών"
                              : type == 12 ? "Πακέτο 2 διαδρομών"
                                           : "Φοιτητικό πακέτο 20 διαδρομών";
        r.transaction = transaction(true, type, product, type == 16 ? StudentFare : FullFare);
        r.transaction.insert("card", QJsonObject{{"storedJourneys", storedJourneys(after, 0)}});
        r.summary = QStringLiteral("stored journeys, %1 left").arg(after);
        break;
    }
    case 8:
        r.transaction = transaction(true, type, "Μηνιαία κάρτα όλων των γραμμών", StudentFare);
        r.transaction.insert("card", QJsonObject{{"periodPass", periodPass(17, 13)}});
        r.summary = QStringLiteral("monthly pass, 17 days left");
        break;
    case 14:
        r.transaction = transaction(true, type, "Ηλεκτρονικό πορτοφόλι", FullFare);
        // Within the transfer window nothing is charged.
        r.transaction.insert("card", QJsonObject{{"balanceBefore", 860},
                                                 {"balanceAfter", 860},
                                                 {"ePurse", QJsonObject{{"transferRemainingMin", 63}}}});
        r.summary = QStringLiteral("e-purse transfer, %1 left, 63 min to transfer").arg(euros(860));
        break;
    default:
        r.transaction = transaction(true, type, QStringLiteral("Ειδικό κόμιστρο %1").arg(type), FullFare);
        r.summary = QStringLiteral("product type %1").arg(type);
        break;
    }
    return r;
}
} // namespace

QString utcStamp(int minutesAgo)
{
    return QDateTime::currentDateTimeUtc().addSecs(-60LL * minutesAgo).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ"));
}

Card nextCard()
{
    static const QVector<Card> cards = {{"04A31C5A7E6F80", Desfire},
                                        {"0452B91AC27380", Desfire},
                                        {"9E3B4C12", MifareClassic1k},
                                        {"04D7E6220B5C81", MifarePlus2k}};
    static int next = 0;
    return cards.at(next++ % cards.size());
}

ValidationResult validResult(int type)
{
    ValidationResult r = validSample(type);
    r.summary = QStringLiteral("valid, type %1: %2").arg(type).arg(r.summary);
    return r;
}

ValidationResult deniedResult(int reason)
{
    ValidationResult r;
    if (reason >= 100 && reason <= 110) {
        r.medium = Medium::Barcode;
        r.transaction = transaction(false, 0, NinetyMinuteTicket, FullFare);
        // A ticket validated before still shows how long its transfer window runs.
        r.transaction.insert("barcode", barcodeTrip(reason == 103 ? 52 : 0));
    } else if (reason == 205) {
        r.transaction = transaction(false, 2, "Αντίτιμο από υπόλοιπο", FullFare);
        r.transaction.insert("card", QJsonObject{{"balanceBefore", 80}, {"balanceAfter", 80}});
    } else if (reason == 207 || reason == 203 || reason == 204) {
        const int after = reason == 204 ? 0 : 6;
        r.transaction = transaction(false, 5, "Πακέτο 10 διαδρομών", FullFare);
        r.transaction.insert("card", QJsonObject{{"storedJourneys", storedJourneys(after, 4)}});
    } else {
        r.transaction = transaction(false, 8, "Μηνιαία κάρτα όλων των γραμμών", ReducedFare);
        r.transaction.insert("card", QJsonObject{{"periodPass", periodPass(reason == 201 ? 0 : 9, 21)}});
    }
    r.transaction.insert("denyReason", QJsonObject{{"id", reason}});
    r.summary = QStringLiteral("refused, reason %1 (%2)")
                        .arg(reason)
                        .arg(r.medium == Medium::Barcode ? "ticket" : "card");
    return r;
}

} // namespace simulator
