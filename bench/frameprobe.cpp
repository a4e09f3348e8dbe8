#include "frameprobe.h"

#include "benchclock.h"

#include <QQuickWindow>

FrameProbe::FrameProbe(QQuickWindow *window, QObject *parent)
    : QObject(parent)
{
    connect(window, &QQuickWindow::afterSynchronizing, this, [this] {
        int armed = Armed;
        m_state.compare_exchange_strong(armed, Synced);
    }, Qt::DirectConnection);
    connect(window, &QQuickWindow::frameSwapped, this, [this] {
        const qint64 now = monotonicNs();
        if (m_swaps.fetch_add(1) == 0)
            emit firstFrame(now);
        int synced = Synced;
        if (m_state.compare_exchange_strong(synced, Idle))
            emit shown(now);
    }, Qt::DirectConnection);
}

void FrameProbe::arm()
{
    m_state.store(Armed);
}
