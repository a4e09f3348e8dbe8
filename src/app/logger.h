#pragma once

#include <QMutex>

namespace manager {

// Process-wide message handler: formats every line with the current pattern and writes it,
// stamped with the seconds since the logger was created, to the system log and/or stderr.
class Logger
{
public:
    enum Level { Level0 = 0, Level1, Level2, Level3, Level4 };

    static Logger *instance();

    void setSyslog(bool enabled);
    void setStderr(bool enabled);
    void setColor(bool enabled);
    void setLevel(Level level);
    void setLevel(int level);

    QMutex *getMutex() { return &m_mutex; }
    bool getSyslog() const { return m_syslog; }
    bool getStderr() const { return m_stderr; }
    double getStartTime() const { return m_startTime; }

    // Milliseconds of the real-time clock, the origin and unit of every stamp.
    static double nowMillis();

private:
    Logger();
    Q_DISABLE_COPY(Logger)

    QMutex m_mutex;
    bool m_syslog = true;
    bool m_stderr = false;
    double m_startTime = 0;
};

} // namespace manager
