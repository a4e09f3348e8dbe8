#include "brokerfixture.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace {
// A broker on loopback is up within milliseconds; this bound only guards a broken machine.
constexpr int StartTimeoutMs = 10000;
}

BrokerFixture::BrokerFixture()
    : m_port(freePort())
{
    writeConfig(nullptr);
}

BrokerFixture::BrokerFixture(const Credentials &credentials)
    : m_port(freePort())
{
    writeConfig(&credentials);
}

BrokerFixture::BrokerFixture(const QByteArray &extraConfig)
    : m_port(freePort())
{
    writeConfig(nullptr, extraConfig);
}

BrokerFixture::~BrokerFixture()
{
    kill();
}

quint16 BrokerFixture::freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

QString BrokerFixture::mosquittoPath()
{
    QString path = QStandardPaths::findExecutable(QStringLiteral("mosquitto"));
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(QStringLiteral("mosquitto"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")});
    return path;
}

void BrokerFixture::writeConfig(const Credentials *credentials, const QByteArray &extraConfig)
{
    QFile config(m_dir.filePath(QStringLiteral("mosquitto.conf")));
    config.open(QIODevice::WriteOnly | QIODevice::Truncate);
    config.write(QStringLiteral("listener %1 127.0.0.1\n").arg(m_port).toUtf8());
    config.write("persistence false\n");
    // As root the broker would drop to its own user, which cannot read our private folder.
    config.write("user root\n");
    config.write("set_tcp_nodelay true\n");
    config.write("log_dest stderr\n");
    config.write("log_type error\nlog_type warning\nlog_type notice\n");
    if (credentials) {
        const QString passwd = m_dir.filePath(QStringLiteral("passwd"));
        QProcess::execute(QStringLiteral("mosquitto_passwd"),
                          {QStringLiteral("-b"), QStringLiteral("-c"), passwd, credentials->username,
                           credentials->password});
        config.write("allow_anonymous false\n");
        config.write(QStringLiteral("password_file %1\n").arg(passwd).toUtf8());
    } else {
        config.write("allow_anonymous true\n");
    }
    config.write(extraConfig);
}

bool BrokerFixture::start()
{
    if (isRunning())
        return true;
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("broker.log")), QIODevice::Append);
    m_process.start(mosquittoPath(), {QStringLiteral("-c"), m_dir.filePath(QStringLiteral("mosquitto.conf"))});
    if (!m_process.waitForStarted(StartTimeoutMs))
        return false;

    QDeadlineTimer deadline(StartTimeoutMs);
    while (!deadline.hasExpired() && isRunning()) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        if (probe.waitForConnected(200))
            return true;
        QThread::msleep(20);
    }
    return false;
}

void BrokerFixture::kill()
{
    // Only a running broker: Qt would signal pid -1 for one that never started.
    if (m_process.state() != QProcess::Running || m_process.processId() <= 0)
        return;
    m_process.kill();
    m_process.waitForFinished(StartTimeoutMs);
}

QString BrokerFixture::log() const
{
    QFile file(m_dir.filePath(QStringLiteral("broker.log")));
    file.open(QIODevice::ReadOnly);
    return QString::fromUtf8(file.readAll());
}
