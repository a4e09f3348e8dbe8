#pragma once

#include "mqtt/topicroutes.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

namespace manager {

class MqttClient;

// Proxy of the barcode reader service: follows its status, keeps its identification and hands
// on every scanned code as text. The application reaches the reader through the validation
// service instead; this proxy is for tools and set-ups that talk to the reader directly.
class BarcodeManager : public QObject
{
    Q_OBJECT

public:
    BarcodeManager(manager::MqttClient &client, const QString &baseTopic, QObject *parent = nullptr);

    QString info() const { return m_firmware; }
    QString status() const { return m_status; }
    QString firmware() const { return m_firmware; }
    QString manufacturer() const { return m_manufacturer; }
    QString model() const { return m_model; }
    QString type() const { return m_type; }
    QString version() const { return m_version; }
    // The topics its dispatcher reads below its one "/#" subscription.
    QStringList readTopics() const;

public slots:
    bool enable();
    bool disable();

signals:
    void statusChanged(const QString &status);
    void barcodeScanned(const QString &data);
    // For reader failures; the service reports none on its topics yet.
    void deviceError(const QString &descr);

private slots:
    // Everything below the base arrives here; the table picks the topics read.
    void onMessageReceived(const QByteArray &data, const QString &topic);

private:
    static const TopicRoute<BarcodeManager> Routes[];

    void onInfoReceived(const QJsonObject &object);
    void onStatusReceived(const QJsonObject &object);
    void onBarcodeReceived(const QJsonObject &object);
    void setStatus(const QString &status);

    manager::MqttClient &m_client;
    const QString m_baseTopic;
    QString m_status;
    QString m_firmware;
    QString m_manufacturer;
    QString m_model;
    QString m_type;
    QString m_version;
};

} // namespace manager
