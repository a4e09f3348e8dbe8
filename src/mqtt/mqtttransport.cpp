#include "mqtttransport.h"

#include <QDebug>
#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QHostInfo>
#include <QList>
#include <QSocketNotifier>
#include <QTimer>

#include <mosquitto.h>
#include <sys/socket.h>
#include <mutex>

namespace manager {

namespace {

QHash<QString, QStringList> &hostTable()
{
    static QHash<QString, QStringList> table;
    return table;
}

// How often libmosquitto gets to send keep-alive pings and notice a silent broker.
constexpr int MiscIntervalMs = 500;

// Incoming packets handled per readable notification before the event loop gets a turn.
constexpr int ReadBurst = 16;

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

// A key that asks for a pass phrase is refused rather than left to prompt on the terminal.
int noPassphrase(char *, int, int, void *)
{
    return 0;
}

MqttTransport::ClientError errorForConnack(int rc)
{
    switch (rc) {
    case 1:
        return MqttTransport::InvalidProtocolVersion;
    case 2:
        return MqttTransport::IdRejected;
    case 3:
        return MqttTransport::ServerUnavailable;
    case 4:
        return MqttTransport::BadUsernameOrPassword;
    case 5:
        return MqttTransport::NotAuthorized;
    default:
        return MqttTransport::UnknownError;
    }
}

} // namespace

struct MqttTransport::Event
{
    enum Kind { Connack, Lost, Message, Suback } kind;
    int rc = 0;
    QByteArray payload;
    QString topic;
};

MqttTransport::MqttTransport(QObject *parent)
    : QObject(parent)
    , m_pending(new QList<Event>)
{
    initLibrary();
    qRegisterMetaType<manager::MqttTransport::ClientState>("manager::MqttTransport::ClientState");
    qRegisterMetaType<manager::MqttTransport::ClientError>("manager::MqttTransport::ClientError");
    m_miscTimer = new QTimer(this);
    m_miscTimer->setInterval(MiscIntervalMs);
    connect(m_miscTimer, &QTimer::timeout, this, &MqttTransport::onMisc);
}

MqttTransport::~MqttTransport()
{
    abortLookup();
    dropSocket();
    if (m_mosq)
        mosquitto_destroy(m_mosq);
    delete m_pending;
}

void MqttTransport::connectToHost()
{
    abortLookup();
    if (m_state != Disconnected) {
        // New settings need a new session: leave the old one cleanly, then start over.
        if (m_mosq && m_state == Connected)
            mosquitto_disconnect(m_mosq);
        dropSocket();
        m_pending->clear();
        const bool wasConnected = m_state == Connected;
        setState(Disconnected);
        if (wasConnected)
            emit disconnected();
    }

    m_addresses.clear();
    m_error = NoError;
    setState(Connecting);
    if (!prepareSession())
        return;
    // The library would resolve a host name inside its connect call, on this thread, and a dead
    // name server would freeze the scene at every retry. The name is looked up on the side and
    // the library is handed the address.
    if (QHostAddress().setAddress(m_hostname)) {
        startConnect({m_hostname});
        return;
    }
    const auto listed = hostTable().constFind(m_hostname);
    if (listed != hostTable().constEnd()) {
        startConnect(listed.value());
        return;
    }
    m_lookupId = QHostInfo::lookupHost(m_hostname, this, &MqttTransport::onHostLookedUp);
}

// A fresh library session with the current settings, for each address tried; false (and the
// attempt failed) when the library refuses the settings.
bool MqttTransport::prepareSession()
{
    const QByteArray id = m_clientId.toUtf8();
    const char *idArg = id.isEmpty() ? nullptr : id.constData();
    int rc;
    if (!m_mosq) {
        m_mosq = mosquitto_new(idArg, m_cleanSession, this);
        rc = m_mosq ? MOSQ_ERR_SUCCESS : MOSQ_ERR_INVAL;
    } else {
        rc = mosquitto_reinitialise(m_mosq, idArg, m_cleanSession, this);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        // libmosquitto refuses an empty client id without a clean session.
        if (m_mosq) {
            mosquitto_destroy(m_mosq);
            m_mosq = nullptr;
        }
        failAttempt(IdRejected);
        return false;
    }

    mosquitto_connect_callback_set(m_mosq, &MqttTransport::onConnectCallback);
    mosquitto_disconnect_callback_set(m_mosq, &MqttTransport::onDisconnectCallback);
    mosquitto_message_callback_set(m_mosq, &MqttTransport::onMessageCallback);
    mosquitto_subscribe_callback_set(m_mosq, &MqttTransport::onSubscribeCallback);
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // Replies published from a message handler must not wait for Nagle's algorithm.
    mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);

