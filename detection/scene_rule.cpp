#include "scene_rule.h"

#include "detection_state.h"

namespace tirvel {

SamplePlacement placeSamples(QSize frameSize, QSize viewSize, QSize scanBounds)
{
    SamplePlacement placement;
    placement.columns = scanBounds.width() / SAMPLE_STEP + 1;
    placement.rows = scanBounds.height() / SAMPLE_STEP + 1;
    placement.inFrame.assign(
        std::size_t(placement.columns) * std::size_t(placement.rows), QPoint(-1, -1));
    if (frameSize.isEmpty() || viewSize.isEmpty())
        return placement;
    // As the view composes the frame: fitted with its aspect kept, centred.
    const QSize fitted = frameSize.scaled(viewSize, Qt::KeepAspectRatio);
    QRect target({}, fitted);
    target.moveCenter(QRect({}, viewSize).center());
    std::size_t i = 0;
    for (int column = 0; column < placement.columns; ++column) {
        for (int row = 0; row < placement.rows; ++row, ++i) {
            const QPoint view(column * SAMPLE_STEP, row * SAMPLE_STEP);
            if (!target.contains(view))
                continue;
            const auto x = int((view.x() - target.x() + 0.5) * frameSize.width() / fitted.width());
            const auto y
                = int((view.y() - target.y() + 0.5) * frameSize.height() / fitted.height());
            placement.inFrame[i]
                = QPoint(std::min(x, frameSize.width() - 1), std::min(y, frameSize.height() - 1));
        }
    }
    return placement;
}

struct SceneAnalyser::Memory
{
};

SceneAnalyser::SceneAnalyser(Settings settings)
    : m_settings(settings)
    , m_memory(std::make_unique<Memory>())
{
}

SceneAnalyser::~SceneAnalyser() = default;

SceneOutcome SceneAnalyser::analyse(
    const QImage &frame, qint64 milliseconds, const SamplePlacement &samples)
{
    Q_UNUSED(frame);
    Q_UNUSED(milliseconds);
    SceneOutcome outcome;
    outcome.counted.assign(samples.inFrame.size(), 0);
    outcome.learning = true;
    return outcome;
}

void SceneAnalyser::setMask(const QImage &mask)
{
    Q_UNUSED(mask);
}

void SceneAnalyser::reset()
{
    m_memory = std::make_unique<Memory>();
}

} // namespace tirvel
