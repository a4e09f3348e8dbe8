#include "validatorconfig.h"

ValidatorConfig::ValidatorConfig(QObject *parent)
    : QObject(parent)
{
}

void ValidatorConfig::setObuUrl(const QUrl &url)
{
    if (m_obuUrl == url)
        return;
    m_obuUrl = url;
    emit obuUrlChanged();
}

void ValidatorConfig::setPassbackSecs(int seconds)
{
    if (m_passbackSecs == seconds)
        return;
    m_passbackSecs = seconds;
    emit passbackSecsChanged();
}

void ValidatorConfig::setPassbackQrEnabled(bool enabled)
{
    if (m_passbackQrEnabled == enabled)
        return;
    m_passbackQrEnabled = enabled;
    emit passbackQrEnabledChanged();
}
