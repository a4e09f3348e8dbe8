#include "resources.h"

#include <QtGlobal>

void initTessivoResources()
{
    Q_INIT_RESOURCE(qml);
    Q_INIT_RESOURCE(images);
    Q_INIT_RESOURCE(generated);
}
