#include "bmp_check.h"

#include "picture_file.h"

#include <algorithm>
#include <bit>
#include <cstdlib>

namespace tirvel {

namespace {

constexpr qsizetype FILE_HEADER_SIZE = 14;
constexpr std::uint32_t CORE_HEADER_SIZE = 12;
constexpr std::uint32_t INFO_HEADER_SIZE = 40;
constexpr std::uint32_t OS2_HEADER_SIZE = 64;
constexpr std::uint32_t V4_HEADER_SIZE = 108;
constexpr std::uint32_t V5_HEADER_SIZE = 124;
constexpr qsizetype BIT_FIELDS_SIZE = 12;
// Qt widens a channel of up to 8 bits by shifting; a wider one comes out black.
constexpr int MAX_MASK_BITS = 8;

enum Compression : std::uint32_t { Rgb = 0, Rle8 = 1, Rle4 = 2, BitFields = 3 };

std::uint32_t readU16(QByteArrayView data, qsizetype at)
{
    return static_cast<std::uint8_t>(data[at]) | static_cast<std::uint8_t>(data[at + 1]) << 8;
}

std::uint32_t readU32(QByteArrayView data, qsizetype at)
{
    return readU16(data, at) | readU16(data, at + 2) << 16;
}

std::int32_t readI32(QByteArrayView data, qsizetype at)
{
    return static_cast<std::int32_t>(readU32(data, at));
}

struct Header
{
    std::uint32_t size = 0;
    std::int64_t width = 0;
    std::int64_t height = 0; // negative for a picture stored top row first
    std::uint32_t bitsPerPixel = 0;
    std::uint32_t compression = Rgb;
    std::uint32_t coloursUsed = 0;
    qsizetype paletteEntrySize = 4;
};

std::optional<QString> readHeader(QByteArrayView file, Header &header)
{
    if (file.size() < FILE_HEADER_SIZE + 4)
        return QStringLiteral("the file ends inside its header");
    header.size = readU32(file, FILE_HEADER_SIZE);
    // Qt reads any other size as the oldest header, so the fields would not be where we look.
    switch (header.size) {
    case CORE_HEADER_SIZE:
    case INFO_HEADER_SIZE:
    case OS2_HEADER_SIZE:
    case V4_HEADER_SIZE:
    case V5_HEADER_SIZE:
        break;
    default:
        return QStringLiteral("unknown header size %1").arg(header.size);
    }
    if (file.size() < FILE_HEADER_SIZE + header.size)
        return QStringLiteral("the file ends inside its header");

    constexpr qsizetype FIELDS_AT = FILE_HEADER_SIZE + 4;
    if (header.size == CORE_HEADER_SIZE) {
        header.width = readU16(file, FIELDS_AT);
        header.height = readU16(file, FIELDS_AT + 2);
        header.bitsPerPixel = readU16(file, FIELDS_AT + 6);
        header.paletteEntrySize = 3;
        return std::nullopt;
    }
    header.width = readI32(file, FIELDS_AT);
    header.height = readI32(file, FIELDS_AT + 4);
    header.bitsPerPixel = readU16(file, FIELDS_AT + 10);
    header.compression = readU32(file, FIELDS_AT + 12);
    header.coloursUsed = readU32(file, FIELDS_AT + 28);
    return std::nullopt;
}

// The masks follow a short header and are part of a long one.
qsizetype masksAt(const Header &header)
{
    return FILE_HEADER_SIZE + (header.size < V4_HEADER_SIZE ? header.size : INFO_HEADER_SIZE);
}

std::optional<QString> checkBitFields(QByteArrayView file, const Header &header)
{
    if (file.size() < masksAt(header) + BIT_FIELDS_SIZE)
        return QStringLiteral("the file ends inside its colour masks");
    if (header.bitsPerPixel != 16 && header.bitsPerPixel != 32)
        return QStringLiteral("colour masks need 16 or 32 bits per pixel");
    // Only what Qt's reader decodes exactly: each channel one run of at most 8 bits, apart from
    // the others. The alpha mask of a long header is left out; the picture is made opaque.
    std::uint32_t taken = 0;
    for (qsizetype i = 0; i < 3; ++i) {
        const std::uint32_t mask = readU32(file, masksAt(header) + 4 * i);
        if (mask == 0)
            return QStringLiteral("a colour mask is empty");
        const std::uint32_t run = mask >> std::countr_zero(mask);
        if ((run & (run + 1)) != 0)
            return QStringLiteral("colour mask %1 is not one run of bits")
                .arg(mask, 8, 16, QLatin1Char('0'));
        if (std::popcount(mask) > MAX_MASK_BITS)
            return QStringLiteral("colour mask %1 is wider than %2 bits")
                .arg(mask, 8, 16, QLatin1Char('0'))
                .arg(MAX_MASK_BITS);
        if ((taken & mask) != 0)
            return QStringLiteral("colour masks overlap");
        taken |= mask;
    }
    return std::nullopt;
}

// Whether the first `pixels` palette indexes from byte `at` on name entries that exist. Below 8
// bits a byte holds several pixels, the leftmost in its high bits.
bool indexesFit(QByteArrayView file, qsizetype at, std::int64_t pixels, std::uint32_t bitsPerPixel,
    std::uint32_t entries)
{
    const std::uint32_t perByte = 8 / bitsPerPixel;
    const std::uint32_t mask = (1u << bitsPerPixel) - 1;
    for (std::int64_t i = 0; i < pixels; ++i) {
        const auto byte = static_cast<std::uint8_t>(file[at + qsizetype(i / perByte)]);
        const std::uint32_t shift = 8 - bitsPerPixel * std::uint32_t(i % perByte + 1);
        if (((byte >> shift) & mask) >= entries)
            return false;
    }
    return true;
}

// Follows the run-length codes to their end marker without decoding them. The format lets codes
// leave pixels unset (moves, early ends of a line or of the picture), and Qt's reader then hands
// out whatever memory held; a frame with such pixels cannot be compared, so it is refused.
std::optional<QString> walkRunLengths(
    QByteArrayView file, qsizetype at, const Header &header, std::uint32_t entries)
{
    const auto outsidePalette = QStringLiteral("a pixel uses a colour outside the palette");
    const auto endsEarly = QStringLiteral("the file ends before the end of its pixel data");
    const std::int64_t width = header.width;
    const std::int64_t height = header.height;
    std::int64_t x = 0;
    std::int64_t y = 0;
    const auto drawAcross = [&](std::int64_t count) -> std::optional<QString> {
        x += count;
        if (y >= height || x > width)
            return QStringLiteral("a run goes past the edge of the picture");
        return std::nullopt;
    };
    for (;;) {
        if (at + 2 > file.size())
            return endsEarly;
        const auto count = static_cast<std::uint8_t>(file[at]);
        const auto code = static_cast<std::uint8_t>(file[at + 1]);
        at += 2;
        if (count > 0) {
            if (auto fault = drawAcross(count))
                return fault;
            if (!indexesFit(file, at - 1, std::min(int(count), int(8 / header.bitsPerPixel)),
                    header.bitsPerPixel, entries))
                return outsidePalette;
            continue;
        }
        switch (code) {
        case 0: // end of line
            if (y < height && x < width)
                return QStringLiteral("run-length codes leave pixels of row %1 unset").arg(y);
            x = 0;
            ++y;
            break;
        case 1: // end of picture
            if (y < height - 1 || (y == height - 1 && x < width))
                return QStringLiteral("run-length codes end before the last pixel");
            return std::nullopt;
        case 2: // move right and up
            if (at + 2 > file.size())
                return endsEarly;
            if (file[at] != 0 || file[at + 1] != 0)
                return QStringLiteral("run-length codes skip pixels");
            at += 2;
            break;
        default: { // literal pixels, padded to a whole 16-bit word
            if (auto fault = drawAcross(code))
                return fault;
            const qsizetype bytes = header.bitsPerPixel == 8 ? code : (code + 1) / 2;
            if (at + bytes > file.size())
                return endsEarly;
            if (!indexesFit(file, at, code, header.bitsPerPixel, entries))
                return outsidePalette;
            at += (bytes + 1) & ~qsizetype(1);
            if (at > file.size())
                return endsEarly;
            break;
        }
        }
    }
}

} // namespace

std::optional<QString> findBmpFault(QByteArrayView file)
{
    if (file.size() < 2 || file[0] != 'B' || file[1] != 'M')
        return QStringLiteral("not a Windows bitmap");
    Header header;
    if (auto fault = readHeader(file, header))
        return fault;

    if (header.width <= 0 || header.height == 0)
        return QStringLiteral("the picture has no pixels");
    const std::int64_t rows = std::llabs(header.height);
    if (header.width * rows > MAX_PICTURE_PIXELS)
        return tooLargeText(header.width, rows);

    switch (header.bitsPerPixel) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        break;
    default:
        return QStringLiteral("%1 bits per pixel is not a bitmap depth").arg(header.bitsPerPixel);
    }

