#include "brokertrial.h"

#include "app/config.h"

#include <QDebug>

// Reads "mqtt/host", "mqtt/port", "mqtt/username", "mqtt/password"; keeps "trial/host",
// "trial/port", "trial/username", "trial/password" in the file while a trial runs (an older
// program reads them as unknown keys and leaves them be).

namespace {

const char Tag[] = "[GUIManager] ";

const char *const BrokerKeys[] = {"mqtt/host", "mqtt/port", "mqtt/username", "mqtt/password"};
const char *const TrialKeys[] = {"trial/host", "trial/port", "trial/username", "trial/password"};

QStringList trialKeys()
{
    QStringList keys;
    for (const char *key : TrialKeys)
        keys << QLatin1String(key);
    return keys;
}

} // namespace

BrokerTrial::BrokerTrial(Config &config, QObject *parent)
    : QObject(parent)
    , m_config(config)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(DefaultTrialMs);
    connect(&m_timer, &QTimer::timeout, this, &BrokerTrial::onTimeout);
    connect(&m_config, &Config::configChanged, this, &BrokerTrial::onConfigChanged);

    // A trial that a restart interrupted goes on, with its way back from the file.
    const Settings wayBack = kept();
    if (!wayBack.valid)
        return;
    m_good = wayBack;
    if (inForce() == m_good)
        end();
    else
        start();
}

void BrokerTrial::setTrialMs(int ms)
{
    m_timer.setInterval(ms);
    if (m_timer.isActive())
        m_timer.start();
}

BrokerTrial::Settings BrokerTrial::inForce() const
{
    Settings settings;
    settings.host = m_config.get(QStringLiteral("mqtt/host")).toString();
    settings.port = m_config.get(QStringLiteral("mqtt/port")).toInt();
    settings.username = m_config.get(QStringLiteral("mqtt/username")).toString();
    settings.password = m_config.get(QStringLiteral("mqtt/password")).toString();
    settings.valid = true;
    return settings;
}

BrokerTrial::Settings BrokerTrial::kept() const
{
    Settings settings;
    const QVariant host = m_config.get(QStringLiteral("trial/host"));
    const QVariant port = m_config.get(QStringLiteral("trial/port"));
    // Both or no way back: a host without its port is not one.
    if (!host.isValid() || !port.isValid() || host.toString().isEmpty() || port.toInt() <= 0)
        return settings;
    settings.host = host.toString();
    settings.port = port.toInt();
    settings.username = m_config.get(QStringLiteral("trial/username")).toString();
    settings.password = m_config.get(QStringLiteral("trial/password")).toString();
    settings.valid = true;
    return settings;
}

void BrokerTrial::keepWayBack(const QJsonObject &accepted)
{
    if (!m_good.valid || active())
        return;
    const QJsonObject mqtt = accepted.value(QStringLiteral("mqtt")).toObject();
    bool touched = false;
    for (const char *key : BrokerKeys)
        touched = touched || mqtt.contains(QLatin1String(key).mid(5));
    if (!touched)
        return;
    m_config.keep({{QStringLiteral("trial/host"), m_good.host},
                   {QStringLiteral("trial/port"), m_good.port},
                   {QStringLiteral("trial/username"), m_good.username},
                   {QStringLiteral("trial/password"), m_good.password}});
}

void BrokerTrial::settle()
{
    if (!active())
        m_config.drop(trialKeys());
}

void BrokerTrial::onConnected()
{
    m_good = inForce();
    if (!active())
        return;
    qInfo().noquote().nospace() << Tag << "Broker settings confirmed : " << m_good.host << ':' << m_good.port;
    end();
}

void BrokerTrial::onConfigChanged(const QVariantMap &changes)
{
    bool broker = false;
    for (const char *key : BrokerKeys)
        broker = broker || changes.contains(QLatin1String(key));
    // Nothing to go back to before the first connection: the settings then are all there is.
    if (!broker || !m_good.valid)
        return;
    if (inForce() == m_good) {
        end();
        return;
    }
    start();
}

void BrokerTrial::start()
{
    m_config.keep({{QStringLiteral("trial/host"), m_good.host},
                   {QStringLiteral("trial/port"), m_good.port},
                   {QStringLiteral("trial/username"), m_good.username},
                   {QStringLiteral("trial/password"), m_good.password}});
    const Settings trying = inForce();
    qInfo().noquote().nospace() << Tag << "Broker settings on trial : " << trying.host << ':' << trying.port
                                << " (back to " << m_good.host << ':' << m_good.port << " unless connected within "
                                << m_timer.interval() / 1000.0 << " s)";
    // Every further change gets the whole time.
    m_timer.start();
}

void BrokerTrial::end()
{
    m_timer.stop();
    m_config.drop(trialKeys());
}

void BrokerTrial::onTimeout()
{
    const Settings tried = inForce();
    qWarning().noquote().nospace() << Tag << "WARN: No connection with broker " << tried.host << ':' << tried.port
                                   << " within " << m_timer.interval() / 1000.0 << " s; restored broker "
                                   << m_good.host << ':' << m_good.port;
    // One change, one write: the reconnection and the "/config" that follow come from the
    // controller's reaction to it, and the trial ends there, the settings being those it keeps.
    m_config.fromJson({{QStringLiteral("mqtt"),
                        QJsonObject{{QStringLiteral("host"), m_good.host},
                                    {QStringLiteral("port"), m_good.port},
                                    {QStringLiteral("username"), m_good.username},
                                    {QStringLiteral("password"), m_good.password}}}});
    // Overridden on the command line, the settings in force never changed: nothing more to do.
    end();
}