    if (!m_username.isEmpty() || !m_password.isEmpty()) {
        const QByteArray user = m_username.toUtf8();
        const QByteArray password = m_password.toUtf8();
        mosquitto_username_pw_set(m_mosq, user.isEmpty() ? nullptr : user.constData(),
                                  password.isEmpty() ? nullptr : password.constData());
    }
    if (!m_willTopic.isEmpty()) {
        const QByteArray topic = m_willTopic.toUtf8();
        if (mosquitto_will_set(m_mosq, topic.constData(), m_willMessage.size(), m_willMessage.constData(),
                               m_willQoS, m_willRetain) != MOSQ_ERR_SUCCESS) {
            failAttempt(ProtocolViolation);
            return false;
        }
    }

    if (m_tls.enabled() && !applyTls()) {
        failAttempt(TransportInvalid);
        return false;
    }
    return true;
}

void MqttTransport::onHostLookedUp(const QHostInfo &info)
{
    if (info.lookupId() != m_lookupId)
        return;
    m_lookupId = -1;
    if (m_state != Connecting || !m_mosq)
        return;
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        qWarning().noquote().nospace() << "[MqttClient] Host lookup failed : " << m_hostname << " ("
                                       << info.errorString() << ")";
        failAttempt(TransportInvalid);
        return;
    }
    // With TLS the library checks the broker's certificate against the name it is given: it
    // gets the name, which the system resolver has just answered.
    if (m_tls.enabled()) {
        startConnect({m_hostname});
        return;
    }
    QStringList addresses;
    for (const QHostAddress &address : info.addresses())
        addresses << address.toString();
    startConnect(addresses);
}

void MqttTransport::abortLookup()
{
    if (m_lookupId < 0)
        return;
    QHostInfo::abortHostLookup(m_lookupId);
    m_lookupId = -1;
}

void MqttTransport::startConnect(const QStringList &addresses)
{
    m_addresses = addresses;
    connectNext();
}

// In the resolver's order, the next one when a connection is refused, at once or once the
// connect in progress fails, or when it times out ("localhost" may give ::1 first to a broker
// listening on 127.0.0.1 only, and a non-blocking connect to ::1 hears the refusal late).
void MqttTransport::connectNext()
{
    int rc = MOSQ_ERR_INVAL;
    while (!m_addresses.isEmpty()) {
        const QByteArray host = m_addresses.takeFirst().toUtf8();
        rc = mosquitto_connect_async(m_mosq, host.constData(), m_port, m_keepAlive);
        if (rc == MOSQ_ERR_SUCCESS)
            break;
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        failAttempt(TransportInvalid);
        return;
    }
    m_socket = mosquitto_socket(m_mosq);
    if (m_socket < 0) {
        failAttempt(TransportInvalid);
        return;
    }
    m_readNotifier = new QSocketNotifier(m_socket, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &MqttTransport::onReadable);
    m_writeNotifier = new QSocketNotifier(m_socket, QSocketNotifier::Write, this);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &MqttTransport::onWritable);
    updateNotifiers();
    m_miscTimer->start();
}

bool MqttTransport::tryNextAddress()
{
    if (m_state != Connecting || m_addresses.isEmpty())
        return false;
    dropSocket();
    m_pending->clear();
    if (prepareSession())
        connectNext();
    return true;
}

void MqttTransport::setHostTable(const QHash<QString, QStringList> &table)
{
    hostTable() = table;
}

