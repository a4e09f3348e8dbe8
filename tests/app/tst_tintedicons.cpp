#include "app/resources.h"
#include "app/tintedicons.h"

#include "logcapture.h"

#include <QGuiApplication>
#include <QTest>

namespace {

const QString Valid = QStringLiteral("qrc:/qml/images/Icons/valid.svg");

// Pixels drawn at all (any coverage) and those covered fully.
int covered(const QImage &image, int atLeast = 1)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) >= atLeast;
    }
    return count;
}

} // namespace

class TestTintedIcons : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void drawnInTheColourAtTheItemsSize_data();
    void drawnInTheColourAtTheItemsSize();
    void translucentColourMixesAsTheOverlayDid();
    void keptPerIconSizeAndColour();
    void unreadableIconIsEmptyWithOneWarning();

private:
    TintedIconProvider m_provider;
};

void TestTintedIcons::initTestCase()
{
    initTessivoResources();
}

void TestTintedIcons::drawnInTheColourAtTheItemsSize_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QSize>("requested");
    QTest::addColumn<QSize>("expected");
    QTest::addColumn<QColor>("colour");

    QTest::newRow("valid 250 green") << Valid << QSize(250, 250) << QSize(250, 250) << QColor("#41b987");
    QTest::newRow("warning 300 red") << "qrc:/qml/images/Icons/warning.svg" << QSize(300, 300) << QSize(300, 300)
                                     << QColor("#db4a37");
    QTest::newRow("lock, natural size") << "qrc:/qml/images/Icons/lock.svg" << QSize() << QSize(24, 24)
                                        << QColor("#00add7");
    QTest::newRow("fitted") << "qrc:/qml/images/Icons/retry.svg" << QSize(32, 50) << QSize(32, 32) << QColor("#fcdb03");
}

// The icon comes at the size asked for (its shape kept), every drawn pixel in the colour,
// the space around it clear.
void TestTintedIcons::drawnInTheColourAtTheItemsSize()
{
    QFETCH(QString, source);
    QFETCH(QSize, requested);
    QFETCH(QSize, expected);
    QFETCH(QColor, colour);
    QSize size;
    const QImage image = m_provider.requestImage(colour.name().mid(1) + "/" + source, &size, requested);
    QCOMPARE(size, expected);
    QCOMPARE(image.size(), expected);
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    QVERIFY(covered(image, 255) > image.width());
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) == 255)
                QCOMPARE(QColor(pixel).name(), colour.name());
        }
    }
}

// A colour with alpha takes that share of the picture's own colour, as the scene's colour
// overlay did, and leaves the icon's coverage as it was: the light theme's text colour
// (87 % black) over the white icons.
void TestTintedIcons::translucentColourMixesAsTheOverlayDid()
{
    QSize size;
    const QImage white = m_provider.requestImage("ffffffff/" + Valid, &size, QSize(100, 100));
    const QImage tinted = m_provider.requestImage("dd000000/" + Valid, &size, QSize(100, 100));
    QCOMPARE(covered(tinted), covered(white));
    for (int y = 0; y < tinted.height(); ++y) {
        for (int x = 0; x < tinted.width(); ++x) {
            const QRgb pixel = tinted.pixel(x, y);
            if (qAlpha(pixel) == 255)
                QVERIFY2(qAbs(qRed(pixel) - 0x22) <= 1 && qRed(pixel) == qBlue(pixel), qPrintable(QColor(pixel).name()));
        }
    }
}

// Each icon, size and colour is drawn once: the same request gets the same picture back, a
// different colour or size a picture of its own.
void TestTintedIcons::keptPerIconSizeAndColour()
{
    QSize size;
    const QImage first = m_provider.requestImage("41b987/" + Valid, &size, QSize(80, 80));
    const QImage again = m_provider.requestImage("41b987/" + Valid, &size, QSize(80, 80));
    const QImage red = m_provider.requestImage("db4a37/" + Valid, &size, QSize(80, 80));
    const QImage larger = m_provider.requestImage("41b987/" + Valid, &size, QSize(90, 90));
    QCOMPARE(again.cacheKey(), first.cacheKey());
    QVERIFY(red.cacheKey() != first.cacheKey());
    QVERIFY(red != first);
    QCOMPARE(larger.size(), QSize(90, 90));
}

// An icon that is not there comes out clear at the asked size (the page keeps its layout and
// texts), with one warning naming it however often and at whatever size it is asked for.
void TestTintedIcons::unreadableIconIsEmptyWithOneWarning()
{
    const QString missing = QStringLiteral("qrc:/qml/images/Icons/no-such-icon.svg");
    LogCapture log;
    QSize size;
    const QImage image = m_provider.requestImage("41b987/" + missing, &size, QSize(250, 250));
    m_provider.requestImage("41b987/" + missing, &size, QSize(300, 300));
    m_provider.requestImage("db4a37/" + missing, &size, QSize(250, 250));
    QCOMPARE(image.size(), QSize(250, 250));
    QCOMPARE(covered(image), 0);
    QCOMPARE(log.texts(), QStringList{"[TintedIcons] WARN: Could not read icon : " + missing});
}

QTEST_MAIN(TestTintedIcons)
#include "tst_tintedicons.moc"
