#include "maintenance/qrcodegenerator.h"

#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>

using Ecc = qrcodegen::QrCode::Ecc;

namespace {

const QString Head = QStringLiteral(
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG 1.1//EN\" "
    "\"http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd\"><svg xmlns=\"http://www.w3.org/2000/svg\" "
    "version=\"1.1\" viewBox=\"0 0 ");
const QString Tail = QStringLiteral("\" fill=\"#000000\"/></svg>");

// A diagnostics summary of 35 fields, as the test report shows it.
QString summaryText()
{
    QStringList lines;
    lines << "Serial number : 0123456789" << "Application : 1.0.21" << "Date : 2024-05-15 12:00:00";
    const char *checks[] = {"RFID reader", "Barcode reader", "SAM 1", "SAM 2", "Display",
                            "Backlight", "Touch", "Buzzer", "LED red", "LED green", "LED blue",
                            "Ignition", "Ethernet", "Wi-Fi", "Modem", "GPS", "SD card",
                            "USB hub", "USB port 1", "USB port 2", "Serial loop", "Audio",
                            "Clock", "NTP", "Temperature", "Voltage", "Broker", "Validation",
                            "Board", "Inspector", "Network", "Device"};
    int i = 0;
    for (const char *check : checks) {
        ++i;
        const QString result = i % 7 == 0
            ? QStringLiteral("FAIL (code 0x%1)").arg(i * 37, 4, 16, QLatin1Char('0'))
            : QStringLiteral("OK");
        lines << QStringLiteral("%1 : %2 (%3 ms)").arg(QLatin1String(check), result)
                     .arg(i * 13 % 97);
    }
    return lines.join('\n');
}

} // namespace

class TestQrCode : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void svgFrame_data();
    void svgFrame();
    void decodesBackToText_data();
    void decodesBackToText();
    void capacityLimitFailsCleanly_data();
    void capacityLimitFailsCleanly();

private:
    QString decode(const QString &svg);

    QTemporaryDir m_dir;
    QString m_zbarimg;
};

void TestQrCode::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_zbarimg = QStandardPaths::findExecutable(QStringLiteral("zbarimg"));
    QVERIFY2(!m_zbarimg.isEmpty(), "zbarimg is not installed");
}

// Renders the SVG at 8 pixels per module and reads it back with a real QR decoder.
QString TestQrCode::decode(const QString &svg)
{
    QSvgRenderer renderer(svg.toUtf8());
    if (!renderer.isValid())
        return QStringLiteral("<invalid svg>");
    const QSize size = renderer.viewBox().size() * 8;
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::gray); // anything the SVG leaves unpainted shows up
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    const QString file = m_dir.filePath(QStringLiteral("qr.png"));
    if (!image.save(file))
        return QStringLiteral("<unsaved png>");

    QProcess zbar;
    zbar.start(m_zbarimg, {QStringLiteral("--raw"), QStringLiteral("-q"), file});
    if (!zbar.waitForFinished(30000))
        return QStringLiteral("<zbarimg hung>");
    QString text = QString::fromUtf8(zbar.readAllStandardOutput());
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text;
}

// One line: the fixed head, a view box of size plus two borders, one white rectangle and one
// path of unit squares starting at the top-left finder module.
void TestQrCode::svgFrame_data()
{
    QTest::addColumn<quint16>("border");
    QTest::addColumn<int>("viewSide");

    QTest::newRow("border 1") << quint16(1) << 23;
    QTest::newRow("border 0") << quint16(0) << 21;
    QTest::newRow("border 4") << quint16(4) << 29;
}

void TestQrCode::svgFrame()
{
    QFETCH(quint16, border);
    QFETCH(int, viewSide);

    bool ok = false;
    const QString svg = QrCodeGenerator().generateSvgQr(QStringLiteral("abc"), border,
                                                        Ecc::MEDIUM, &ok);

    QVERIFY(ok);
    const QString start = Head + QStringLiteral("%1 %1\" stroke=\"none\"><rect width=\"100%\" "
                                                "height=\"100%\" fill=\"#FFFFFF\"/><path d=\"M%2,%2h1v1h-1z ")
                                     .arg(viewSide).arg(border);
    QVERIFY2(svg.startsWith(start), qPrintable(svg.left(start.size())));
    QVERIFY(svg.endsWith(Tail));
    QVERIFY(!svg.contains(QLatin1Char('\n')));
    QVERIFY(!svg.contains(QStringLiteral("  ")));
    QCOMPARE(svg.count(QStringLiteral("<path")), 1);
    QCOMPARE(svg.count(QStringLiteral("<rect")), 1);
}

// What a phone or a handheld reads from the drawn code is the text that went in.
void TestQrCode::decodesBackToText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("ecc");

    QTest::newRow("short") << "Tessivo" << int(Ecc::MEDIUM);
    QTest::newRow("digits low") << "0123456789" << int(Ecc::LOW);
    QTest::newRow("greek") << "Έλεγχος συσκευής: ΕΝΤΑΞΕΙ" << int(Ecc::MEDIUM);
    QTest::newRow("symbols high") << "a=b; c,\"d\" <e> & 100%" << int(Ecc::HIGH);
    const QString summary = summaryText();
    QVERIFY(summary.size() > 600 && summary.size() < 900);
    QTest::newRow("summary") << summary << int(Ecc::MEDIUM);
}

void TestQrCode::decodesBackToText()
{
    QFETCH(QString, text);
    QFETCH(int, ecc);

    bool ok = false;
    const QString svg = QrCodeGenerator().generateSvgQr(text, 1, Ecc(ecc), &ok);

    QVERIFY(ok);
    QCOMPARE(decode(svg), text);
}

// At the capacity limit the last byte that fits gives a symbol, one more gives an empty
// result and a failure flag, never an exception.
void TestQrCode::capacityLimitFailsCleanly_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("ecc");
    QTest::addColumn<bool>("fits");

    // Byte-mode capacity of a version 40 symbol: 2331 bytes at MEDIUM, 1273 at HIGH.
    QTest::newRow("medium fits") << 2331 << int(Ecc::MEDIUM) << true;
    QTest::newRow("medium one more") << 2332 << int(Ecc::MEDIUM) << false;
    QTest::newRow("high fits") << 1273 << int(Ecc::HIGH) << true;
    QTest::newRow("high one more") << 1274 << int(Ecc::HIGH) << false;
    QTest::newRow("far too long") << 100000 << int(Ecc::LOW) << false;
}

void TestQrCode::capacityLimitFailsCleanly()
{
    QFETCH(int, length);
    QFETCH(int, ecc);
    QFETCH(bool, fits);

    bool ok = !fits;
    const QString svg = QrCodeGenerator().generateSvgQr(QString(length, QLatin1Char('x')), 1,
                                                        Ecc(ecc), &ok);

    QCOMPARE(ok, fits);
    QCOMPARE(svg.isEmpty(), !fits);
    if (fits)
        QVERIFY(svg.startsWith(Head + QStringLiteral("179 179\"")));
}

QTEST_MAIN(TestQrCode)
#include "tst_qrcode.moc"
