#include "logcapture.h"

#include <QMutex>

namespace {
QMutex mutex;
QList<LogCapture::Line> captured;
QtMessageHandler chained = nullptr;
}

LogCapture::LogCapture()
{
    QMutexLocker locker(&mutex);
    captured.clear();
    m_previous = qInstallMessageHandler(&LogCapture::handler);
    // A capture inside another shares its list; chaining to our own handler would never end.
    if (m_previous != &LogCapture::handler)
        chained = m_previous;
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    QMutexLocker locker(&mutex);
    if (m_previous != &LogCapture::handler)
        chained = nullptr;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    {
        QMutexLocker locker(&mutex);
        captured.append({type, text});
    }
    if (chained && type != QtDebugMsg)
        chained(type, context, text);
}

QList<LogCapture::Line> LogCapture::lines() const
{
    QMutexLocker locker(&mutex);
    return captured;
}

QStringList LogCapture::texts() const
{
    QStringList result;
    for (const Line &line : lines())
        result.append(line.text);
    return result;
}

int LogCapture::count(const QString &text) const
{
    return texts().count(text);
}

bool LogCapture::contains(const QString &fragment) const
{
    for (const QString &text : texts()) {
        if (text.contains(fragment))
            return true;
    }
    return false;
}

void LogCapture::clear()
{
    QMutexLocker locker(&mutex);
    captured.clear();
}
