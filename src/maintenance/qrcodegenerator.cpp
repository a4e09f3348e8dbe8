#include "qrcodegenerator.h"

#include <exception>
#include <vector>

// The symbol (segments, version, mask, error correction) comes from the qrcodegen library;
// this file only serialises its module grid.


QrCodeGenerator::QrCodeGenerator(QObject *parent)
    : QObject(parent)
{
}

QString QrCodeGenerator::generateSvgQr(const QString &text, quint16 border,
                                       qrcodegen::QrCode::Ecc ecc, bool *ok) const
{
    if (ok)
        *ok = false;
    const QByteArray utf8 = text.toUtf8();
    try {
        // The text encoder reads a C string; a text holding a NUL character goes in as bytes
        // so that nothing after the NUL is lost.
        if (utf8.contains('\0')) {
            const std::vector<std::uint8_t> bytes(utf8.cbegin(), utf8.cend());
            const QString svg = toSvgString(qrcodegen::QrCode::encodeBinary(bytes, ecc), border);
            if (ok)
                *ok = true;
            return svg;
        }
        const QString svg = toSvgString(qrcodegen::QrCode::encodeText(utf8.constData(), ecc),
                                        border);
        if (ok)
            *ok = true;
        return svg;
    } catch (const std::exception &) {
        // qrcodegen::data_too_long (a std::length_error): the text does not fit in a version 40
        // symbol at this level. The caller shows no code rather than losing the program.
        return QString();
    }
}

QString QrCodeGenerator::toSvgString(const qrcodegen::QrCode &qr, quint16 border)
{
    const int size = qr.getSize();
    const int n = size + 2 * int(border);

    QString svg;
    // About 20 characters per dark module, and roughly half the modules are dark.
    svg.reserve(400 + size * size * 10);
    svg += QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    svg += QStringLiteral("<!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG 1.1//EN\" "
                          "\"http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd\">");
    svg += QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" viewBox=\"0 0 ");
    svg += QString::number(n) + QLatin1Char(' ') + QString::number(n);
    svg += QStringLiteral("\" stroke=\"none\"><rect width=\"100%\" height=\"100%\" fill=\"#FFFFFF\"/><path d=\"");
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            if (!qr.getModule(x, y))
                continue;
            if (x != 0 || y != 0)
                svg += QLatin1Char(' ');
            svg += QLatin1Char('M') + QString::number(x + border) + QLatin1Char(',')
                   + QString::number(y + border) + QStringLiteral("h1v1h-1z");
        }
    }
    svg += QStringLiteral("\" fill=\"#000000\"/></svg>");
    return svg;
}

