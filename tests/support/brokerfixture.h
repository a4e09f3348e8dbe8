#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A private mosquitto broker on a free loopback port, with its own configuration in a
// temporary folder. It can be killed (SIGKILL) and started again on the same port.
class BrokerFixture
{
public:
    struct Credentials
    {
        QString username;
        QString password;
    };

    BrokerFixture();
    explicit BrokerFixture(const Credentials &credentials);
    // Lines added to the configuration after the anonymous listener's, so that listener
    // options (TLS, ACL) apply to it.
    explicit BrokerFixture(const QByteArray &extraConfig);
    ~BrokerFixture();

    bool start();
    void kill();
    bool restart() { kill(); return start(); }
    bool isRunning() const { return m_process.state() == QProcess::Running; }

    quint16 port() const { return m_port; }
    QString host() const { return QStringLiteral("127.0.0.1"); }
    QString log() const;
    qint64 pid() const { return m_process.processId(); }
    QString path(const QString &name) const { return m_dir.filePath(name); }

    static quint16 freePort();
    static QString mosquittoPath();

private:
    void writeConfig(const Credentials *credentials, const QByteArray &extraConfig = QByteArray());

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};
