#pragma once

#include <QObject>
#include <QVariantMap>

// The central controller. For now it only carries the built-in configuration defaults.
class GUIManager : public QObject
{
    Q_OBJECT

public:
    // Every configuration key the application knows, with its built-in value.
    static const QVariantMap Defaults;
};
