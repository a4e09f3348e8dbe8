#pragma once

#include <QJsonObject>
#include <QObject>
#include <QStringList>

class SessionManager;

namespace manager {
class Board;
class Inspector;
class Network;
class Validator;
} // namespace manager

// The maintenance barcode a technician scans during a session: it carries the on-board
// computer's broker URL for the validator and the eth0 settings for the network service. This
// class checks each part, sends what holds to its service, confirms with a tone and the
// board's LEDs, and lists what was applied, refused or could not be sent. Outside a session a
// code is ignored.
class MaintenanceBarcode : public QObject
{
    Q_OBJECT

public:
    MaintenanceBarcode(const SessionManager &session, manager::Validator &validator, manager::Network &network,
                       manager::Inspector &inspector, manager::Board &board, QObject *parent = nullptr);

public slots:
    void onScanned(const QJsonObject &data);

signals:
    void configurationApplied(const QStringList &configList);
    // The lines not sent, then the rest.
    void configurationFailed(const QStringList &configList);

private:
    const SessionManager &m_session;
    manager::Validator &m_validator;
    manager::Network &m_network;
    manager::Inspector &m_inspector;
    manager::Board &m_board;
};
