#include "maintenancebarcode.h"

#include "app/secrets.h"
#include "maintenance/sessionmanager.h"
#include "network/ethernet.h"
#include "network/ipv4.h"
#include "network/network.h"
#include "services/board.h"
#include "services/inspector.h"
#include "tones.h"
#include "validation/validator.h"
#include "validation/validatorconfig.h"

#include <QDebug>
#include <QUrl>

// Reads "validator"/"obc" (a broker URL) and "network"/"eth0" (method, address, netmask,
// gateway, dns0, dns1) from the scanned code; the validator and the network proxies publish
// what is taken.

namespace {

// The lines keep the controller's tag: technicians and their tools know them under it.
const char Tag[] = "[GUIManager] ";

} // namespace

MaintenanceBarcode::MaintenanceBarcode(const SessionManager &session, manager::Validator &validator,
                                       manager::Network &network, manager::Inspector &inspector,
                                       manager::Board &board, QObject *parent)
    : QObject(parent)
    , m_session(session)
    , m_validator(validator)
    , m_network(network)
    , m_inspector(inspector)
    , m_board(board)
{
}

void MaintenanceBarcode::onScanned(const QJsonObject &data)
{
    qInfo().noquote().nospace() << Tag << "Maintenance Barcode scanned";
    if (!m_session.sessionActive()) {
        qWarning().noquote().nospace() << Tag << "WARN: Maintenance session is not active. Ignoring.";
        return;
    }

    QStringList applied;
    // Parts refused for what they hold (a URL or an address that is not one): nothing of them
    // is sent, and the technician is told which.
    QStringList refused;
    // Parts whose request could not be sent (no broker): the technician must not be told they
    // were applied.
    QStringList notSent;
    if (data.contains(QStringLiteral("validator"))) {
        const QString text = data.value(QStringLiteral("validator")).toObject().value(QStringLiteral("obc")).toString();
        const QUrl url = ValidatorConfig::brokerUrl(text);
        if (!url.isEmpty()) {
            qInfo().noquote().nospace() << Tag << "Applying Validator configuration";
            applied.append(QStringLiteral("OBC : %1").arg(secrets::maskedUrl(url)));
            m_validator.config()->setObuUrl(url);
            if (!m_validator.saveConfig())
                notSent.append(QStringLiteral("Validator configuration not sent"));
        } else {
            qWarning().noquote().nospace() << Tag << "WARN: OBC URL is not valid : " << secrets::maskedUrlText(text);
            refused.append(QStringLiteral("OBC URL is not valid : %1").arg(secrets::maskedUrlText(text)));
        }
    }

    const QJsonObject network = data.value(QStringLiteral("network")).toObject();
    if (network.contains(QStringLiteral("eth0"))) {
        const QJsonObject eth0 = network.value(QStringLiteral("eth0")).toObject();
        auto text = [&eth0](const char *name) { return eth0.value(QLatin1String(name)).toString(); };
        const QString method = text("method");
        const QString address = text("address");
        const QString netmask = text("netmask");
        const QString gateway = text("gateway");
        const QString dns0 = text("dns0");
        const QString dns1 = text("dns1");
        manager::Ethernet *ethernet = m_network.ethernet();
        if (ethernet->interface() == QLatin1String("eth0")) {
            applied.append(QStringLiteral("Method : %1").arg(method));
            applied.append(QStringLiteral("Address : %1").arg(address));
            applied.append(QStringLiteral("Netmask : %1").arg(netmask));
            applied.append(QStringLiteral("Gateway : %1").arg(gateway));
            applied.append(QStringLiteral("DNS #0 : %1").arg(dns0));
            applied.append(QStringLiteral("DNS #1 : %1").arg(dns1));
            const bool manual = method == QLatin1String("manual");
            const QString chosen = manual ? QStringLiteral("manual") : QStringLiteral("auto");
            const QString failure = ethernet->configFailure(chosen, address, netmask, gateway, dns0, dns1);
            if (!failure.isEmpty()) {
                // The record stays as the service reported it: the page shows nothing unsent.
                qWarning().noquote().nospace() << Tag << "WARN: Ethernet configuration not applied : " << failure;
                refused.append(failure);
            } else {
                ethernet->setMethod(chosen);
                IPv4 *config = ethernet->config();
                config->setAddress(manual ? address : QString());
                config->setMask(manual ? netmask : QString());
                config->setGateway(manual ? gateway : QString());
                config->setDns0(manual ? dns0 : QString());
                config->setDns1(manual ? dns1 : QString());
                qInfo().noquote().nospace() << Tag << "Applying Ethernet configuration to eth0";
                if (!ethernet->save())
                    notSent.append(QStringLiteral("Ethernet configuration not sent"));
            }
        } else {
            qWarning().noquote().nospace() << Tag << "WARN: Active ethernet interface is not 'eth0' : "
                                           << ethernet->interface();
        }
    }

    if (!refused.isEmpty() || !notSent.isEmpty()) {
        qWarning().noquote().nospace() << Tag << "WARN: Maintenance barcode not applied : "
                                       << (refused + notSent).join(QStringLiteral(", "));
        // A refused code gets no tone at all: no sign of success where nothing was sent.
        if (!notSent.isEmpty())
            m_inspector.audioPlay(tones::Invalid);
        emit configurationFailed(refused + notSent + applied);
    } else if (!applied.isEmpty()) {
        m_inspector.audioPlay(tones::Valid);
        m_board.setLedValid();
        emit configurationApplied(applied);
    }
}
