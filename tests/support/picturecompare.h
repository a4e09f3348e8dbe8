#pragma once

#include <QImage>
#include <QString>

// How far two pictures of the same page are apart, in the terms the eye uses: the mean
// per-channel difference over the whole picture (glyph and edge anti-aliasing), and the mean in
// the worst 16 x 16 square (a missing icon, a moved or missing text, a control without its face).
struct PictureDifference
{
    // Both out of 255.
    double mean = 0;
    double worst = 0;
    // Each pixel's largest channel difference, brightened, for a reviewer's eye.
    QImage shown;

    static constexpr double MeanLimit = 3;
    static constexpr double BlockLimit = 48;

    bool alike() const { return mean <= MeanLimit && worst <= BlockLimit; }
    // "mean difference 0.42, worst 16 px square 12.5"
    QString summary() const;

    // Pictures of different sizes are as far apart as can be.
    static PictureDifference between(const QImage &a, const QImage &b);
};
