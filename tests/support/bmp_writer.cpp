#include "bmp_writer.h"

#include <QFile>
#include <QHash>
#include <QList>

#include <algorithm>

namespace tirvel::testing {

namespace {

constexpr int FILE_AND_INFO_HEADER = 54;

QList<QRgb> paletteOf(const QImage &image, int bitsPerPixel)
{
    QList<QRgb> palette;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb colour = image.pixel(x, y) | 0xFF000000u;
            if (!palette.contains(colour))
                palette.append(colour);
        }
    }
    Q_ASSERT(palette.size() <= (1 << bitsPerPixel));
    return palette;
}

QByteArray headers(const QImage &image, int bitsPerPixel, int height, std::uint32_t compression,
    const QList<QRgb> &palette)
{
    QByteArray bytes(FILE_AND_INFO_HEADER + palette.size() * 4, '\0');
    bytes[0] = 'B';
    bytes[1] = 'M';
    putU32(bytes, bmp::PIXELS_OFFSET, std::uint32_t(bytes.size()));
    putU32(bytes, bmp::HEADER_SIZE, 40);
    putU32(bytes, bmp::WIDTH, std::uint32_t(image.width()));
    putU32(bytes, bmp::HEIGHT, std::uint32_t(height));
    putU16(bytes, 26, 1); // planes
    putU16(bytes, bmp::BITS_PER_PIXEL, std::uint16_t(bitsPerPixel));
    putU32(bytes, bmp::COMPRESSION, compression);
    putU32(bytes, 38, 3780); // 96 dpi in pixels per metre
    putU32(bytes, 42, 3780);
    putU32(bytes, bmp::COLOURS_USED, std::uint32_t(palette.size()));
    for (qsizetype i = 0; i < palette.size(); ++i) {
        bytes[bmp::PALETTE + 4 * i] = char(qBlue(palette[i]));
        bytes[bmp::PALETTE + 4 * i + 1] = char(qGreen(palette[i]));
        bytes[bmp::PALETTE + 4 * i + 2] = char(qRed(palette[i]));
    }
    return bytes;
}

void finish(QByteArray &bytes)
{
    putU32(bytes, 2, std::uint32_t(bytes.size()));
}

} // namespace

void putU16(QByteArray &bytes, qsizetype at, std::uint16_t value)
{
    bytes[at] = char(value & 0xFF);
    bytes[at + 1] = char(value >> 8);
}

void putU32(QByteArray &bytes, qsizetype at, std::uint32_t value)
{
    putU16(bytes, at, std::uint16_t(value & 0xFFFF));
    putU16(bytes, at + 2, std::uint16_t(value >> 16));
}

QByteArray writeBmp(const QImage &image, int bitsPerPixel, bool topDown)
{
    const QList<QRgb> palette = bitsPerPixel <= 8 ? paletteOf(image, bitsPerPixel) : QList<QRgb>();
    QHash<QRgb, int> indexOf;
    for (qsizetype i = 0; i < palette.size(); ++i)
        indexOf.insert(palette[i], int(i));

    QByteArray bytes
        = headers(image, bitsPerPixel, topDown ? -image.height() : image.height(), 0, palette);
    const int rowBytes = (image.width() * bitsPerPixel + 31) / 32 * 4;
    for (int row = 0; row < image.height(); ++row) {
        const int y = topDown ? row : image.height() - 1 - row;
        QByteArray line(rowBytes, '\0');
        for (int x = 0; x < image.width(); ++x) {
            const QRgb colour = image.pixel(x, y) | 0xFF000000u;
            switch (bitsPerPixel) {
            case 1:
                line[x / 8] = char(line[x / 8] | (indexOf.value(colour) << (7 - x % 8)));
                break;
            case 4:
                line[x / 2] = char(line[x / 2] | (indexOf.value(colour) << (x % 2 == 0 ? 4 : 0)));
                break;
            case 8:
                line[x] = char(indexOf.value(colour));
                break;
            case 16: {
                const int value
                    = (qRed(colour) >> 3) << 10 | (qGreen(colour) >> 3) << 5 | qBlue(colour) >> 3;
                line[2 * qsizetype(x)] = char(value & 0xFF);
                line[2 * qsizetype(x) + 1] = char(value >> 8);
                break;
            }
            default: {
                const int step = bitsPerPixel / 8;
                line[qsizetype(step) * x] = char(qBlue(colour));
                line[qsizetype(step) * x + 1] = char(qGreen(colour));
                line[qsizetype(step) * x + 2] = char(qRed(colour));
                break;
            }
            }
        }
        bytes += line;
    }
    finish(bytes);
    return bytes;
}

