#include "app/tintedicons.h"

#include <QColor>
#include <QDebug>
#include <QFile>
#include <QMutexLocker>
#include <QPainter>
#include <QQmlFile>
#include <QSvgRenderer>
#include <QUrl>

namespace {

const char Tag[] = "[TintedIcons] ";

// Every icon of the scene in every size and colour it is shown in is a few megabytes at most.
constexpr int CacheBytes = 16 * 1024 * 1024;

// The size to draw a picture of `natural` size at: fitted into what the item asked for, its
// shape kept, as Image does with a source size.
QSize fitted(const QSize &natural, const QSize &requested)
{
    if (natural.isEmpty())
        return requested.isEmpty() ? QSize() : requested;
    if (requested.width() > 0 && requested.height() > 0)
        return natural.scaled(requested, Qt::KeepAspectRatio);
    if (requested.width() > 0)
        return natural.scaled(requested.width(), INT_MAX, Qt::KeepAspectRatio);
    if (requested.height() > 0)
        return natural.scaled(INT_MAX, requested.height(), Qt::KeepAspectRatio);
    return natural;
}

// The colour takes the place of the picture's own, its alpha saying how much, and the picture
// keeps its shape and edges: what the scene's colour overlay did on the OpenGL path.
void tint(QImage &image, const QColor &colour)
{
    const int alpha = colour.alpha();
    const int red = colour.red();
    const int green = colour.green();
    const int blue = colour.blue();
    auto mix = [alpha](int own, int wanted) { return own + (wanted - own) * alpha / 255; };
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = qUnpremultiply(line[x]);
            const int coverage = qAlpha(pixel);
            if (!coverage)
                continue;
            line[x] = qPremultiply(qRgba(mix(qRed(pixel), red), mix(qGreen(pixel), green),
                                         mix(qBlue(pixel), blue), coverage));
        }
    }
}

} // namespace

const QString TintedIconProvider::Name = QStringLiteral("tinted");

TintedIconProvider::TintedIconProvider()
    : QQuickImageProvider(QQuickImageProvider::Image)
    , m_cache(CacheBytes)
{
}

QImage TintedIconProvider::requestImage(const QString &id, QSize *size, const QSize &requestedSize)
{
    const int slash = id.indexOf(QLatin1Char('/'));
    const QColor colour(QLatin1Char('#') + id.left(slash));
    const QString source = id.mid(slash + 1);
    const QString key = QStringLiteral("%1 %2x%3 %4")
                                .arg(source)
                                .arg(requestedSize.width())
                                .arg(requestedSize.height())
                                .arg(colour.rgba(), 8, 16);

    QMutexLocker locker(&m_mutex);
    if (const QImage *kept = m_cache.object(key)) {
        *size = kept->size();
        return *kept;
    }
    QImage image = draw(source, requestedSize);
    if (!image.isNull() && colour.isValid())
        tint(image, colour);
    if (image.isNull()) {
        // An empty picture of the asked size: the page keeps its layout and shows its texts.
        image = QImage(requestedSize.isEmpty() ? QSize(1, 1) : requestedSize, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
    }
    m_cache.insert(key, new QImage(image), int(qMin<qsizetype>(image.sizeInBytes(), CacheBytes)));
    *size = image.size();
    return image;
}

QImage TintedIconProvider::draw(const QString &source, const QSize &requestedSize)
{
    const QString file = QQmlFile::urlToLocalFileOrQrc(QUrl(source));
    const QString path = file.isEmpty() ? source : file;
    QImage image;
    QFile in(path);
    // Read here rather than by the renderer, whose own warning for a missing file would be a
    // second line.
    QSvgRenderer renderer;
    if (in.open(QIODevice::ReadOnly) && renderer.load(in.readAll()) && renderer.isValid()) {
        const QSize target = fitted(renderer.defaultSize(), requestedSize);
        if (!target.isEmpty()) {
            image = QImage(target, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            QPainter painter(&image);
            renderer.render(&painter);
        }
    }
    if (image.isNull() && !m_unreadable.contains(source)) {
        m_unreadable.insert(source);
        qWarning().noquote().nospace() << Tag << "WARN: Could not read icon : " << source;
    }
    return image;
}
