#include "jsonmessage.h"

#include "app/secrets.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonParseError>

namespace manager {

bool parseJsonMessage(const QByteArray &payload, const char *tag, QJsonObject *object, EmptyPayload empty,
                      ParseFailureDetail detail)
{
    if (payload.isEmpty() && empty == EmptyPayload::AsEmptyObject) {
        *object = QJsonObject();
        return true;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError) {
        QDebug line = qCritical().noquote().nospace();
        line << tag << "Failed to parse JSON message: ";
        if (detail == ParseFailureDetail::ParserError)
            line << error.errorString();
        else
            line << secrets::maskedPayload(payload);
        return false;
    }
    *object = document.object();
    return true;
}

QByteArray requestBody(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

} // namespace manager
