#include "exporter.h"

#include <QDateTime>
#include <QTcpSocket>
#include <QTimer>

// HTTP as a Prometheus server scrapes it: "GET /metrics HTTP/1.1", one request per
// connection, answered with "Connection: close". Every other path is 404, every other method
// 405, a request line that is not HTTP 400, a request head beyond 8 KiB 431.

namespace fleet {

namespace {

// A scraper asks every few seconds; beyond that many at once the rest wait their turn in
// the kernel, not in the table's event loop.
constexpr int MaxConnections = 64;
constexpr int MaxRequestHead = 8 * 1024;
// A connection that has not sent its request by then is closed: it holds a slot, nothing more.
constexpr int RequestTimeoutMs = 5000;
// One rendering of the whole table serves every scrape within a second.
constexpr int RenderEveryMs = 1000;

const QByteArray ContentType = QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8");
// The validation service's words, each a label value of the state gauge.
const QStringList ValidationStates = {QStringLiteral("online"),  QStringLiteral("degraded"),
                                      QStringLiteral("init"),    QStringLiteral("offline"),
                                      QStringLiteral("out-of-service"), QStringLiteral("unknown")};

QByteArray reasonPhrase(int code)
{
    switch (code) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 431:
        return "Request Header Fields Too Large";
    default:
        return "Error";
    }
}

// A label value as the text format wants it: backslash, quote and line feed escaped. The
// texts are printable already; this keeps a quote in a version from ending the label.
QByteArray label(const QString &text)
{
    QByteArray value = text.toUtf8();
    value.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
    return value;
}

// Samples of one metric family after the other. The labels of a validator are written
// once and reused by every family: a scrape of thousands of validators is mostly them.
class Writer
{
public:
    Writer() { m_text.reserve(1 << 20); }
    void family(const char *name, const char *type, const char *help)
    {
        m_name = name;
        m_text += "# HELP ";
        m_text += m_name;
        m_text += ' ';
        m_text += help;
        m_text += "\n# TYPE ";
        m_text += m_name;
        m_text += ' ';
        m_text += type;
        m_text += '\n';
    }
    // `labels` is written as it is: `depot="...",serial="..."`, escaped already.
    void sample(const QByteArray &labels, const QByteArray &more, double value)
    {
        m_text += m_name;
        if (!labels.isEmpty() || !more.isEmpty()) {
            m_text += '{';
            m_text += labels;
            if (!labels.isEmpty() && !more.isEmpty())
                m_text += ',';
            m_text += more;
            m_text += '}';
        }
        m_text += ' ';
        if (value == 0 || value == 1)
            m_text += value == 0 ? '0' : '1';
        else
            m_text += QByteArray::number(value, 'g', 15);
        m_text += '\n';
    }
    void sample(const QList<QPair<const char *, QString>> &labels, double value)
    {
        QByteArray text;
        for (int i = 0; i < labels.size(); ++i)
            text += (i ? "," : "") + QByteArray(labels.at(i).first) + "=\"" + label(labels.at(i).second) + '"';
        sample(text, QByteArray(), value);
    }
    QByteArray text() const { return m_text; }

private:
    QByteArray m_name;
    QByteArray m_text;
};

} // namespace

const QString Exporter::DefaultListen = QStringLiteral("127.0.0.1:9738");

bool Exporter::parseListen(const QString &text, QHostAddress *address, quint16 *port)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon < 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint number = text.mid(colon + 1).toUInt(&ok);
    if (!ok || number > 65535)
        return false;
    *port = quint16(number);
    if (host.isEmpty()) {
        *address = QHostAddress::Any;
        return true;
    }
    if (host == QLatin1String("localhost")) {
        *address = QHostAddress::LocalHost;
        return true;
    }
    return address->setAddress(host);
}

Exporter::Exporter(const Fleet &fleet, std::function<QList<DepotState>()> depots, QObject *parent)
    : QObject(parent)
    , m_fleet(fleet)
    , m_depots(std::move(depots))
{
    m_figures.startTime = QDateTime::currentSecsSinceEpoch();
    m_server.setMaxPendingConnections(MaxConnections);
    connect(&m_server, &QTcpServer::newConnection, this, &Exporter::onConnection);
}

Exporter::Exporter(const Console &console, QObject *parent)
    : Exporter(console.fleet(), [&console] { return console.depots(); }, parent)
{
}

bool Exporter::listen(const QHostAddress &address, quint16 port, QString *problem)
{
    if (m_server.listen(address, port))
        return true;
    *problem = m_server.errorString();
    return false;
}