void MqttTransport::disconnectFromHost()
{
    abortLookup();
    if (!m_mosq || m_state == Disconnected)
        return;
    if (m_state == Connected)
        mosquitto_disconnect(m_mosq);
    dropSocket();
    m_pending->clear();
    const bool wasConnected = m_state == Connected;
    setState(Disconnected);
    if (wasConnected)
        emit disconnected();
}

void MqttTransport::closeTransport()
{
    abortLookup();
    if (m_state == Disconnected || tryNextAddress())
        return;
    dropSocket();
    m_pending->clear();
    const bool wasConnected = m_state == Connected;
    setError(TransportInvalid);
    setState(Disconnected);
    if (wasConnected)
        emit disconnected();
}

int MqttTransport::subscribe(const QString &topicFilter, quint8 qos)
{
    if (!m_mosq || m_state != Connected)
        return -1;
    int mid = -1;
    const QByteArray topic = topicFilter.toUtf8();
    const int rc = mosquitto_subscribe(m_mosq, &mid, topic.constData(), qos);
    afterLoop(rc == MOSQ_ERR_INVAL || rc == MOSQ_ERR_MALFORMED_UTF8 ? MOSQ_ERR_SUCCESS : rc);
    return rc == MOSQ_ERR_SUCCESS ? mid : -1;
}

int MqttTransport::unsubscribe(const QString &topicFilter)
{
    if (!m_mosq || m_state != Connected)
        return -1;
    int mid = -1;
    const QByteArray topic = topicFilter.toUtf8();
    const int rc = mosquitto_unsubscribe(m_mosq, &mid, topic.constData());
    afterLoop(rc == MOSQ_ERR_INVAL || rc == MOSQ_ERR_MALFORMED_UTF8 ? MOSQ_ERR_SUCCESS : rc);
    return rc == MOSQ_ERR_SUCCESS ? mid : -1;
}

int MqttTransport::publish(const QString &topic, const QByteArray &payload, quint8 qos, bool retain)
{
    if (!m_mosq || m_state != Connected)
        return -1;
    int mid = -1;
    const QByteArray name = topic.toUtf8();
    const int rc = mosquitto_publish(m_mosq, &mid, name.constData(), payload.size(), payload.constData(), qos, retain);
    // A refused topic or payload is the caller's failure; a broken socket is the connection's.
    const bool callerError = rc == MOSQ_ERR_INVAL || rc == MOSQ_ERR_MALFORMED_UTF8
            || rc == MOSQ_ERR_PAYLOAD_SIZE || rc == MOSQ_ERR_OVERSIZE_PACKET;
    afterLoop(callerError ? MOSQ_ERR_SUCCESS : rc);
    return rc == MOSQ_ERR_SUCCESS ? mid : -1;
}

void MqttTransport::onConnectCallback(mosquitto *, void *self, int rc)
{
    static_cast<MqttTransport *>(self)->m_pending->append({Event::Connack, rc, {}, {}});
}

void MqttTransport::onDisconnectCallback(mosquitto *, void *self, int rc)
{
    static_cast<MqttTransport *>(self)->m_pending->append({Event::Lost, rc, {}, {}});
}

void MqttTransport::onMessageCallback(mosquitto *, void *self, const mosquitto_message *message)
{
    static_cast<MqttTransport *>(self)->m_pending->append(
        {Event::Message, 0,
         QByteArray(static_cast<const char *>(message->payload), message->payloadlen),
         QString::fromUtf8(message->topic)});
}

void MqttTransport::onSubscribeCallback(mosquitto *, void *self, int mid, int, const int *)
{
    static_cast<MqttTransport *>(self)->m_pending->append({Event::Suback, mid, {}, {}});
}

void MqttTransport::onReadable()
{
    if (!m_mosq)
        return;
    int rc = MOSQ_ERR_SUCCESS;
    for (int i = 0; i < ReadBurst && rc == MOSQ_ERR_SUCCESS && m_socket >= 0; ++i) {
        rc = mosquitto_loop_read(m_mosq, 1);
        if (mosquitto_socket(m_mosq) < 0)
            break;
        // Stop once the socket holds no further complete packet.
        char probe;
        if (::recv(m_socket, &probe, 1, MSG_PEEK | MSG_DONTWAIT) <= 0)
            break;
    }
    afterLoop(rc);
}

