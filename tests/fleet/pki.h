#pragma once

#include <QString>
#include <QTemporaryDir>

// Certificates made at test time with openssl, in a temporary folder: a CA, broker
// certificates for 127.0.0.1 and localhost, and client certificates named after their user
// (the depot takes the name as user name). Keys are EC P-256: quick to make and to use.
class Pki
{
public:
    struct Files
    {
        QString cert;
        QString key;
    };

    // `name` tells two authorities apart in their files and subject.
    explicit Pki(const QString &name = QStringLiteral("depot"));

    bool isValid() const { return m_valid; }
    QString caFile() const { return m_dir.filePath(m_name + QStringLiteral("-ca.crt")); }
    // A broker certificate for the given names, e.g. "IP:127.0.0.1,DNS:localhost".
    Files server(const QString &altNames = QStringLiteral("IP:127.0.0.1,DNS:localhost"));
    Files client(const QString &commonName);
    QString path(const QString &name) const { return m_dir.filePath(name); }

    static bool opensslFound();

private:
    Files issue(const QString &stem, const QString &commonName, const QString &extensions);

    QTemporaryDir m_dir;
    QString m_name;
    bool m_valid = false;
    int m_issued = 0;
};
