#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

struct mosquitto;
struct mosquitto_message;
class QHostInfo;
class QSocketNotifier;
class QTimer;

namespace manager {

// A small MQTT 3.1.1 protocol client over libmosquitto, driven entirely by the owning
// thread's event loop: socket notifiers for reading and writing and a timer for keep-alive.
// It offers the states, errors and signals that MqttClient expects of its protocol client.
class MqttTransport : public QObject
{
    Q_OBJECT

public:
    enum ClientState { Disconnected = 0, Connecting, Connected };
    Q_ENUM(ClientState)

    // Values as MQTT and the usual Qt protocol client number them.
    enum ClientError {
        NoError = 0,
        InvalidProtocolVersion = 1,
        IdRejected = 2,
        ServerUnavailable = 3,
        BadUsernameOrPassword = 4,
        NotAuthorized = 5,
        TransportInvalid = 256,
        ProtocolViolation,
        UnknownError,
    };
    Q_ENUM(ClientError)

    // TLS to the broker, on when a CA file is given; the client certificate and key are for a
    // broker that asks for one. `insecure` skips the check of the broker's certificate against
    // the host name (throw-away test certificates only). The library checks the certificate
    // against the host name it is handed, so with TLS that name is passed on unresolved.
    struct TlsSettings
    {
        QString caFile;
        QString certFile;
        QString keyFile;
        bool insecure = false;
        bool enabled() const { return !caFile.isEmpty(); }
    };

    explicit MqttTransport(QObject *parent = nullptr);
    ~MqttTransport() override;

    void setHostname(const QString &hostname) { m_hostname = hostname; }
    void setPort(quint16 port) { m_port = port; }
    void setUsername(const QString &username) { m_username = username; }
    void setPassword(const QString &password) { m_password = password; }
    void setCleanSession(bool clean) { m_cleanSession = clean; }
    void setClientId(const QString &clientId) { m_clientId = clientId; }
    void setKeepAlive(quint16 seconds) { m_keepAlive = seconds; }
    void setWillMessage(const QByteArray &message) { m_willMessage = message; }
    void setWillQoS(quint8 qos) { m_willQoS = qos; }
    void setWillRetain(bool retain) { m_willRetain = retain; }
    void setWillTopic(const QString &topic) { m_willTopic = topic; }
    void setTls(const TlsSettings &tls) { m_tls = tls; }

    QString hostname() const { return m_hostname; }
    quint16 port() const { return m_port; }
    QString clientId() const { return m_clientId; }
    int protocolVersion() const { return 4; } // MQTT 3.1.1

    ClientState state() const { return m_state; }
    ClientError error() const { return m_error; }

    // Host names answered from this table instead of the resolver, with their addresses in
    // the order given: a private hosts file for tests (one name with a dead first address).
    static void setHostTable(const QHash<QString, QStringList> &table);

    // Starts a connection attempt with the current settings; an existing connection is
    // closed first (without its last will) so that new settings take effect.
    void connectToHost();
    // A clean disconnect: the broker drops the last will.
    void disconnectFromHost();
    // Drops the socket at once, as a broken transport would; ends a hung connection attempt.
    void closeTransport();

    // Returns the message id, or -1 when the request cannot be sent (not connected, bad topic).
    int subscribe(const QString &topicFilter, quint8 qos);
    int unsubscribe(const QString &topicFilter);
    int publish(const QString &topic, const QByteArray &payload, quint8 qos = 0, bool retain = false);

signals:
    void stateChanged(manager::MqttTransport::ClientState state);
    void errorChanged(manager::MqttTransport::ClientError error);
    void connected();
    void disconnected();
    void messageReceived(const QByteArray &message, const QString &topic);
    // The broker acknowledged the subscription with this message id.
    void subscribed(int messageId);

private:
    struct Event;

    static void onConnectCallback(mosquitto *, void *self, int rc);
    static void onDisconnectCallback(mosquitto *, void *self, int rc);
    static void onMessageCallback(mosquitto *, void *self, const mosquitto_message *message);
    static void onSubscribeCallback(mosquitto *, void *self, int mid, int count, const int *granted);

    bool prepareSession();
    void startConnect(const QStringList &addresses);
    void connectNext();
    // Moves a connection attempt that failed before the broker answered to the next address;
    // false when none is left (or no attempt is under way).
    bool tryNextAddress();
    void onHostLookedUp(const QHostInfo &info);
    void abortLookup();
    void onReadable();
    void onWritable();
    void onMisc();
    void afterLoop(int rc);
    void updateNotifiers();
    void dropSocket();
    void failAttempt(ClientError error);
    void setState(ClientState state);
    void setError(ClientError error);
    void dispatchPending();
    bool applyTls();

    mosquitto *m_mosq = nullptr;
    int m_socket = -1;
    // The host name being looked up (asynchronously: a dead name server must not stop the
    // thread), or -1.
    int m_lookupId = -1;
    // The addresses of the attempt under way not tried yet.
    QStringList m_addresses;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QTimer *m_miscTimer = nullptr;

    QString m_hostname = QStringLiteral("127.0.0.1");
    quint16 m_port = 1883;
    QString m_username;
    QString m_password;
    bool m_cleanSession = true;
    QString m_clientId;
    quint16 m_keepAlive = 60;
    QByteArray m_willMessage;
    quint8 m_willQoS = 0;
    bool m_willRetain = false;
    QString m_willTopic;
    TlsSettings m_tls;

    ClientState m_state = Disconnected;
    ClientError m_error = NoError;

    // libmosquitto's callbacks only record what happened; the signals are emitted once the
    // library call has returned, so that receivers may call back into this object safely.
    QList<Event> *m_pending;
    bool m_dispatching = false;
};

} // namespace manager

Q_DECLARE_METATYPE(manager::MqttTransport::ClientState)
Q_DECLARE_METATYPE(manager::MqttTransport::ClientError)
