#include "detection_options.h"

#include "picture_file.h"
#include "tirvel_error.h"

#include <QFileInfo>

namespace tirvel {

DetectionOptions addDetectionOptions(QCommandLineParser &parser)
{
    DetectionOptions options;
    parser.addOptions({options.rule, options.mask, options.sensitivity});
    return options;
}

std::optional<QString> readDetectionOptions(
    const QCommandLineParser &parser, const DetectionOptions &options, CommandLine &result)
{
    if (parser.isSet(options.rule)) {
        result.detection = ruleNamed(parser.value(options.rule));
        if (!result.detection)
            return QStringLiteral("--detection takes classic, steady or scene, not '%1'.")
                .arg(parser.value(options.rule));
        if (result.detection == DetectionRule::Scene && !result.framesFromCamera)
            return QStringLiteral("--detection scene watches Tirvel's own camera; it needs "
                                  "--frames-from-camera.");
    }
    if (parser.isSet(options.mask)) {
        const QString file = QFileInfo(parser.value(options.mask)).absoluteFilePath();
        try {
            result.mask = loadPicture(file);
        } catch (const TirvelError &error) {
            return QStringLiteral("--mask: %1").arg(error.description());
        }
    }
    bool ok = false;
    result.sensitivity = parser.value(options.sensitivity).toInt(&ok);
    if (!ok || result.sensitivity < 0 || result.sensitivity > 100)
        return QStringLiteral("--sensitivity takes a whole number from 0 to 100, not '%1'.")
            .arg(parser.value(options.sensitivity));
    return std::nullopt;
}

} // namespace tirvel
