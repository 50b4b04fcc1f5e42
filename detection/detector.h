#pragma once

#include "colsum_library.h"
#include "detection_rule.h"
#include "detection_state.h"
#include "frame_files.h"
#include "picture_file.h"
#include "picture_surface.h"
#include "scene_rule.h"
#include "test_result.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
#include <optional>

namespace tirvel {

// One frame as the detector keeps it: the size of its box's interior, and the colour shown where
// no picture covers it.
struct FrameLayout
{
    QSize interior;
    ColourValue background = 0;
};

// What a test and the one-second tick do, with no window; when to test and what to make of a
// result is for others to decide. A test starts the tick if it is idle but never restarts it, so
// the one-second rhythm holds however fast tests come. A failing step stops there and leaves what
// was done before it. The program gives it a thread of its own, so that a frame file that is slow
// to read or decode holds up a result, never the window.
class Detector : public QObject
{
    Q_OBJECT

public:
    // Reads and decodes one frame file, throwing TirvelError.
    using FrameLoader = std::function<QImage(const QString &path)>;

    Detector(
        FramePaths frames, const QString &colourLibrary,
        FrameLoader loader = [](const QString &path) { return loadPicture(path); },
        QObject *parent = nullptr);

    // Starts both frames afresh at these sizes, the timed frame with the start picture, and scans
    // the timed frame's interior from then on. Called once, before the first test.
    void setFrames(FrameLayout timed, FrameLayout test);
    // Each decision uses the latest value and rule.
    void setSensitivity(int sensitivity);
    void setRule(tirvel::DetectionRule rule);
    // Black parts of mask are never watched by the scene rule.
    void setMask(const QImage &mask);

    void test();
    // From any thread: runs test() where the detector lives, unless a test asked for already
    // waits there to start, which is then this one too, so clicks that come faster than tests
    // never pile up behind a slow frame.
    void requestTest();
    void tick();
    // Each picture of Tirvel's own camera, whole and as the view shows it (as 6.bmp is written),
    // taken at milliseconds on a steady clock. The scene rule learns from every one; its test
    // says what the pictures since the last test showed. Other rules pass them over.
    void analyse(const QImage &frame, const QImage &picture, qint64 milliseconds);
    // From any thread, like requestTest(): a picture that comes while another still waits is
    // passed over, so a slow analysis never piles pictures up.
    void requestAnalysis(const QImage &frame, const QImage &picture, qint64 milliseconds);
    // From any thread, as the program ends: a picture still waiting is passed over, and none is
    // taken after it, so the thread ends without a last analysis.
    void endAnalyses();
    // Starts the tick if it is idle, as a test does.
    void startTicks();
    // No tick comes after this.
    void stop();

    std::int32_t changeCount() const noexcept { return m_state.changeCount(); }
    QSize scanBounds() const noexcept { return m_state.scanBounds(); }
    const PictureSurface &timedFrame() const noexcept { return m_timed; }
    const PictureSurface &testFrame() const noexcept { return m_test; }

Q_SIGNALS:
    void tested(const tirvel::TestResult &result);
    void timedFrameChanged(const QImage &picture);
    // A tick read 5.bmp, so a test now compares with the timed frame's picture.
    void ticked();
    void testFrameChanged(const QImage &picture);
    // file is the frame file that could not be read, empty when another step failed.
    void failed(int number, const QString &description, const QString &file);

private:
    // What the scene rule saw since the last test: the picture that changed most, and the last.
    struct SceneSeen
    {
        SceneOutcome strongest;
        QImage strongestPicture;
        // The camera's own frame behind it, at the camera's size.
        QImage strongestFrame;
        QImage latestPicture;
        bool cameraMode = false;
    };

    void testScene();
    const SamplePlacement &placementFor(QSize frameSize, QSize viewSize);
    // Runs one step; false, after failed(), when it threw.
    bool runStep(const std::function<void()> &step, const QString &file = {});

    FramePaths m_paths;
    FrameLoader m_loader;
    ColSumLibrary m_colSum;
    PictureSurface m_timed;
    PictureSurface m_test;
    DetectionState m_state;
    int m_sensitivity = 0;
    DetectionRule m_rule = DetectionRule::Classic;
    QTimer m_tick;
    std::atomic<bool> m_testWaiting = false;
    SceneAnalyser m_scene {SceneAnalyser::Settings {}};
    std::optional<SceneSeen> m_seen;
    SamplePlacement m_placement;
    QSize m_placedFrame;
    QSize m_placedView;
    QSize m_placedBounds;
    std::atomic<int> m_analysesWaiting = 0;
    std::atomic<bool> m_analysesEnded = false;
};

} // namespace tirvel
