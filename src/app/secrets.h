#pragma once

#include <QByteArray>
#include <QString>

class QUrl;

// Secrets (the broker password, the on-board computer's password, the maintenance PIN) are
// shown as "********" wherever a setting, a payload or a URL reaches a log line or the screen.
namespace secrets {

extern const QString Mask;

// A member name or configuration key that holds a secret: the last part of a secret key of the
// settings table ("password", "settingsPin"), the on-board computer's "obu_password", or a key
// ending in one of them ("mqtt/password").
bool isSecretName(const QString &nameOrKey);

// The payload as it may be logged: a JSON document with every secret member's value masked (the
// payload itself when it holds none); anything else that names a secret is withheld, since
// its values cannot be told apart.
QByteArray maskedPayload(const QByteArray &payload);

// The URL's text with its password masked.
QString maskedUrl(const QUrl &url);
// The same for a text that may not even parse as a URL ("mqtt://user:pw@host:1883").
QString maskedUrlText(const QString &text);

} // namespace secrets
