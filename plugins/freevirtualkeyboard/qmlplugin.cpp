#include "inputcontextbridge.h"

#include <QQmlEngine>
#include <QQmlExtensionPlugin>

namespace manager {

// The QML side of the keyboard: InputPanel comes from the module's qmldir; this plug-in adds
// the singleton through which the panel's keys reach the input method.
class VirtualKeyboardQmlPlugin : public QQmlExtensionPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QQmlExtensionInterface_iid)

public:
    void registerTypes(const char *uri) override
    {
        qmlRegisterSingletonType<InputContextBridge>(uri, 1, 0, "InputContext",
                                                     [](QQmlEngine *, QJSEngine *) -> QObject * {
                                                         return new InputContextBridge;
                                                     });
    }
};

} // namespace manager

#include "qmlplugin.moc"
