#include "logger.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <syslog.h>

namespace manager {

namespace {

const char PlainPattern[] =
    "%{if-fatal}%{function} at %{file}:%{line} (%{pid}:%{threadid}:%{qthreadptr}) - %{endif}%{message}";

const char ColorPattern[] =
    "%{if-category}[%{category}] %{endif}"
    "%{if-info}%{message}%{endif}"
    "%{if-warning}\033[33m%{message}\033[39m%{endif}"
    "%{if-debug}\033[35m%{message}\033[39m%{endif}"
    "%{if-critical}\033[31m%{message}\033[39m%{endif}"
    "%{if-fatal}%{function} at %{file}:%{line} (%{pid}:%{threadid}:%{qthreadptr}) - \033[31m%{message}\033[39m%{endif}";

const char *const LevelRules[] = {
    "*=true\n*.warning=false\n*.info=false\n*.debug=false\nqt.*=false",
    "*=true\n*.info=false\n*.debug=false\nqt.*=false",
    "*=true\n*.debug=false\nqt.*=false",
    "*=true\nqt.*=false",
    "*=true",
};

void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    Logger *logger = Logger::instance();
    QMutexLocker locker(logger->getMutex());

    const QByteArray line = qFormatLogMessage(type, context, message).toUtf8();
    const double stamp = (Logger::nowMillis() - logger->getStartTime()) / 1000.0;

    if (logger->getSyslog()) {
        switch (type) {
        case QtDebugMsg:
            syslog(LOG_DEBUG, "[%9.03f] [debug] %s", stamp, line.constData());
            break;
        case QtInfoMsg:
            syslog(LOG_INFO, "[%9.03f] %s", stamp, line.constData());
            break;
        case QtWarningMsg:
            syslog(LOG_WARNING, "[%9.03f] [warning] %s", stamp, line.constData());
            break;
        case QtCriticalMsg:
            syslog(LOG_CRIT, "[%9.03f] [error] %s", stamp, line.constData());
            break;
        case QtFatalMsg:
            syslog(LOG_ERR, "[%9.03f] [fatal] %s", stamp, line.constData());
            break;
        }
    }
    if (logger->getStderr()) {
        std::fprintf(stderr, "[%9.03f] %s\n", stamp, line.constData());
        std::fflush(stderr);
    }
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

Logger *Logger::instance()
{
    // Created on the GUI thread before any other thread logs through the handler.
    static Logger *logger = new Logger;
    return logger;
}

Logger::Logger()
    : m_startTime(nowMillis())
{
    setColor(false);
    setLevel(Level2);
    qInstallMessageHandler(messageHandler);
}

double Logger::nowMillis()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return (double(ts.tv_sec) * 1000000000.0 + double(ts.tv_nsec)) / 1000000.0;
}

void Logger::setSyslog(bool enabled)
{
    QMutexLocker locker(&m_mutex);
    m_syslog = enabled;
}

void Logger::setStderr(bool enabled)
{
    QMutexLocker locker(&m_mutex);
    m_stderr = enabled;
}

void Logger::setColor(bool enabled)
{
    QMutexLocker locker(&m_mutex);
    qSetMessagePattern(QString::fromLatin1(enabled ? ColorPattern : PlainPattern));
}

void Logger::setLevel(Level level)
{
    if (level < Level0 || level > Level4)
        return;
    QMutexLocker locker(&m_mutex);
    QLoggingCategory::setFilterRules(QString::fromLatin1(LevelRules[level]));
}

void Logger::setLevel(int level)
{
    switch (level) {
    case 0:
    case 1:
    case 3:
    case 4:
        setLevel(Level(level));
        break;
    default:
        setLevel(Level2);
        break;
    }
}

} // namespace manager
