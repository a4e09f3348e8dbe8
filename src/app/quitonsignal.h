#pragma once

#include <QObject>

class QSocketNotifier;

// Ends the event loop when the process is asked to stop (SIGTERM from the service manager,
// SIGINT from a terminal), so that every object is destroyed in order and the broker sees the
// connection drop and publishes the last will, instead of the process vanishing mid-write.
// The handler only writes a byte to a socket pair; the event loop does the rest.
class QuitOnSignal : public QObject
{
    Q_OBJECT

public:
    explicit QuitOnSignal(QObject *parent = nullptr);
    ~QuitOnSignal() override;

private:
    static void handler(int signal);
    void onSignal();

    QSocketNotifier *m_notifier = nullptr;
};
