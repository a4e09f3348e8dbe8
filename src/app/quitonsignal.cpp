#include "quitonsignal.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int pipeFds[2] = {-1, -1};
}

QuitOnSignal::QuitOnSignal(QObject *parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pipeFds) != 0)
        return;
    m_notifier = new QSocketNotifier(pipeFds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitOnSignal::onSignal);

    struct sigaction action = {};
    action.sa_handler = &QuitOnSignal::handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

QuitOnSignal::~QuitOnSignal()
{
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGINT, SIG_DFL);
    delete m_notifier;
    for (int &fd : pipeFds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void QuitOnSignal::handler(int signal)
{
    const char byte = char(signal);
    // write() is safe in a signal handler; if it fails there is nothing better to do.
    [[maybe_unused]] const ssize_t written = ::write(pipeFds[0], &byte, 1);
}

void QuitOnSignal::onSignal()
{
    char byte = 0;
    if (::read(pipeFds[1], &byte, 1) != 1)
        return;
    qInfo().noquote().nospace() << "[GUIManager] Stop requested (signal " << int(byte) << "). Exiting";
    QCoreApplication::exit(0);
}