namespace {

QByteArray writeRunLengths(const QImage &image, int bitsPerPixel)
{
    const QList<QRgb> palette = paletteOf(image, bitsPerPixel);
    QByteArray bytes
        = headers(image, bitsPerPixel, image.height(), bitsPerPixel == 8 ? 1 : 2, palette);
    for (int y = image.height() - 1; y >= 0; --y) {
        int x = 0;
        while (x < image.width()) {
            const QRgb colour = image.pixel(x, y) | 0xFF000000u;
            int run = 1;
            while (x + run < image.width() && run < 255
                && (image.pixel(x + run, y) | 0xFF000000u) == colour)
                ++run;
            const int index = int(palette.indexOf(colour));
            bytes += char(run);
            bytes += char(bitsPerPixel == 8 ? index : index << 4 | index);
            x += run;
        }
        bytes += QByteArray("\0\0", 2); // end of line
    }
    bytes += QByteArray("\0\1", 2); // end of picture
    finish(bytes);
    return bytes;
}

} // namespace

QByteArray writeRle8Bmp(const QImage &image)
{
    return writeRunLengths(image, 8);
}

QByteArray writeRle4Bmp(const QImage &image)
{
    return writeRunLengths(image, 4);
}

QByteArray writeBitFieldsBmp(const QImage &image, int bitsPerPixel)
{
    const bool wide = bitsPerPixel == 32;
    QList<std::uint32_t> pixels;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            pixels << (wide
                    ? c & 0x00FFFFFFu
                    : std::uint32_t((qRed(c) >> 3) << 11 | (qGreen(c) >> 2) << 5 | qBlue(c) >> 3));
        }
    }
    const ColourMasks masks = wide ? ColourMasks {0x00FF0000u, 0x0000FF00u, 0x000000FFu}
                                   : ColourMasks {0xF800u, 0x07E0u, 0x001Fu};
    return writeBitFieldsBmp(image.width(), image.height(), bitsPerPixel, masks, pixels);
}

QByteArray writeBitFieldsBmp(
    int width, int height, int bitsPerPixel, ColourMasks masks, const QList<std::uint32_t> &pixels)
{
    QByteArray bytes = headers(QImage(width, 1, QImage::Format_RGB32), bitsPerPixel, height, 3, {});
    // A version 4 header holds the masks, alpha too, in its 68 more bytes; the short header is
    // followed by three.
    const bool v4 = masks.alpha != 0;
    QByteArray fields(v4 ? 68 : 12, '\0');
    putU32(fields, 0, masks.red);
    putU32(fields, 4, masks.green);
    putU32(fields, 8, masks.blue);
    if (v4) {
        putU32(fields, 12, masks.alpha);
        putU32(bytes, bmp::HEADER_SIZE, 40 + 68);
    }
    bytes += fields;
    putU32(bytes, bmp::PIXELS_OFFSET, std::uint32_t(bytes.size()));
    const int rowBytes = (width * bitsPerPixel + 31) / 32 * 4;
    for (int y = height - 1; y >= 0; --y) {
        QByteArray line(rowBytes, '\0');
        for (int x = 0; x < width; ++x) {
            const std::uint32_t value = pixels[qsizetype(y) * width + x];
            if (bitsPerPixel == 32)
                putU32(line, 4 * qsizetype(x), value);
            else
                putU16(line, 2 * qsizetype(x), std::uint16_t(value));
        }
        bytes += line;
    }
    finish(bytes);
    return bytes;
}

QImage patternImage(int width, int height, int bitsPerPixel)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            QRgb colour;
            if (bitsPerPixel <= 8) {
                // A few colours, placed so that neighbouring pixels and rows differ.
                static const QRgb COLOURS[] = {0xFF000000, 0xFFFFFFFF, 0xFF663399, 0xFFFFCC00,
                    0xFF00C800, 0xFFFF0066, 0xFF123456, 0xFF808080};
                const int count = std::min(8, 1 << bitsPerPixel);
                colour = COLOURS[(x + 3 * y) % count];
            } else if (bitsPerPixel == 16) {
                // Channels whose low three bits are zero survive five bits each way.
                colour
                    = qRgb((x & 1) ? 0xF8 : 0, (y & 1) ? 0xF8 : 0x40, ((x + y) & 2) ? 0xF8 : 0x08);
            } else {
                colour = qRgb(x & 0xFF, y & 0xFF, (x * 7 + y * 13) & 0xFF);
            }
            image.setPixel(x, y, colour);
        }
    }
    return image;
}

bool saveFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(bytes) == bytes.size();
}

} // namespace tirvel::testing
