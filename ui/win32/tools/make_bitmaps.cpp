// Turns pictures into plain 32-bit rows the Windows program draws as they are, so it needs no
// picture decoder of its own (GDI+ decodes JPEGs differently from libjpeg-turbo, which the Linux
// program shows them with).
//   make_bitmaps OUTDIR PICTURE...   writes OUTDIR/<picture's file name>.bitmap
// The format (little-endian): "LBMZ", width, height (32 bits each), then one zlib stream of the
// rows from the top, 4 bytes a pixel in the order blue, green, red, alpha (alpha not
// premultiplied). Plain rows of the pictures drawn for denser screens would add megabytes to the
// exe; deflated they cost about what the pictures' own files do, and the program inflates each
// with the zlib it links anyway. A fixed level gives the same bytes on every build.
#include <zlib.h>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <cstdint>
#include <cstdio>

namespace {

void putU32(QByteArray& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_bitmaps OUTDIR PICTURE...\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        QImageReader reader(path);
        reader.setAutoTransform(false);
        QImage image = reader.read();
        if (image.isNull()) {
            std::fprintf(stderr, "make_bitmaps: cannot read %s: %s\n", argv[i],
                         qPrintable(reader.errorString()));
            return 1;
        }
        // ARGB32 is B, G, R, A in memory on a little-endian machine.
        image = image.convertToFormat(QImage::Format_ARGB32);
        QByteArray rows;
        rows.reserve(static_cast<qsizetype>(image.width()) * image.height() * 4);
        for (int y = 0; y < image.height(); ++y)
            rows.append(reinterpret_cast<const char*>(image.constScanLine(y)), image.width() * 4);
        uLongf packedSize = compressBound(static_cast<uLong>(rows.size()));
        QByteArray packed(static_cast<qsizetype>(packedSize), Qt::Uninitialized);
        if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                      reinterpret_cast<const Bytef*>(rows.constData()),
                      static_cast<uLong>(rows.size()), Z_BEST_COMPRESSION) != Z_OK) {
            std::fprintf(stderr, "make_bitmaps: cannot compress %s\n", argv[i]);
            return 1;
        }
        packed.truncate(static_cast<qsizetype>(packedSize));
        QByteArray out("LBMZ");
        putU32(out, static_cast<std::uint32_t>(image.width()));
        putU32(out, static_cast<std::uint32_t>(image.height()));
        out.append(packed);
        QFile file(outDir + QLatin1Char('/') + QFileInfo(path).fileName() +
                   QStringLiteral(".bitmap"));
        if (!file.open(QIODevice::WriteOnly) || file.write(out) != out.size()) {
            std::fprintf(stderr, "make_bitmaps: cannot write %s\n", qPrintable(file.fileName()));
            return 1;
        }
    }
    return 0;
}
