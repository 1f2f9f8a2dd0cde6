// Build-time tool: writes the desktop icon theme's PNGs from the program's
// .ico file.
//
//   icon-png ICO OUTDIR SIZE...   writes OUTDIR/SIZExSIZE/apps/packscope.png
//
// Each size is made from the largest picture in the .ico. The battery is
// drawn on whole pixels, so an enlargement by a whole factor repeats pixels
// and stays sharp; another enlargement goes through the next whole factor up
// and is then smoothed down; a reduction is smoothed.
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QImageReader>
#include <cstdio>

namespace {
QImage scaledIcon(const QImage &source, int size)
{
    const int from = source.width();
    if (size == from)
        return source;
    if (size < from)
        return source.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const int factor = (size + from - 1) / from;
    const QImage big = source.scaled(from * factor, from * factor, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    return big.width() == size ? big : big.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: icon-png ICO OUTDIR SIZE...\n");
        return 2;
    }
    QImageReader reader(args[1]);
    QImage source;
    do {
        const QImage image = reader.read();
        if (!image.isNull() && image.width() > source.width())
            source = image;
    } while (reader.jumpToNextImage());
    if (source.isNull()) {
        std::fprintf(stderr, "icon-png: cannot read %s: %s\n", qPrintable(args[1]), qPrintable(reader.errorString()));
        return 1;
    }
    source = source.convertToFormat(QImage::Format_ARGB32);
    if (source.width() != source.height())
        source = source.scaled(source.width(), source.width(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    for (int i = 3; i < args.size(); ++i) {
        const int size = args[i].toInt();
        if (size <= 0 || size > 1024) {
            std::fprintf(stderr, "icon-png: bad size %s\n", qPrintable(args[i]));
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(args[2]).arg(size);
        if (!QDir().mkpath(dir) || !scaledIcon(source, size).save(dir + QStringLiteral("/packscope.png"), "PNG")) {
            std::fprintf(stderr, "icon-png: cannot write %s\n", qPrintable(dir));
            return 1;
        }
    }
    return 0;
}
