#pragma once

#include <QByteArray>
#include <QJsonObject>

// The one place where a service message becomes a JSON object. Every proxy hands its payload
// here after matching the topic, then passes the object to its handler for that topic.
namespace manager {

enum class EmptyPayload {
    AsEmptyObject, // zero bytes read as "{ }"
    IsError,       // zero bytes fail like any other unparsable payload
};

enum class ParseFailureDetail {
    ParserError, // the log line ends with the JSON parser's error text
    RawPayload,  // the log line ends with the payload bytes as received
};

// On failure logs, at critical level, `tag` + "Failed to parse JSON message: " + detail and
// returns false; the object is left untouched. A document that is valid JSON but not an
// object (an array) reads as an empty object, so its members read as false, 0 or "".
bool parseJsonMessage(const QByteArray &payload, const char *tag, QJsonObject *object,
                      EmptyPayload empty = EmptyPayload::AsEmptyObject,
                      ParseFailureDetail detail = ParseFailureDetail::ParserError);

// A request body in the JSON writer's indented form, as the services expect it.
QByteArray requestBody(const QJsonObject &object);

} // namespace manager