    qsizetype tablesEnd = FILE_HEADER_SIZE + header.size;
    switch (header.compression) {
    case Rgb:
        break;
    case BitFields:
        if (auto fault = checkBitFields(file, header))
            return fault;
        tablesEnd = std::max(tablesEnd, masksAt(header) + BIT_FIELDS_SIZE);
        break;
    case Rle8:
    case Rle4:
        if (header.bitsPerPixel != (header.compression == Rle8 ? 8u : 4u))
            return QStringLiteral("run-length coding does not fit %1 bits per pixel")
                .arg(header.bitsPerPixel);
        if (header.height < 0)
            return QStringLiteral("run-length coded pictures cannot be stored top row first");
        break;
    default:
        return QStringLiteral("unsupported compression %1").arg(header.compression);
    }

    // Qt's reader takes an index past a short palette from memory the file never described.
    std::uint32_t entries = 0;
    if (header.bitsPerPixel <= 8) {
        const std::uint32_t paletteMax = 1u << header.bitsPerPixel;
        if (header.coloursUsed > paletteMax)
            return QStringLiteral("the palette claims %1 colours").arg(header.coloursUsed);
        entries = header.coloursUsed != 0 ? header.coloursUsed : paletteMax;
        tablesEnd += header.paletteEntrySize * entries;
    }
    if (tablesEnd > file.size())
        return QStringLiteral("the file ends inside its palette");

