#include "app/secrets.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

namespace secrets {

const QString Mask = QStringLiteral("********");

namespace {

const char *const SecretNames[] = {"password", "obu_password", "settingsPin"};

// Members nest only a few levels deep in every payload of the device; a deeper document is
// withheld whole rather than walked (a hostile one may be thousands of levels deep).
constexpr int DeepestWalk = 32;

QJsonValue masked(const QJsonValue &value, int depth, bool *found, bool *tooDeep)
{
    if (depth > DeepestWalk) {
        *tooDeep = true;
        return value;
    }
    if (value.isObject()) {
        QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (isSecretName(it.key()) && !(it.value().isString() && it.value().toString().isEmpty())) {
                *found = true;
                it.value() = Mask;
            } else if (it.value().isObject() || it.value().isArray()) {
                it.value() = masked(it.value(), depth + 1, found, tooDeep);
            }
        }
        return object;
    }
    if (value.isArray()) {
        QJsonArray array = value.toArray();
        for (auto it = array.begin(); it != array.end(); ++it)
            *it = masked(*it, depth + 1, found, tooDeep);
        return array;
    }
    return value;
}

} // namespace

bool isSecretName(const QString &nameOrKey)
{
    const QString name = nameOrKey.section(QLatin1Char('/'), -1);
    for (const char *secret : SecretNames) {
        if (name == QLatin1String(secret))
            return true;
    }
    return false;
}

QByteArray maskedPayload(const QByteArray &payload)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError || document.isNull()) {
        for (const char *secret : SecretNames) {
            if (payload.contains(secret))
                return QByteArrayLiteral("(") + QByteArray::number(payload.size())
                        + QByteArrayLiteral(" bytes not shown: not JSON, and they name a secret)");
        }
        return payload;
    }
    bool found = false;
    bool tooDeep = false;
    const QJsonValue root = document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array());
    const QJsonValue result = masked(root, 0, &found, &tooDeep);
    if (tooDeep) {
        for (const char *secret : SecretNames) {
            if (payload.contains(secret))
                return QByteArrayLiteral("(") + QByteArray::number(payload.size())
                        + QByteArrayLiteral(" bytes not shown: nested too deep to mask, and they name a secret)");
        }
        return payload;
    }
    if (!found)
        return payload;
    return result.isObject() ? QJsonDocument(result.toObject()).toJson(QJsonDocument::Indented)
                             : QJsonDocument(result.toArray()).toJson(QJsonDocument::Indented);
}

QString maskedUrl(const QUrl &url)
{
    if (url.password().isEmpty())
        return url.toString();
    QUrl shown = url;
    shown.setPassword(Mask);
    return shown.toString();
}

QString maskedUrlText(const QString &text)
{
    // "scheme://user:password@": everything between the user's colon and the last "@" of the
    // authority is the password.
    static const QRegularExpression userInfo(QStringLiteral("^([^:/?#]*://[^:@/?#]*:)[^/?#]*@"));
    QString result = text;
    const QRegularExpressionMatch match = userInfo.match(text);
    if (match.hasMatch()) {
        const int end = match.capturedEnd(0) - 1;
        result.replace(match.capturedEnd(1), end - match.capturedEnd(1), Mask);
    }
    return result;
}

} // namespace secrets
