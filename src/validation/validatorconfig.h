#pragma once

#include <QObject>
#include <QUrl>

// The validator settings kept by the validation service: where the on-board unit's broker is,
// and the pass-back window. The settings page writes these before asking the proxy to save.
// Which broker addresses are acceptable is decided here once, for the page's fields and for a
// maintenance barcode's text alike.
class ValidatorConfig : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QUrl obuUrl READ obuUrl WRITE setObuUrl NOTIFY obuUrlChanged)
    // The URL's parts as the page edits them, user and password decoded.
    Q_PROPERTY(QString obuHost READ obuHost NOTIFY obuUrlChanged)
    Q_PROPERTY(QString obuPort READ obuPort NOTIFY obuUrlChanged)
    Q_PROPERTY(QString obuUserName READ obuUserName NOTIFY obuUrlChanged)
    Q_PROPERTY(QString obuPassword READ obuPassword NOTIFY obuUrlChanged)
    Q_PROPERTY(int passbackSecs READ passbackSecs WRITE setPassbackSecs NOTIFY passbackSecsChanged)
    Q_PROPERTY(bool passbackQrEnabled READ passbackQrEnabled WRITE setPassbackQrEnabled NOTIFY passbackQrEnabledChanged)

public:
    explicit ValidatorConfig(QObject *parent = nullptr);

    QUrl obuUrl() const { return m_obuUrl; }
    int passbackSecs() const { return m_passbackSecs; }
    bool passbackQrEnabled() const { return m_passbackQrEnabled; }

    QString obuHost() const;
    QString obuPort() const;
    QString obuUserName() const;
    QString obuPassword() const;

    void setObuUrl(const QUrl &url);
    void setPassbackSecs(int seconds);
    void setPassbackQrEnabled(bool enabled);

    // The broker URL in `text` when it parses strictly and has a scheme, a host, a port of 1 to
    // 65535 or none, and nothing after the authority; an empty URL otherwise. User and password
    // may be percent-encoded, and so hold any sign.
    static QUrl brokerUrl(const QString &text);
    // The URL made of the page's fields, user and password percent-encoded so that any
    // printable sign survives; empty when the host or the port is not acceptable. The scheme
    // is the current URL's, "mqtt" when there is none.
    QUrl brokerUrlFromParts(const QString &host, const QString &port, const QString &userName,
                            const QString &password) const;
    Q_INVOKABLE bool isBrokerHost(const QString &host) const;
    Q_INVOKABLE bool isBrokerPort(const QString &port) const;
    // Takes the fields as the new URL; false, with nothing changed, when they make none.
    Q_INVOKABLE bool setObuParts(const QString &host, const QString &port, const QString &userName,
                                 const QString &password);

signals:
    void obuUrlChanged();
    void passbackSecsChanged();
    void passbackQrEnabledChanged();

private:
    QUrl m_obuUrl;
    int m_passbackSecs = 0;
    bool m_passbackQrEnabled = false;
};
