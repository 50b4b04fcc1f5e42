#pragma once

#include "command_line.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <optional>

namespace tirvel {

// How tests decide: the rule, and the sensitivity the slider starts at.
struct DetectionOptions
{
    QCommandLineOption rule {QStringLiteral("detection"),
        QStringLiteral("Decide every test by <rule>: classic, the rule a click of Test has "
                       "always had; steady, which evens out light and camera noise between two "
                       "frames; or scene, which with --frames-from-camera watches every picture of "
                       "the camera against what it has learnt of the room (default: scene while "
                       "watching Tirvel's own camera, steady while watching another program's "
                       "frames, classic otherwise)."),
        QStringLiteral("rule")};
    QCommandLineOption mask {QStringLiteral("mask"),
        QStringLiteral("Leave the black parts of the picture <file> (any size, scaled to the "
                       "camera's) out of watching by the scene rule."),
        QStringLiteral("file")};
    QCommandLineOption sensitivity {QStringLiteral("sensitivity"),
        QStringLiteral("Start the sensitivity slider at <n> (0 to 100, default %1): a test "
                       "detects when more than 100 - n points changed.")
            .arg(CommandLine::DEFAULT_SENSITIVITY),
        QStringLiteral("n"), QString::number(CommandLine::DEFAULT_SENSITIVITY)};
};

DetectionOptions addDetectionOptions(QCommandLineParser &parser);
// Fills in the detection's part of the result; what is wrong, if anything.
std::optional<QString> readDetectionOptions(
    const QCommandLineParser &parser, const DetectionOptions &options, CommandLine &result);

} // namespace tirvel
