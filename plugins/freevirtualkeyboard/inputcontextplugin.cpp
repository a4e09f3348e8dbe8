#include "inputcontext.h"

#include <qpa/qplatforminputcontextplugin_p.h>

namespace manager {

// Loaded by the GUI library when QT_IM_MODULE names "freevirtualkeyboard".
class VirtualKeyboardInputContextPlugin : public QPlatformInputContextPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QPlatformInputContextFactoryInterface_iid FILE "freevirtualkeyboard.json")

public:
    QPlatformInputContext *create(const QString &key, const QStringList &paramList) override
    {
        Q_UNUSED(paramList)
        if (key.compare(QLatin1String("freevirtualkeyboard"), Qt::CaseInsensitive) == 0)
            return new VirtualKeyboardInputContext;
        return nullptr;
    }
};

} // namespace manager

#include "inputcontextplugin.moc"
