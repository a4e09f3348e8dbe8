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
    ~BrokerFixture();

    bool start();
    void kill();
    bool restart() { kill(); return start(); }
    bool isRunning() const { return m_process.state() == QProcess::Running; }

    quint16 port() const { return m_port; }
    QString host() const { return QStringLiteral("127.0.0.1"); }
    QString log() const;

    static quint16 freePort();
    static QString mosquittoPath();

private:
    void writeConfig(const Credentials *credentials);

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};
