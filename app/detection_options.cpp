#include "detection_options.h"

namespace tirvel {

DetectionOptions addDetectionOptions(QCommandLineParser &parser)
{
    DetectionOptions options;
    parser.addOptions({options.rule, options.sensitivity});
    return options;
}

std::optional<QString> readDetectionOptions(
    const QCommandLineParser &parser, const DetectionOptions &options, CommandLine &result)
{
    if (parser.isSet(options.rule)) {
        result.detection = ruleNamed(parser.value(options.rule));
        if (!result.detection)
            return QStringLiteral("--detection takes classic or steady, not '%1'.")
                .arg(parser.value(options.rule));
    }
    bool ok = false;
    result.sensitivity = parser.value(options.sensitivity).toInt(&ok);
    if (!ok || result.sensitivity < 0 || result.sensitivity > 100)
        return QStringLiteral("--sensitivity takes a whole number from 0 to 100, not '%1'.")
            .arg(parser.value(options.sensitivity));
    return std::nullopt;
}

} // namespace tirvel
