#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Records every message of the process while it lives (and still passes it on to the
// handler before it), so that tests can check which lines came and in what order.
class LogCapture
{
public:
    struct Line
    {
        QtMsgType type;
        QString text;
    };

    LogCapture();
    ~LogCapture();

    QList<Line> lines() const;
    QStringList texts() const;
    int count(const QString &text) const;
    bool contains(const QString &fragment) const;
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &text);
    QtMessageHandler m_previous;
};
