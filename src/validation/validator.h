#pragma once

#include "mqtt/topicroutes.h"
#include "validation/transaction.h"
#include "validation/validatorbarcode.h"
#include "validation/validatorconfig.h"
#include "validation/validatorrfid.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

namespace manager {

class MqttClient;

// The application's view of the validation service and of the card reader's card events:
// operating status with reason, service version, route and vehicle, the validator settings
// and both readers. Validation results become `Transaction` records.
class Validator : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    // The same state, typed, for whatever compares it (the screen choice, the status colour).
    Q_PROPERTY(Status statusId READ statusId NOTIFY statusChanged)
    Q_PROPERTY(QString reason READ reason NOTIFY reasonChanged)
    Q_PROPERTY(QString version READ version NOTIFY versionChanged)
    Q_PROPERTY(QString route READ route NOTIFY routeChanged)
    Q_PROPERTY(QString vehicle READ vehicle NOTIFY vehicleChanged)
    Q_PROPERTY(ValidatorConfig *config READ config NOTIFY configChanged)
    Q_PROPERTY(ValidatorBarcode *barcode READ barcode NOTIFY barcodeChanged)
    Q_PROPERTY(ValidatorRfid *rfid READ rfid NOTIFY rfidChanged)

public:
    // The service's operating state; `Unknown` until its first report (the text is then empty).
    enum class Status { Unknown, Init, Online, Degraded, Offline, OutOfService };
    Q_ENUM(Status)

    Validator(manager::MqttClient &client, const QString &baseTopic, QObject *parent = nullptr);

    QString status() const { return statusText(m_status); }
    Status statusId() const { return m_status; }
    QString reason() const { return m_reason; }
    QString reasonCode() const { return m_reasonCode; }
    QString version() const { return m_version; }
    QString route() const { return m_route; }
    QString vehicle() const { return m_vehicle; }
    ValidatorConfig *config() { return &m_config; }
    ValidatorBarcode *barcode() { return &m_barcode; }
    ValidatorRfid *rfid() { return &m_rfid; }

    // The state as the service's peers and the pages read it: "init", "online", "degraded",
    // "offline", "out-of-service", or empty for `Unknown`.
    static QString statusText(Status status);
    static QString mapCardType(int type);
    static QString mapRfidState(int state);

public slots:
    void enableBarcode();
    void disableBarcode();
    void enableRfid();
    void disableRfid();
    // True when the request went out to the broker.
    bool saveConfig();
    void refreshConfig();

signals:
    void statusChanged();
    void reasonChanged();
    void versionChanged();
    void routeChanged();
    void vehicleChanged();
    void configChanged();
    // Declared for the properties; the records announce their own changes.
    void barcodeChanged();
    void rfidChanged();
    void cardDetected(const QString &uid, const QString &type);
    void cardRemoved();
    void cardRetry();
    // The record is the receiver's own copy (queued connections copy it too); whoever needs
    // the data later keeps it or its toMap(), never its address.
    void ticketValidated(const Transaction &transaction);
    void maintenanceBarcodeScanned(const QJsonObject &data);

private slots:
    void onMqttDisconnected();

private:
    static const TopicRoute<Validator> Routes[];

    void onCardRemovedReceived(const QJsonObject &);
    void onRetryReceived(const QJsonObject &);
    void onMaintenanceReceived(const QJsonObject &object);
    void onInfoReceived(const QJsonObject &object);
    void onStatusReceived(const QJsonObject &object);
    void onConfigReceived(const QJsonObject &object);
    void onCardFoundReceived(const QJsonObject &object);
    void onScannedReceived(const QJsonObject &object);

    void setStatus(Status status);
    void setReason(const QString &reason, const QString &code);
    void setVersion(const QString &version);
    void setRoute(const QString &route);
    void setVehicle(const QString &vehicle);

    manager::MqttClient &m_client;
    const QString m_baseTopic;
    Status m_status = Status::Unknown;
    QString m_reason;
    QString m_reasonCode;
    QString m_version;
    QString m_route;
    QString m_vehicle;
    ValidatorConfig m_config;
    ValidatorBarcode m_barcode;
    ValidatorRfid m_rfid;
};

} // namespace manager
