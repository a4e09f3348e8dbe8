#include "inputcontextbridge.h"

#include <QDebug>
#include <private/qguiapplication_p.h>
#include <qpa/qplatforminputcontext.h>
#include <qpa/qplatformintegration.h>

namespace manager {

namespace {

const char Tag[] = "[VirtualKeyboard] ";
const char ContextClass[] = "manager::VirtualKeyboardInputContext";

QObject *findInputContext()
{
    QPlatformIntegration *integration = QGuiApplicationPrivate::platformIntegration();
    QPlatformInputContext *context = integration ? integration->inputContext() : nullptr;
    if (context && context->inherits(ContextClass))
        return context;
    return nullptr;
}

} // namespace

InputContextBridge::InputContextBridge(QObject *parent)
    : QObject(parent)
    , m_context(findInputContext())
{
    if (!m_context)
        qInfo().noquote().nospace() << Tag << "The input method is not freevirtualkeyboard; the panel cannot type";
}

bool InputContextBridge::available() const
{
    return !m_context.isNull();
}

void InputContextBridge::sendKey(int key, const QString &text)
{
    if (m_context)
        QMetaObject::invokeMethod(m_context.data(), "sendKey", Q_ARG(int, key), Q_ARG(QString, text));
}

void InputContextBridge::commitText(const QString &text)
{
    if (m_context)
        QMetaObject::invokeMethod(m_context.data(), "commitText", Q_ARG(QString, text));
}

} // namespace manager
