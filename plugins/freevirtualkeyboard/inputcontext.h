#pragma once

#include <QPointer>
#include <qpa/qplatforminputcontext.h>

namespace manager {

// The input method behind the on-screen keyboard. It has no composition of its own: it only
// keeps the panel's visibility, follows the focused item, and delivers what the panel's keys
// produce to that item. The QML panel reaches these slots through the QML plug-in's bridge.
class VirtualKeyboardInputContext : public QPlatformInputContext
{
    Q_OBJECT

public:
    VirtualKeyboardInputContext();
    ~VirtualKeyboardInputContext() override;

    bool isValid() const override;
    bool isInputPanelVisible() const override;
    void showInputPanel() override;
    void hideInputPanel() override;
    void setFocusObject(QObject *object) override;

    // Key press and release, delivered like a hardware key so that the page's key handlers and
    // the field's own (Return emits accepted()) see it.
    Q_INVOKABLE void sendKey(int key, const QString &text = QString());
    // Text inserted at the cursor of the focused item, through the input-method route that
    // validators and maximum lengths already handle.
    Q_INVOKABLE void commitText(const QString &text);
    Q_INVOKABLE QObject *focusObject() const;

private:
    void setPanelVisible(bool visible);

    QPointer<QObject> m_focusObject;
    bool m_panelVisible = false;
};

// True when the object is an item that takes text (a text field that is enabled and not
// read-only reports that through the input-method query).
bool acceptsInputMethod(QObject *object);

} // namespace manager
