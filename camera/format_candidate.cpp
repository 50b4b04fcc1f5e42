#include "format_candidate.h"

#include <tuple>

namespace tirvel {

namespace {

// Rates a camera reports are often rounded from a fraction such as 30000/1001.
constexpr float RATE_TOLERANCE = 0.01f;

qint64 area(QSize size)
{
    return qint64(size.width()) * size.height();
}

bool covers(QSize size, QSize target)
{
    return size.width() >= target.width() && size.height() >= target.height();
}

// Lower is better: the exact size, then sizes covering it (smaller first), then the rest (larger
// first). Width breaks ties between resolutions of equal area.
std::tuple<int, qint64, int> sizeRank(QSize size, QSize target)
{
    if (size == target)
        return {0, 0, 0};
    if (covers(size, target))
        return {1, area(size), size.width()};
    return {2, -area(size), -size.width()};
}

int pixelFormatRank(QVideoFrameFormat::PixelFormat pixelFormat)
{
    if (pixelFormat == QVideoFrameFormat::Format_YUYV)
        return 0;
    return pixelFormat == QVideoFrameFormat::Format_Jpeg ? 2 : 1;
}

float rateDistance(const FormatCandidate &format)
{
    if (format.minFrameRate > COMMAND_FRAME_RATE + RATE_TOLERANCE)
        return format.minFrameRate - COMMAND_FRAME_RATE;
    if (format.maxFrameRate < COMMAND_FRAME_RATE - RATE_TOLERANCE)
        return COMMAND_FRAME_RATE - format.maxFrameRate;
    return 0.0f;
}

bool usable(const FormatCandidate &format)
{
    return !format.resolution.isEmpty();
}

} // namespace

std::optional<qsizetype> chooseStartFormat(const QList<FormatCandidate> &formats, QSize viewSize)
{
    std::optional<qsizetype> best;
    auto rank = [&](qsizetype i) {
        return std::tuple_cat(sizeRank(formats[i].resolution, viewSize),
            std::make_tuple(pixelFormatRank(formats[i].pixelFormat)));
    };
    for (qsizetype i = 0; i < formats.size(); ++i) {
        if (usable(formats[i]) && (!best || rank(i) < rank(*best)))
            best = i;
    }
    return best;
}

std::optional<qsizetype> chooseFrameSizeFormat(
    const QList<FormatCandidate> &formats, const FormatCandidate &current)
{
    std::optional<qsizetype> best;
    auto rank = [&](qsizetype i) {
        const FormatCandidate &format = formats[i];
        return std::tuple_cat(sizeRank(format.resolution, COMMAND_FRAME_SIZE),
            std::make_tuple(format.pixelFormat == current.pixelFormat ? 0 : 1,
                pixelFormatRank(format.pixelFormat)));
    };
    for (qsizetype i = 0; i < formats.size(); ++i) {
        if (usable(formats[i]) && (!best || rank(i) < rank(*best)))
            best = i;
    }
    return best;
}

std::optional<qsizetype> chooseFrameRateFormat(
    const QList<FormatCandidate> &formats, const FormatCandidate &current)
{
    bool resolutionOffered = false;
    for (const FormatCandidate &format : formats)
        resolutionOffered
            = resolutionOffered || (usable(format) && format.resolution == current.resolution);

    std::optional<qsizetype> best;
    auto rank = [&](qsizetype i) {
        const FormatCandidate &format = formats[i];
        return std::make_tuple(rateDistance(format),
            format.pixelFormat == current.pixelFormat ? 0 : 1, -area(format.resolution),
            format.maxFrameRate);
    };
    for (qsizetype i = 0; i < formats.size(); ++i) {
        const bool inPool = !resolutionOffered || formats[i].resolution == current.resolution;
        if (usable(formats[i]) && inPool && (!best || rank(i) < rank(*best)))
            best = i;
    }
    return best;
}

} // namespace tirvel
