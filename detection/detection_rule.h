#pragma once

#include <QString>

#include <optional>

namespace tirvel {

// How a test decides which points changed: the rule a person clicking Test has always had, or
// the steady one for watching through the night.
enum class DetectionRule { Classic, Steady };

inline QString ruleName(DetectionRule rule)
{
    return rule == DetectionRule::Classic ? QStringLiteral("classic") : QStringLiteral("steady");
}

inline std::optional<DetectionRule> ruleNamed(const QString &name)
{
    for (const DetectionRule rule : {DetectionRule::Classic, DetectionRule::Steady}) {
        if (name == ruleName(rule))
            return rule;
    }
    return std::nullopt;
}

} // namespace tirvel