void Exporter::onConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        if (m_open >= MaxConnections) {
            ++m_figures.refusedConnections;
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_open;
        m_requests.insert(socket, QByteArray());
        connect(socket, &QObject::destroyed, this, [this, socket] {
            m_requests.remove(socket);
            --m_open;
        });
        connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QIODevice::readyRead, this, [this, socket] { onReadyRead(socket); });
        QTimer::singleShot(RequestTimeoutMs, socket, [this, socket] {
            if (m_requests.contains(socket))
                respond(socket, 408, QByteArray());
        });
    }
}

void Exporter::onReadyRead(QTcpSocket *socket)
{
    const auto it = m_requests.find(socket);
    if (it == m_requests.end()) {
        // Answered already: whatever else it sends is dropped unread.
        socket->readAll();
        return;
    }
    it->append(socket->read(MaxRequestHead + 1 - it->size()));
    const QByteArray &head = *it;
    int end = head.indexOf("\r\n\r\n");
    if (end < 0)
        end = head.indexOf("\n\n");
    if (end < 0) {
        if (head.size() > MaxRequestHead)
            respond(socket, 431, QByteArray());
        return;
    }
    const int lineEnd = head.indexOf('\n');
    const QList<QByteArray> words = head.left(lineEnd).trimmed().split(' ');
    if (words.size() != 3 || !words.at(2).startsWith("HTTP/1.") || !words.at(1).startsWith('/')) {
        respond(socket, 400, QByteArray());
        return;
    }
    const QByteArray &method = words.at(0);
    if (method != "GET" && method != "HEAD") {
        respond(socket, 405, QByteArray());
        return;
    }
    const int query = words.at(1).indexOf('?');
    const QByteArray path = query < 0 ? words.at(1) : words.at(1).left(query);
    if (path == "/metrics")
        respond(socket, 200, metrics(), method == "GET", true);
    else if (path == "/")
        respond(socket, 200, "tessivo-fleet exporter: the metrics are on /metrics\n", method == "GET");
    else
        respond(socket, 404, QByteArray());
}

void Exporter::respond(QTcpSocket *socket, int code, const QByteArray &body, bool withBody, bool isMetrics)
{
    m_requests.remove(socket);
    ++m_figures.responses[code];
    const QByteArray text = code == 200 ? body : QByteArray::number(code) + ' ' + reasonPhrase(code) + '\n';
    QByteArray response = "HTTP/1.1 " + QByteArray::number(code) + ' ' + reasonPhrase(code) + "\r\n";
    response += "Content-Type: " + (isMetrics ? ContentType : QByteArray("text/plain")) + "\r\n";
    response += "Content-Length: " + QByteArray::number(text.size()) + "\r\nConnection: close\r\n\r\n";
    socket->write(response);
    if (withBody)
        socket->write(text);
    socket->disconnectFromHost();
}

const QByteArray &Exporter::metrics()
{
    if (m_body.isEmpty() || m_rendered.elapsed() >= RenderEveryMs) {
        QElapsedTimer timer;
        timer.start();
        m_body = render(m_fleet, m_depots(), m_figures);
        m_figures.renderSeconds = timer.nsecsElapsed() / 1e9;
        m_rendered.start();
    }
    return m_body;
}