void MqttTransport::onWritable()
{
    if (!m_mosq)
        return;
    afterLoop(mosquitto_loop_write(m_mosq, 1));
}

void MqttTransport::onMisc()
{
    if (!m_mosq)
        return;
    afterLoop(mosquitto_loop_misc(m_mosq));
}

// Called after every library call: notices a socket the library has closed, turns recorded
// callbacks into signals, and asks for write readiness only while output is queued.
void MqttTransport::afterLoop(int rc)
{
    if (m_mosq && m_socket >= 0 && mosquitto_socket(m_mosq) < 0) {
        // The library closed the socket; its disconnect callback has normally been recorded.
        if (m_pending->isEmpty() || m_pending->last().kind != Event::Lost)
            m_pending->append({Event::Lost, rc == MOSQ_ERR_SUCCESS ? MOSQ_ERR_CONN_LOST : rc, {}, {}});
        dropSocket();
    }
    dispatchPending();
    updateNotifiers();
}

void MqttTransport::dispatchPending()
{
    if (m_dispatching)
        return;
    m_dispatching = true;
    while (!m_pending->isEmpty()) {
        const Event event = m_pending->takeFirst();
        switch (event.kind) {
        case Event::Connack:
            if (event.rc == 0 && m_state == Connecting) {
                setState(Connected);
                emit connected();
            } else if (event.rc != 0) {
                // The broker refused us and will close the socket; do not wait for that.
                dropSocket();
                m_pending->clear();
                setError(errorForConnack(event.rc));
                setState(Disconnected);
            }
            break;
        case Event::Lost:
            // Lost before the broker answered: the connect was refused late, try the next.
            if (m_state == Connecting && tryNextAddress())
                break;
            if (m_state != Disconnected) {
                dropSocket();
                const bool wasConnected = m_state == Connected;
                if (event.rc != MOSQ_ERR_SUCCESS)
                    setError(TransportInvalid);
                setState(Disconnected);
                if (wasConnected)
                    emit disconnected();
            }
            break;
        case Event::Message:
            if (m_state == Connected)
                emit messageReceived(event.payload, event.topic);
            break;
        case Event::Suback:
            if (m_state == Connected)
                emit subscribed(event.rc);
            break;
        }
    }
    m_dispatching = false;
}

void MqttTransport::updateNotifiers()
{
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(m_mosq && mosquitto_want_write(m_mosq));
}

void MqttTransport::dropSocket()
{
    m_miscTimer->stop();
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    m_socket = -1;
    // Destroying the library's session closes its socket at once, without a DISCONNECT
    // packet, which is what a broken transport looks like to the broker.
    if (m_mosq) {
        mosquitto_destroy(m_mosq);
        m_mosq = nullptr;
    }
}

void MqttTransport::failAttempt(ClientError error)
{
    // The failure is reported from the event loop, as a real transport error would be,
    // so that the caller of connectToHost() sees the Connecting state first.
    QTimer::singleShot(0, this, [this, error] {
        if (m_state != Connecting || m_mosq)
            return;
        setError(error);
        setState(Disconnected);
    });
    dropSocket();
}

// Called on a fresh library session before each attempt; false when the library refuses the
// settings (a file that cannot be opened, for one).
bool MqttTransport::applyTls()
{
    const QByteArray ca = QFile::encodeName(m_tls.caFile);
    const QByteArray cert = QFile::encodeName(m_tls.certFile);
    const QByteArray key = QFile::encodeName(m_tls.keyFile);
    if (mosquitto_tls_set(m_mosq, ca.constData(), nullptr, cert.isEmpty() ? nullptr : cert.constData(),
                          key.isEmpty() ? nullptr : key.constData(), &noPassphrase) != MOSQ_ERR_SUCCESS)
        return false;
    return mosquitto_tls_insecure_set(m_mosq, m_tls.insecure) == MOSQ_ERR_SUCCESS;
}

void MqttTransport::setState(ClientState state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}

void MqttTransport::setError(ClientError error)
{
    m_error = error;
    emit errorChanged(error);
}

} // namespace manager
