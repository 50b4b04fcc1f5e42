// Writes the fuzzer's seed corpus: small bitmaps of every depth, run-length coded, with colour
// masks (odd widths, and in a version 4 header), top row first, and a PNG, so the fuzzer starts
// from every path the loader has.
//   make_seeds DIRECTORY

#include "bmp_writer.h"

#include <QBuffer>
#include <QDir>
#include <QFile>

#include <cstdio>

using namespace tirvel::testing;

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    const QDir directory(QString::fromLocal8Bit(argv[1]));
    if (!directory.mkpath(QStringLiteral(".")))
        return 1;
    const auto save = [&](const QString &name, const QByteArray &bytes) {
        return saveFile(directory.filePath(name), bytes);
    };
    bool saved = true;
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        saved &= save(
            QStringLiteral("depth%1.bmp").arg(bits), writeBmp(patternImage(13, 5, bits), bits));
        saved &= save(QStringLiteral("depth%1-top-down.bmp").arg(bits),
            writeBmp(patternImage(6, 4, bits), bits, true));
    }
    saved &= save(QStringLiteral("rle8.bmp"), writeRle8Bmp(patternImage(17, 6, 8)));
    saved &= save(QStringLiteral("rle4.bmp"), writeRle4Bmp(patternImage(17, 6, 4)));
    saved &= save(QStringLiteral("masks16.bmp"), writeBitFieldsBmp(patternImage(9, 4, 16), 16));
    saved &= save(QStringLiteral("masks32.bmp"), writeBitFieldsBmp(patternImage(9, 4, 32), 32));
    const QList<std::uint32_t> pixels {
        0, 0xFFFFFFFFu, 0x12345678u, 0x9ABCDEF0u, 0x0F0F0F0Fu, 0xF0F0F0F0u};
    saved &= save(QStringLiteral("masks16-3-7-4.bmp"),
        writeBitFieldsBmp(3, 2, 16, {0x3800, 0x07F0, 0xF}, pixels));
    saved &= save(QStringLiteral("masks32-v4.bmp"),
        writeBitFieldsBmp(3, 2, 32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, pixels));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    patternImage(8, 8).save(&buffer, "PNG");
    saved &= save(QStringLiteral("picture.png"), png);
    return saved ? 0 : 1;
}
