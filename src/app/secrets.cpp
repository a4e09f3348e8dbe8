#include "app/secrets.h"

#include "controller/settingtable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

namespace secrets {

const QString Mask = QStringLiteral("********");

namespace {

// Secret members of other services' payloads that are no setting of ours: the on-board
// computer's password in the validator's configuration.
const char *const PayloadSecretNames[] = {"obu_password"};

// The names of the settings table's secret rows, then those of the payloads.
const QStringList &secretNames()
{
    static const QStringList names = [] {
        QStringList all = settingtable::secretNames();
        for (const char *name : PayloadSecretNames)
            all << QLatin1String(name);
        return all;
    }();
    return names;
}

// Members nest only a few levels deep in every payload of the device; a deeper document is
// withheld whole rather than walked (a hostile one may be thousands of levels deep).
constexpr int DeepestWalk = 32;

QJsonValue masked(const QJsonValue &value, int depth, bool *found, bool *tooDeep)
{
    if (depth > DeepestWalk) {
        *tooDeep = true;
        return value;
    }
    if (value.isString()) {
        // A URL with a user and password ("obc" of a maintenance barcode).
        const QString text = value.toString();
        const QString shown = maskedUrlText(text);
        if (shown == text)
            return value;
        *found = true;
        return shown;
    }
    if (value.isObject()) {
        QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (isSecretName(it.key()) && !(it.value().isString() && it.value().toString().isEmpty())) {
                *found = true;
                it.value() = Mask;
            } else {
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

// A text that names a secret member or holds a URL password: what cannot be masked in place
// is withheld whole.
bool holdsSecret(const QByteArray &payload)
{
    for (const QString &secret : secretNames()) {
        if (payload.contains(secret.toUtf8()))
            return true;
    }
    const QString text = QString::fromUtf8(payload);
    return maskedUrlText(text) != text;
}

} // namespace

bool isSecretName(const QString &nameOrKey)
{
    return secretNames().contains(nameOrKey.section(QLatin1Char('/'), -1));
}

QByteArray maskedPayload(const QByteArray &payload)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError || document.isNull()) {
        if (holdsSecret(payload))
            return QByteArrayLiteral("(") + QByteArray::number(payload.size())
                    + QByteArrayLiteral(" bytes not shown: not JSON, and they hold a secret)");
        return payload;
    }
    bool found = false;
    bool tooDeep = false;
    const QJsonValue root = document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array());
    const QJsonValue result = masked(root, 0, &found, &tooDeep);
    if (tooDeep && holdsSecret(payload))
        return QByteArrayLiteral("(") + QByteArray::number(payload.size())
                + QByteArrayLiteral(" bytes not shown: nested too deep to mask, and they hold a secret)");
    if (tooDeep)
        return payload;
    if (!found)
        return payload;
    return result.isObject() ? QJsonDocument(result.toObject()).toJson(QJsonDocument::Indented)
                             : QJsonDocument(result.toArray()).toJson(QJsonDocument::Indented);
}

QString maskedUrl(const QUrl &url)
{
    QUrl shown = url;
    if (!shown.password().isEmpty())
        shown.setPassword(Mask);
    // Tolerant parsing can move a user and password out of the authority ("mqtt://u:p@h:99999"
    // reads as host "mqtt" with the rest as its path): the text is masked as well.
    return maskedUrlText(shown.toString());
}

QString maskedUrlText(const QString &text)
{
    // "user:password@host": the password may hold any sign, "/", "?", "#", "@", blanks and
    // escapes included, so it runs from the user's colon to the last "@" of the line, which is
    // the one before the host. The user starts after the scheme's "//", or at the start of a
    // text without one ("obc:pw@10.1.1.2"). A path or query holding an "@" is masked with it:
    // more hidden than needed, never less.
    static const QRegularExpression userInfo(QStringLiteral("(^|//)([^:@/?#\\s]*:)(?!//).*@"));
    QString result = text;
    result.replace(userInfo, QStringLiteral("\\1\\2") + Mask + QLatin1Char('@'));
    return result;
}

} // namespace secrets
