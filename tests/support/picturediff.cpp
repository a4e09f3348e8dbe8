// Compares two folders of screenshots picture by picture, as the back-end test compares a page
// drawn two ways: for a change that must leave every page as it was.
//   tessivo-picture-diff BEFORE AFTER
// Prints one line per picture that is not byte-for-byte the same, and exits 1 when a picture is
// missing on either side or is not alike by the back-end test's limits.
#include "picturecompare.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QSet>
#include <QTextStream>

namespace {

QSet<QString> pictures(const QString &root)
{
    QSet<QString> names;
    const QDir dir(QDir(root).absolutePath());
    QDirIterator it(dir.path(), {QStringLiteral("*.png")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        names.insert(dir.relativeFilePath(it.next()));
    return names;
}

QByteArray bytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        out << "usage: tessivo-picture-diff BEFORE AFTER\n";
        return 2;
    }
    const QString before = args.at(1);
    const QString after = args.at(2);
    const QSet<QString> old = pictures(before);
    const QSet<QString> now = pictures(after);
    QStringList names = (old | now).values();
    names.sort();
    int same = 0, alike = 0, failed = 0;
    for (const QString &name : qAsConst(names)) {
        if (!old.contains(name) || !now.contains(name)) {
            out << name << ": only in " << (old.contains(name) ? before : after) << '\n';
            ++failed;
            continue;
        }
        const QByteArray a = bytes(before + QLatin1Char('/') + name);
        const QByteArray b = bytes(after + QLatin1Char('/') + name);
        if (a == b) {
            ++same;
            continue;
        }
        const PictureDifference difference = PictureDifference::between(QImage::fromData(a), QImage::fromData(b));
        const bool ok = difference.alike();
        out << name << ": " << difference.summary() << (ok ? "" : " (not alike)") << '\n';
        ++(ok ? alike : failed);
    }
    out << names.size() << " pictures: " << same << " the same, " << alike << " alike, " << failed << " different\n";
    return failed ? 1 : 0;
}
