#include "monitor.h"

#include <QDebug>
#include <QTimer>

namespace manager {

bool setMonitorInterval(QTimer &timer, int msec, const char *tag)
{
    if (msec <= 0) {
        qInfo().noquote().nospace() << tag << "Monitor stopped";
        timer.stop();
        return false;
    }
    qInfo().noquote().nospace() << tag << "Monitor started : " << msec << " msec(s)";
    timer.setSingleShot(false);
    timer.start(msec);
    return true;
}

} // namespace manager
