#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <cstdint>
#include <memory>
#include <vector>

namespace tirvel {

// Where the window's sample points fall on a camera frame. The view shows the frame fitted into
// it with its aspect kept and centred on a dark ground; point (column, row) is the view's pixel
// (2 column, 2 row), and this is the frame's pixel under it, or (-1, -1) on the ground.
struct SamplePlacement
{
    int columns = 0;
    int rows = 0;
    // Column by column, as the scan walks them.
    std::vector<QPoint> inFrame;
};

// scanBounds are the last column and row sampled, inclusive, in the view's pixels.
SamplePlacement placeSamples(QSize frameSize, QSize viewSize, QSize scanBounds);

// What the scene rule made of one camera frame.
struct SceneOutcome
{
    // Whether each sample point lies on a region of change that counts; column by column.
    std::vector<std::uint8_t> counted;
    std::int32_t count = 0;
    // Still learning the scene (the first frames, or after the camera changed mode): nothing
    // counts yet.
    bool learning = false;
    // The picture changed as a whole the way a camera does when it switches to night mode or
    // its exposure settles: the scene is learnt afresh, and this is a note, not motion.
    bool cameraMode = false;
    // The change of light that was evened out, in per cent of the learnt scene's (+20 brighter).
    int lightPercent = 0;
    // The whole picture's shift that was undone, in the frame's pixels.
    QPoint shift;
    // Sample points that changed beyond the noise where the scene usually varies that much, and
    // were not counted for it.
    std::int32_t discounted = 0;
    // Sample points a person's mask leaves out.
    std::int32_t masked = 0;
    // The largest region of change that counts, in sample points and where it lies in the frame.
    std::int32_t largestRegion = 0;
    QRect largestRegionBox;
};

// The rule for watching a camera of one's own, fed every frame in memory: a scene memory of how
// each place looks and how much it usually varies, light and a shake of the whole picture told
// from motion, and connected regions of change, so scattered noise never adds up while a small
// compact mover does. Frames are shrunk by area to the working size first.
class SceneAnalyser
{
public:
    struct Settings
    {
        QSize workingSize {320, 240};
        // How long the scene memory takes to learn the scene (a still mover is not learnt away
        // much sooner than this).
        double learnSeconds = 60;
    };

    explicit SceneAnalyser(Settings settings);
    ~SceneAnalyser();
    SceneAnalyser(const SceneAnalyser &) = delete;
    SceneAnalyser &operator=(const SceneAnalyser &) = delete;

    // milliseconds is the frame's time on a steady clock.
    SceneOutcome analyse(const QImage &frame, qint64 milliseconds, const SamplePlacement &samples);
    // Black parts of mask, scaled to the frame, are ignored; a null mask ignores nothing.
    void setMask(const QImage &mask);
    // Learns the scene afresh, as when watching starts or the camera changes.
    void reset();

private:
    struct Memory;
    Settings m_settings;
    std::unique_ptr<Memory> m_memory;
};

} // namespace tirvel
