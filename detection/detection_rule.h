#pragma once

#include <QString>

#include <optional>

namespace tirvel {

// How a test decides which points changed: the rule a person clicking Test has always had, the
// steady one for watching frames another program writes through the night, or the scene rule,
// which watches every picture of a camera of Tirvel's own in memory.
enum class DetectionRule { Classic, Steady, Scene };

inline QString ruleName(DetectionRule rule)
{
    switch (rule) {
    case DetectionRule::Classic:
        return QStringLiteral("classic");
    case DetectionRule::Steady:
        return QStringLiteral("steady");
    case DetectionRule::Scene:
        return QStringLiteral("scene");
    }
    Q_UNREACHABLE();
    return {};
}

inline std::optional<DetectionRule> ruleNamed(const QString &name)
{
    for (const DetectionRule rule :
        {DetectionRule::Classic, DetectionRule::Steady, DetectionRule::Scene}) {
        if (name == ruleName(rule))
            return rule;
    }
    return std::nullopt;
}

} // namespace tirvel
