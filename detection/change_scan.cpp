#include "change_scan.h"

namespace tirvel {

void decide(const DetectionState &state, const std::function<int()> &sensitivity,
    const std::function<void(const QString &)> &setResult, const std::function<void()> &beep)
{
    setResult(QString());
    const std::int32_t value = sensitivity();
    if (state.changeCount > wrappingSub(SENSITIVITY_BASE, value)) {
        setResult(DETECTION_MESSAGE);
        beep();
    }
}

} // namespace tirvel
