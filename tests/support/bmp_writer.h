#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>

#include <cstdint>

namespace tirvel::testing {

// Writes pictures as Windows bitmaps byte by byte, so tests control every field of the file
// (depth, row order, compression) and can damage it on purpose. Depths 1, 4 and 8 build their
// palette from the picture's colours, which must fit; 16 is 5-5-5 and keeps only the top five
// bits of each channel.
QByteArray writeBmp(const QImage &image, int bitsPerPixel = 24, bool topDown = false);

// An 8-bit run-length coded bitmap: each row as runs of equal pixels, then end of line, and the
// end-of-picture marker after the last row.
QByteArray writeRle8Bmp(const QImage &image);

// A 4-bit run-length coded bitmap, runs of equal pixels as in writeRle8Bmp.
QByteArray writeRle4Bmp(const QImage &image);

// A 16- or 32-bit bitmap with explicit colour masks: 5-6-5 for 16 bits, 8-8-8 for 32.
QByteArray writeBitFieldsBmp(const QImage &image, int bitsPerPixel);

struct ColourMasks
{
    std::uint32_t red = 0;
    std::uint32_t green = 0;
    std::uint32_t blue = 0;
    std::uint32_t alpha = 0; // other than 0, the masks go in a version 4 header
};

// A 16- or 32-bit bitmap with the given masks and raw pixel values, top row first.
QByteArray writeBitFieldsBmp(
    int width, int height, int bitsPerPixel, ColourMasks masks, const QList<std::uint32_t> &pixels);

// Little-endian field access for damaging a file on purpose.
void putU16(QByteArray &bytes, qsizetype at, std::uint16_t value);
void putU32(QByteArray &bytes, qsizetype at, std::uint32_t value);

// Offsets of header fields, counted from the start of the file.
namespace bmp {
inline constexpr qsizetype PIXELS_OFFSET = 10;
inline constexpr qsizetype HEADER_SIZE = 14;
inline constexpr qsizetype WIDTH = 18;
inline constexpr qsizetype HEIGHT = 22;
inline constexpr qsizetype BITS_PER_PIXEL = 28;
inline constexpr qsizetype COMPRESSION = 30;
inline constexpr qsizetype COLOURS_USED = 46;
inline constexpr qsizetype PALETTE = 54;
} // namespace bmp

// A picture whose pixels are all different where the depth allows, so misplaced rows or columns
// show: for depths of 8 bits or less it uses at most 2^depth colours.
QImage patternImage(int width, int height, int bitsPerPixel = 24);

// Saves bytes to a file, failing the calling test when that does not work.
bool saveFile(const QString &path, const QByteArray &bytes);

} // namespace tirvel::testing
