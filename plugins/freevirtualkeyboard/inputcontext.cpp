#include "inputcontext.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QInputMethodQueryEvent>
#include <QKeyEvent>
#include <QWindow>

// The panel shows when a text item asks for it (a field asks on focus and on a tap while it
// already has focus) and hides when the page asks, or as soon as focus moves to something that
// takes no text, including no focus at all when the window loses it.

namespace manager {

bool acceptsInputMethod(QObject *object)
{
    if (!object)
        return false;
    QInputMethodQueryEvent query(Qt::ImEnabled);
    QCoreApplication::sendEvent(object, &query);
    return query.value(Qt::ImEnabled).toBool();
}

VirtualKeyboardInputContext::VirtualKeyboardInputContext() = default;

VirtualKeyboardInputContext::~VirtualKeyboardInputContext() = default;

bool VirtualKeyboardInputContext::isValid() const
{
    return true;
}

bool VirtualKeyboardInputContext::isInputPanelVisible() const
{
    return m_panelVisible;
}

void VirtualKeyboardInputContext::showInputPanel()
{
    // A page may ask for the keyboard while nothing that takes text has focus: it would have
    // nowhere to type, so it stays down. Without any focus object yet (a field is taking focus
    // right now) the request is honoured and the next focus change settles it.
    QObject *object = qGuiApp ? qGuiApp->focusObject() : nullptr;
    if (object && !acceptsInputMethod(object))
        return;
    setPanelVisible(true);
}

void VirtualKeyboardInputContext::hideInputPanel()
{
    setPanelVisible(false);
}

void VirtualKeyboardInputContext::setFocusObject(QObject *object)
{
    m_focusObject = object;
    if (!acceptsInputMethod(object))
        setPanelVisible(false);
}

QObject *VirtualKeyboardInputContext::focusObject() const
{
    return m_focusObject.data();
}

void VirtualKeyboardInputContext::sendKey(int key, const QString &text)
{
    QObject *target = m_focusObject.data();
    if (!target || !acceptsInputMethod(target))
        return;
    // The window delivers the key to its focused item and on to the parents that do not accept
    // it, as it would a hardware key; a page's Keys handlers on an enclosing item see it too.
    QWindow *window = QGuiApplication::focusWindow();
    QObject *receiver = window ? static_cast<QObject *>(window) : target;

    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(receiver, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(receiver, &release);
}

void VirtualKeyboardInputContext::commitText(const QString &text)
{
    QObject *target = m_focusObject.data();
    if (text.isEmpty() || !target || !acceptsInputMethod(target))
        return;
    QInputMethodEvent event;
    event.setCommitString(text);
    QCoreApplication::sendEvent(target, &event);
}

void VirtualKeyboardInputContext::setPanelVisible(bool visible)
{
    if (m_panelVisible == visible)
        return;
    m_panelVisible = visible;
    emitInputPanelVisibleChanged();
}

} // namespace manager
