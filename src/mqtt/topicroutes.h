#pragma once

#include "mqtt/jsonmessage.h"
#include "mqtt/mqttclient.h"

#include <QJsonObject>
#include <QString>

#include <cstddef>

// A proxy's table of the topics it reads: each row names one topic and the handler that maps
// its message to properties. The same table makes the proxy's subscriptions (in row order) and
// routes each message to its row's handler, so a topic is spelled once and a payload is parsed
// only by the proxy that owns its topic, after its topic matched.
namespace manager {

enum class TopicKind {
    BelowBase,       // the row's topic follows the proxy's base topic
    Fixed,           // the row's topic is the whole topic
    FixedAnyPayload, // whole topic, and the handler runs whatever the payload (on an empty object)
};

// How a proxy reads its payloads: its log tag and the parse rules of parseJsonMessage().
struct JsonFormat
{
    const char *tag;
    EmptyPayload empty;
    ParseFailureDetail detail;
};

template <class Proxy, class Handler = void (Proxy::*)(const QJsonObject &)>
struct TopicRoute
{
    const char *topic;
    // Null: subscribed for the service's sake and not interpreted; the payload is still checked.
    Handler handler;
    TopicKind kind = TopicKind::BelowBase;

    QString fullTopic(const QString &base) const
    {
        return kind == TopicKind::BelowBase ? base + QLatin1String(topic) : QString::fromLatin1(topic);
    }
};

namespace routes {

template <class Proxy>
void call(Proxy *proxy, void (Proxy::*handler)(const QJsonObject &), const QJsonObject &message, const QString &)
{
    (proxy->*handler)(message);
}

template <class Proxy>
void call(Proxy *proxy, void (Proxy::*handler)(const QJsonObject &, const QString &), const QJsonObject &message,
          const QString &topic)
{
    (proxy->*handler)(message, topic);
}

// Parses the payload as the proxy reads them and hands it to the row's handler.
template <class Proxy, class Handler>
void handOn(Proxy *proxy, const TopicRoute<Proxy, Handler> &route, const JsonFormat &format, const QByteArray &data,
            const QString &topic)
{
    QJsonObject message;
    if (route.kind != TopicKind::FixedAnyPayload
        && !parseJsonMessage(data, format.tag, &message, format.empty, format.detail))
        return;
    if (route.handler)
        call(proxy, route.handler, message, topic);
}

// Subscribes every row, each delivering to its own handler.
template <class Proxy, class Handler, std::size_t N>
void subscribe(MqttClient &client, Proxy *proxy, const QString &base, const TopicRoute<Proxy, Handler> (&table)[N],
               const JsonFormat &format)
{
    for (const TopicRoute<Proxy, Handler> &route : table) {
        const TopicRoute<Proxy, Handler> *row = &route;
        QObject::connect(client.subscribe(route.fullTopic(base), 0, proxy), &MqttSubscription::messageReceived, proxy,
                         [proxy, row, format](const QByteArray &data, const QString &topic) {
                             handOn(proxy, *row, format, data, topic);
                         });
    }
}

// For a proxy that takes everything below its base through one "/#" subscription: the row of
// `topic`, or null for a topic it does not read.
template <class Proxy, class Handler, std::size_t N>
const TopicRoute<Proxy, Handler> *find(const QString &base, const TopicRoute<Proxy, Handler> (&table)[N],
                                      const QString &topic)
{
    if (!topic.startsWith(base))
        return nullptr;
    const QStringRef suffix = topic.midRef(base.size());
    for (const TopicRoute<Proxy, Handler> &route : table) {
        if (route.kind == TopicKind::BelowBase ? suffix == QLatin1String(route.topic) : topic == QLatin1String(route.topic))
            return &route;
    }
    return nullptr;
}

} // namespace routes
} // namespace manager