    const std::uint32_t pixelsAt = readU32(file, 10);
    if (pixelsAt < FILE_HEADER_SIZE + header.size || pixelsAt > file.size())
        return QStringLiteral("the pixel data offset %1 lies outside the file").arg(pixelsAt);
    // Qt's reader does not go back: it would take the pixels from the end of the tables, and
    // rows missing at the end of the file would be left as they were in memory.
    if (pixelsAt < tablesEnd)
        return QStringLiteral("the pixel data offset %1 lies inside the palette or colour masks")
            .arg(pixelsAt);

    if (header.compression == Rle8 || header.compression == Rle4)
        return walkRunLengths(file, pixelsAt, header, entries);

    const std::int64_t rowBytes = (header.width * header.bitsPerPixel + 31) / 32 * 4;
    if (pixelsAt + rowBytes * rows > file.size())
        return QStringLiteral("the file ends before the end of its pixel data");
    if (header.bitsPerPixel <= 8 && entries < (1u << header.bitsPerPixel)) {
        for (std::int64_t row = 0; row < rows; ++row) {
            if (!indexesFit(
                    file, pixelsAt + row * rowBytes, header.width, header.bitsPerPixel, entries))
                return QStringLiteral("a pixel uses a colour outside the palette");
        }
    }
    return std::nullopt;
}

} // namespace tirvel
