#pragma once

#include <QObject>
#include <QString>

#include <qrcodegen/qrcodegen.hpp>


// Draws a text as a QR code in SVG: one white rectangle and one black path of unit squares,
// one per dark module, with a quiet zone of `border` modules on each side.
class QrCodeGenerator : public QObject
{
    Q_OBJECT

public:
    explicit QrCodeGenerator(QObject *parent = nullptr);

    // The SVG text of the symbol for `text` (as UTF-8) at level `ecc`. A text too long for the
    // largest symbol at that level gives an empty text and *ok set to false; nothing is thrown.
    QString generateSvgQr(const QString &text, quint16 border, qrcodegen::QrCode::Ecc ecc,
                          bool *ok = nullptr) const;

    // The symbol as a one-line SVG document.
    static QString toSvgString(const qrcodegen::QrCode &qr, quint16 border);
};

