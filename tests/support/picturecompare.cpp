#include "picturecompare.h"

#include <QString>
#include <QVector>

#include <algorithm>

QString PictureDifference::summary() const
{
    return QStringLiteral("mean difference %1, worst 16 px square %2").arg(mean, 0, 'f', 2).arg(worst, 0, 'f', 1);
}

PictureDifference PictureDifference::between(const QImage &first, const QImage &second)
{
    PictureDifference result;
    if (first.size() != second.size() || first.isNull()) {
        result.mean = result.worst = 255;
        return result;
    }
    const QImage a = first.convertToFormat(QImage::Format_RGB32);
    const QImage b = second.convertToFormat(QImage::Format_RGB32);
    result.shown = QImage(a.size(), QImage::Format_RGB32);
    // Squares of the page's smallest texts' size: what the eye calls "the same place looks
    // different".
    constexpr int Block = 16;
    const int columns = a.width() / Block + 1;
    QVector<double> blocks(columns * (a.height() / Block + 1), 0);
    double total = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto *pa = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const auto *pb = reinterpret_cast<const QRgb *>(b.constScanLine(y));
        auto *d = reinterpret_cast<QRgb *>(result.shown.scanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const int dr = qAbs(qRed(pa[x]) - qRed(pb[x]));
            const int dg = qAbs(qGreen(pa[x]) - qGreen(pb[x]));
            const int db = qAbs(qBlue(pa[x]) - qBlue(pb[x]));
            const double mean = (dr + dg + db) / 3.0;
            total += mean;
            blocks[(y / Block) * columns + x / Block] += mean / (Block * Block);
            const int shown = qMin(255, 4 * qMax(dr, qMax(dg, db)));
            d[x] = qRgb(shown, shown, shown);
        }
    }
    result.mean = total / (a.width() * a.height());
    result.worst = *std::max_element(blocks.cbegin(), blocks.cend());
    return result;
}
