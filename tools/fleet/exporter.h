#pragma once

#include "console.h"
#include "fleet.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

namespace fleet {

// Serves the console's live table as Prometheus metrics on "/metrics". It owns the
// listening socket and the connections of the scrapers; the table itself stays the
// console's, which keeps it current from the depots. A scrape costs one rendering of the
// table at most once a second, whatever the number of requests; a request that is not a
// plain GET is answered and closed at once, and a connection that says nothing is closed
// after a few seconds, so neither delays the messages of the depots.
class Exporter : public QObject
{
    Q_OBJECT

public:
    // Loopback: the table names every validator and its state.
    static const QString DefaultListen;

    // The exporter's own figures, shown beside the fleet's.
    struct Figures
    {
        QMap<int, quint64> responses; // by HTTP status
        quint64 refusedConnections = 0;
        double renderSeconds = 0;
        qint64 startTime = 0; // seconds since the epoch
    };

    // "ADDR:PORT", "[v6]:PORT" or ":PORT" (every address).
    static bool parseListen(const QString &text, QHostAddress *address, quint16 *port);
    // The metrics of the fleet in the Prometheus text format.
    static QByteArray render(const Fleet &fleet, const QList<DepotState> &depots, const Figures &figures);

    Exporter(const Fleet &fleet, std::function<QList<DepotState>()> depots, QObject *parent = nullptr);
    explicit Exporter(const Console &console, QObject *parent = nullptr);

    bool listen(const QHostAddress &address, quint16 port, QString *problem);
    quint16 port() const { return m_server.serverPort(); }

private:
    void onConnection();
    void onReadyRead(QTcpSocket *socket);
    void respond(QTcpSocket *socket, int code, const QByteArray &body, bool withBody = true, bool isMetrics = false);
    const QByteArray &metrics();

    const Fleet &m_fleet;
    std::function<QList<DepotState>()> m_depots;
    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_requests; // what each open connection has sent so far
    int m_open = 0;
    Figures m_figures;
    QByteArray m_body;
    QElapsedTimer m_rendered;
};

} // namespace fleet
