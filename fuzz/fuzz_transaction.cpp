// Any bytes as the service's "transaction" object: the record and its scene map must cope.
#include "validation/transaction.h"

#include <QJsonDocument>
#include <QJsonObject>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    const Transaction transaction(document.object(), nullptr);
    const QVariantMap map = transaction.toMap();
    (void)map;
    (void)transaction.details();
    (void)transaction.denyReason();
    return 0;
}
