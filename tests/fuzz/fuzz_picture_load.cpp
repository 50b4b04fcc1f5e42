// libFuzzer target: any bytes through the picture-loading path must end in a picture or in a
// TirvelError, and a bitmap that loads must have the size its header gives. The sanitizers catch
// reads of memory the file did not describe.

#include "picture_file.h"
#include "tirvel_error.h"

#include <QByteArray>
#include <QImage>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

std::int32_t field(const QByteArray &bytes, qsizetype at)
{
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.constData() + at, sizeof value);
    return std::int32_t(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QImage image;
    try {
        image = tirvel::decodePicture(bytes, QStringLiteral("fuzz.bmp"));
    } catch (const tirvel::TirvelError &) {
        return 0;
    }
    if (image.isNull() || image.format() != QImage::Format_RGB32)
        std::abort();
    // A bitmap with a full header must come out the size it claims.
    if (bytes.startsWith("BM") && bytes.size() >= 26 && field(bytes, 14) >= 40) {
        const std::int32_t height = field(bytes, 22);
        if (image.width() != field(bytes, 18) || image.height() != (height < 0 ? -height : height))
            std::abort();
    }
    // Every pixel is read, so a pixel made of memory the file never held is noticed.
    std::uint32_t sum = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const std::uint32_t *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            sum += line[x];
    }
    volatile std::uint32_t sink = sum;
    (void)sink;
    return 0;
}
