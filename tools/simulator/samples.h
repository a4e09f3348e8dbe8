#pragma once

#include <QJsonObject>
#include <QString>

// Realistic validation results and card data for the simulated validation service: products
// and passenger types of an Athens-area operator, balances in cents, time stamps in UTC.
namespace simulator {

// Where a result is reported: a card on the RFID reader or a ticket on the barcode reader.
enum class Medium { Card, Barcode };

struct Card
{
    QString uid;
    int type = 0; // the reader's card-technology bit
};

// A result as the validation service publishes it, with the reader that saw the ticket.
struct ValidationResult
{
    Medium medium = Medium::Card;
    QJsonObject transaction;
    QString summary; // one line for the person watching
};

// The next card of a small rotating set, so that consecutive validations show different cards.
Card nextCard();

// A successful validation of the given product type code. Codes without a sample of their own
// still give a plausible product with only the common members.
ValidationResult validResult(int type);

// A refused validation. Ticket reasons (100-110) come from the barcode reader, all others from a
// card. Already-validated results (103, 207) carry the product that was validated before.
ValidationResult deniedResult(int reason);

// A time stamp as the service writes it: UTC, "yyyy-MM-ddTHH:mm:ssZ", `minutesAgo` before now.
QString utcStamp(int minutesAgo);

} // namespace simulator
