#pragma once

#include <QObject>
#include <QPointer>

namespace manager {

// What the QML panel sees of the input method: it forwards the keys to the input context that
// the GUI library created from QT_IM_MODULE. The two live in different plug-ins, so the context
// is reached by class name and invoked through its meta-object.
class InputContextBridge : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool available READ available CONSTANT)

public:
    explicit InputContextBridge(QObject *parent = nullptr);

    // False when another input method is in use; the panel's keys then do nothing.
    bool available() const;

    Q_INVOKABLE void sendKey(int key, const QString &text = QString());
    Q_INVOKABLE void commitText(const QString &text);

private:
    QPointer<QObject> m_context;
};

} // namespace manager
