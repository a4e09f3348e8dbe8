#pragma once

#include "services.h"

#include "mqtt/mqttclient.h"

#include <QObject>
#include <QString>

namespace simulator {

// Where each simulated service lives on the broker.
struct BaseTopics
{
    QString blm = QStringLiteral("orvo/blm");
    QString board = QStringLiteral("orvo/board");
    QString inspector = QStringLiteral("orvo/inspector");
    QString network = QStringLiteral("orvo/network");
    QString device = QStringLiteral("orvo/device");
    QString ui = QStringLiteral("orvo/ui"); // the application's own topics, watched only
};

struct Options
{
    QString host = QStringLiteral("localhost");
    quint16 port = 1883;
    QString scenario = QStringLiteral("demo");
    double speed = 1.0;
    BaseTopics topics;
};

// The simulated device: one broker connection carrying every sibling service. On every
// connection the services announce their state; requests are handed to the service that owns
// the topic; the application's own status is watched and reported.
class Simulator : public QObject
{
    Q_OBJECT

public:
    explicit Simulator(const Options &options, QObject *parent = nullptr);

    void start();
    // Takes our retained state off the broker and disconnects cleanly.
    void stop();

    Bus &bus() { return m_bus; }
    ValidationService &validation() { return m_validation; }
    BoardService &board() { return m_board; }
    DeviceService &device() { return m_device; }

signals:
    // The first connection to the broker, with every service announced.
    void ready();

private:
    void onConnected();
    void onReceived(const QByteArray &data, const QString &topic);
    void onApplicationStatus(const QByteArray &data);
    void publishAll();

    Options m_options;
    manager::MqttClient m_client;
    Bus m_bus;
    ValidationService m_validation;
    BoardService m_board;
    InspectorService m_inspector;
    NetworkService m_network;
    DeviceService m_device;
    QList<Service *> m_services;
    bool m_announced = false;
    bool m_stopping = false;
    QString m_applicationStatus;
};

} // namespace simulator
