#pragma once

#include <QCache>
#include <QImage>
#include <QMutex>
#include <QQuickImageProvider>
#include <QSet>
#include <QString>

// SVG icons drawn in one colour, as pictures the scene shows with a plain Image on either
// scene-graph back end (a colour overlay would need a shader). The scene asks for
// "image://tinted/<colour>/<icon url>", the colour as "rrggbb" or "aarrggbb" and the item's size as
// the image's source size; each icon, size and colour is drawn once and then kept.
// An icon that cannot be read comes out empty, with one warning naming it.
class TintedIconProvider : public QQuickImageProvider
{
public:
    static const QString Name;

    TintedIconProvider();

    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;

private:
    QImage draw(const QString &source, const QSize &requestedSize);

    QMutex m_mutex;
    QCache<QString, QImage> m_cache;
    QSet<QString> m_unreadable;
};
