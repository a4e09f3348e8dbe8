#pragma once

#include <QFile>
#include <QString>
#include <QStringList>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// The service manager's end of a notify socket: a datagram socket at a path of the test's, to
// name in NOTIFY_SOCKET. Reads never wait.
class NotifySocket
{
public:
    explicit NotifySocket(const QString &path)
        : m_path(path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
        if (::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            qFatal("cannot bind %s", qPrintable(path));
    }
    ~NotifySocket() { ::close(m_fd); }
    NotifySocket(const NotifySocket &) = delete;
    NotifySocket &operator=(const NotifySocket &) = delete;

    QString path() const { return m_path; }
    // Every notice received since the last call, in order.
    QStringList take()
    {
        QStringList notices;
        char buffer[4096];
        ssize_t size;
        while ((size = ::recv(m_fd, buffer, sizeof buffer, 0)) > 0)
            notices << QString::fromUtf8(buffer, int(size));
        return notices;
    }

private:
    QString m_path;
    int m_fd = -1;
};
