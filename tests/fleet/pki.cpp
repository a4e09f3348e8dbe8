#include "pki.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

namespace {

bool openssl(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning("openssl %s: %s", qPrintable(arguments.join(' ')), process.readAll().constData());
        return false;
    }
    return true;
}

const QStringList EcKey = {QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                           QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};

} // namespace

bool Pki::opensslFound()
{
    return !QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty();
}

Pki::Pki(const QString &name)
    : m_name(name)
{
    const QString key = m_dir.filePath(m_name + QStringLiteral("-ca.key"));
    m_valid = openssl(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + EcKey
                      + QStringList{QStringLiteral("-keyout"), key, QStringLiteral("-out"), caFile(),
                                    QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                                    QStringLiteral("/CN=%1 test CA").arg(m_name)});
}

Pki::Files Pki::issue(const QString &stem, const QString &commonName, const QString &extensions)
{
    Files files{m_dir.filePath(stem + QStringLiteral(".crt")), m_dir.filePath(stem + QStringLiteral(".key"))};
    QStringList arguments = QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + EcKey
            + QStringList{QStringLiteral("-keyout"), files.key, QStringLiteral("-out"), files.cert,
                          QStringLiteral("-CA"), caFile(), QStringLiteral("-CAkey"),
                          m_dir.filePath(m_name + QStringLiteral("-ca.key")), QStringLiteral("-days"),
                          QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=") + commonName,
                          QStringLiteral("-set_serial"), QString::number(++m_issued + 1000),
                          QStringLiteral("-addext"), QStringLiteral("basicConstraints=critical,CA:FALSE")};
    if (!extensions.isEmpty())
        arguments << QStringLiteral("-addext") << extensions;
    if (!m_valid || !openssl(arguments))
        return {};
    // As a device keeps it: readable by its owner only.
    QFile::setPermissions(files.key, QFile::ReadOwner | QFile::WriteOwner);
    return files;
}

Pki::Files Pki::server(const QString &altNames)
{
    return issue(QStringLiteral("%1-server-%2").arg(m_name).arg(m_issued), QStringLiteral("localhost"),
                 QStringLiteral("subjectAltName=") + altNames);
}

Pki::Files Pki::client(const QString &commonName)
{
    return issue(m_name + QStringLiteral("-client-") + commonName, commonName, QString());
}
