#pragma once

#include <QObject>

#include <atomic>

class QQuickWindow;

// Watches a window's frames from the render thread. After arm(), the first frame synchronised
// from then on is the one that carries the change just made on the GUI thread (the scene graph
// only copies the items while the GUI thread is blocked), and its swap is reported by shown().
class FrameProbe : public QObject
{
    Q_OBJECT

public:
    explicit FrameProbe(QQuickWindow *window, QObject *parent = nullptr);

    void arm();
    int swaps() const { return m_swaps.load(); }

signals:
    void firstFrame(qint64 ns);
    void shown(qint64 ns);

private:
    enum State { Idle, Armed, Synced };
    std::atomic<int> m_state{Idle};
    std::atomic<int> m_swaps{0};
};