QByteArray Exporter::render(const Fleet &fleet, const QList<DepotState> &depots, const Figures &figures)
{
    static const QList<QByteArray> StateLabels = [] {
        QList<QByteArray> list;
        for (const QString &state : ValidationStates)
            list << "state=\"" + state.toUtf8() + '"';
        return list;
    }();
    using Flag = Validator::Flag;
    const QMap<Fleet::Key, Validator> &validators = fleet.validators();
    QHash<Fleet::Key, QByteArray> labelText;
    labelText.reserve(validators.size());
    for (const Validator &validator : validators) {
        labelText.insert(Fleet::keyOf(validator), "depot=\"" + label(fleet.depotName(validator.depot)) + "\",serial=\""
                                                          + label(validator.serial) + '"');
    }
    const auto labels = [&labelText](const Validator &validator) { return labelText.value(Fleet::keyOf(validator)); };
    // One family after the other, as the format wants all samples of a metric together.
    Writer out;
    const auto each = [&](const char *name, const char *help, const std::function<double(const Validator &)> &value,
                          const std::function<bool(const Validator &)> &known = {}) {
        out.family(name, "gauge", help);
        for (const Validator &validator : validators) {
            if (!known || known(validator))
                out.sample(labels(validator), QByteArray(), value(validator));
        }
    };
    each("tessivo_validator_reachable",
         "1 while the depot has the validator's bridge and the validator answers, 0 otherwise.",
         [](const Validator &v) { return v.heard && v.link != Flag::No && !v.silent ? 1 : 0; });
    each("tessivo_validator_bridge_connected", "The bridge's own flag on the depot: 1 connected, 0 lost.",
         [](const Validator &v) { return v.link == Flag::Yes ? 1 : 0; },
         [](const Validator &v) { return v.link != Flag::Unknown; });
    each("tessivo_validator_application_up", "1 while the application reports itself up, 0 after its last will.",
         [](const Validator &v) { return v.app == Flag::Yes ? 1 : 0; },
         [](const Validator &v) { return v.app != Flag::Unknown; });
    each("tessivo_validator_technician_logged_in", "1 while a maintenance session is open.",
         [](const Validator &v) { return v.technician == Flag::Yes ? 1 : 0; },
         [](const Validator &v) { return v.technician != Flag::Unknown; });

    out.family("tessivo_validator_validation_state", "gauge",
               "The validation service's state as the application reads it: 1 for the current one.");
    for (const Validator &validator : validators) {
        const QString word = validator.validation.section(QLatin1Char(' '), 0, 0);
        const QString current = ValidationStates.contains(word) ? word : QStringLiteral("unknown");
        const QByteArray prefix = labels(validator);
        for (int i = 0; i < ValidationStates.size(); ++i)
            out.sample(prefix, StateLabels.at(i), ValidationStates.at(i) == current ? 1 : 0);
    }
    out.family("tessivo_validator_validation_reason_info", "gauge",
               "The reason code the validation service gives for its state, while it gives one.");
    for (const Validator &validator : validators) {
        const QString reason = validator.validation.section(QLatin1Char(' '), 1, 1);
        if (!reason.isEmpty())
            out.sample(labels(validator), "reason=\"" + label(reason) + '"', 1);
    }
    out.family("tessivo_validator_version_info", "gauge", "The application's version, as the validator reports it.");
    for (const Validator &validator : validators) {
        if (!validator.version.isEmpty())
            out.sample(labels(validator), "version=\"" + label(validator.version) + '"', 1);
    }
    each("tessivo_validator_version_behind", "1 while the validator runs an older version than the newest in the fleet.",
         [&fleet](const Validator &v) { return fleet.isBehind(v) ? 1 : 0; },
         [](const Validator &v) { return !v.versionNumber.isNull(); });
    each("tessivo_validator_last_seen_timestamp_seconds",
         "When the exporter last heard the validator live (retained state alone does not count).",
         [](const Validator &v) { return v.lastSeen.toMSecsSinceEpoch() / 1000.0; },
         [](const Validator &v) { return v.lastSeen.isValid(); });

    QMap<QString, int> byState;
    for (const QString &state : Fleet::states())
        byState.insert(state, 0);
    for (const Validator &validator : validators)
        ++byState[fleet.state(validator)];
    out.family("tessivo_fleet_validators", "gauge", "Validators by the console's state word.");
    for (auto it = byState.cbegin(); it != byState.cend(); ++it)
        out.sample({{"state", it.key()}}, it.value());
    if (!fleet.newestVersionText().isEmpty()) {
        out.family("tessivo_fleet_newest_version_info", "gauge", "The newest version any validator reports.");
        out.sample({{"version", fleet.newestVersionText()}}, 1);
    }
    out.family("tessivo_fleet_depot_up", "gauge", "1 while the exporter is connected to the depot broker.");
    for (const DepotState &depot : depots)
        out.sample({{"depot", depot.name}}, depot.up ? 1 : 0);

    out.family("tessivo_fleet_exporter_depot_messages_total", "counter", "Messages taken from the depots.");
    out.sample({}, double(fleet.handledCount()));
    out.family("tessivo_fleet_exporter_skipped_messages_total", "counter",
               "Messages from the depots skipped as malformed or hostile.");
    out.sample({}, double(fleet.skippedCount()));
    out.family("tessivo_fleet_exporter_http_responses_total", "counter", "HTTP responses by status code.");
    for (auto it = figures.responses.cbegin(); it != figures.responses.cend(); ++it)
        out.sample({{"code", QString::number(it.key())}}, double(it.value()));
    out.family("tessivo_fleet_exporter_refused_connections_total", "counter",
               "Connections closed unanswered because too many were open.");
    out.sample({}, double(figures.refusedConnections));
    out.family("tessivo_fleet_exporter_render_duration_seconds", "gauge", "Time the last rendering of the table took.");
    out.sample({}, figures.renderSeconds);
    out.family("tessivo_fleet_exporter_start_time_seconds", "gauge", "When the exporter started, since the epoch.");
    out.sample({}, double(figures.startTime));
    return out.text();
}

} // namespace fleet
