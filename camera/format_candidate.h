#pragma once

#include "camera_facts.h"

#include <QList>
#include <QSize>
#include <QVideoFrameFormat>

#include <optional>

namespace tirvel {

// One format a camera offers, reduced to what the two capture commands choose by. It is plain
// data because Qt's camera formats can only come from a real device; a backend lists its formats
// as candidates in its own order and maps a chosen position back to the real format.
struct FormatCandidate
{
    QSize resolution;
    QVideoFrameFormat::PixelFormat pixelFormat = QVideoFrameFormat::Format_Invalid;
    float minFrameRate = 0.0f;
    float maxFrameRate = 0.0f;

    bool operator==(const FormatCandidate &) const = default;
};

inline constexpr QSize COMMAND_FRAME_SIZE = DESIGN_SIZE;
inline constexpr float COMMAND_FRAME_RATE = 1000.0f / float(FIVE_A_SECOND_MS);

// The format a camera starts in: the smallest resolution covering the view, else the largest;
// among those YUYV first, then other uncompressed formats, because decoding JPEG costs more than
// everything else a frame needs. Nothing is chosen from an empty list.
std::optional<qsizetype> chooseStartFormat(const QList<FormatCandidate> &formats, QSize viewSize);

// The frame-size command's choice, as a position in formats: the command's size if offered, else
// the smallest resolution covering it in both dimensions, else the largest of the rest. Among
// formats of that resolution the current pixel format wins, then uncompressed, then the earliest.
// Formats with an empty resolution are never chosen; nothing is chosen from an empty list.
std::optional<qsizetype> chooseFrameSizeFormat(
    const QList<FormatCandidate> &formats, const FormatCandidate &current);

// The frame-rate command's choice among formats of the current resolution (all formats when the
// current resolution is unknown or not offered): a format whose rate range holds the command's
// rate, else the one whose range comes nearest to it, which for the usual camera means the
// lowest rate. Ties go to the current pixel format, then to the larger resolution, then to the
// lower top rate, since Qt runs a format at the top of its range.
std::optional<qsizetype> chooseFrameRateFormat(
    const QList<FormatCandidate> &formats, const FormatCandidate &current);

} // namespace tirvel
