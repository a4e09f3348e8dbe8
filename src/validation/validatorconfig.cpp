#include "validatorconfig.h"

namespace {
const char DefaultScheme[] = "mqtt";
constexpr int HighestPort = 65535;

// A port as typed: none, or a decimal number of 1 to 65535. -2 when it is neither.
int portFromText(const QString &text)
{
    if (text.isEmpty())
        return -1;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -2;
    }
    bool ok = false;
    const int port = text.toInt(&ok, 10);
    return ok && port >= 1 && port <= HighestPort ? port : -2;
}
} // namespace

ValidatorConfig::ValidatorConfig(QObject *parent)
    : QObject(parent)
{
}

QString ValidatorConfig::obuHost() const
{
    return m_obuUrl.host(QUrl::FullyDecoded);
}

QString ValidatorConfig::obuPort() const
{
    return m_obuUrl.port() > 0 ? QString::number(m_obuUrl.port()) : QString();
}

QString ValidatorConfig::obuUserName() const
{
    return m_obuUrl.userName(QUrl::FullyDecoded);
}

QString ValidatorConfig::obuPassword() const
{
    return m_obuUrl.password(QUrl::FullyDecoded);
}

QUrl ValidatorConfig::brokerUrl(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    // A tolerant reading would take "mqtt://u:p@h:99999" as host "mqtt" with the rest as its
    // path; strictly it is no URL at all. Whatever follows the authority has no place in what
    // the validation service keeps, so a URL with it is not the one the technician meant.
    const bool acceptable = url.isValid() && !url.scheme().isEmpty() && !url.host().isEmpty()
            && (url.port() == -1 || (url.port() >= 1 && url.port() <= HighestPort))
            && (url.path().isEmpty() || url.path() == QLatin1String("/")) && !url.hasQuery() && !url.hasFragment();
    return acceptable ? url : QUrl();
}

QUrl ValidatorConfig::brokerUrlFromParts(const QString &host, const QString &port, const QString &userName,
                                         const QString &password) const
{
    if (!isBrokerHost(host) || !isBrokerPort(port))
        return QUrl();
    QUrl url;
    url.setScheme(m_obuUrl.scheme().isEmpty() ? QString::fromLatin1(DefaultScheme) : m_obuUrl.scheme());
    url.setHost(host, QUrl::StrictMode);
    // Taken as typed: "%", "#", "?", "/", "@" and blanks are escaped, not read as delimiters.
    url.setUserName(userName, QUrl::DecodedMode);
    url.setPassword(password, QUrl::DecodedMode);
    url.setPort(portFromText(port));
    // Checked as a barcode's text would be, so the page cannot send what a barcode may not.
    return brokerUrl(url.toString(QUrl::FullyEncoded));
}

bool ValidatorConfig::isBrokerHost(const QString &host) const
{
    if (host.isEmpty())
        return false;
    QUrl url;
    url.setHost(host, QUrl::StrictMode);
    return url.isValid() && !url.host().isEmpty();
}

bool ValidatorConfig::isBrokerPort(const QString &port) const
{
    return portFromText(port) != -2;
}

bool ValidatorConfig::setObuParts(const QString &host, const QString &port, const QString &userName,
                                  const QString &password)
{
    const QUrl url = brokerUrlFromParts(host, port, userName, password);
    if (url.isEmpty())
        return false;
    setObuUrl(url);
    return true;
}

void ValidatorConfig::setObuUrl(const QUrl &url)
{
    if (m_obuUrl == url)
        return;
    m_obuUrl = url;
    emit obuUrlChanged();
}

void ValidatorConfig::setPassbackSecs(int seconds)
{
    if (m_passbackSecs == seconds)
        return;
    m_passbackSecs = seconds;
    emit passbackSecsChanged();
}

void ValidatorConfig::setPassbackQrEnabled(bool enabled)
{
    if (m_passbackQrEnabled == enabled)
        return;
    m_passbackQrEnabled = enabled;
    emit passbackQrEnabledChanged();
}
