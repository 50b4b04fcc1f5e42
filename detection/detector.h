#pragma once

#include "colsum_library.h"
#include "detection_state.h"
#include "picture_file.h"
#include "picture_surface.h"

#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <functional>

namespace tirvel {

// One frame as the detector keeps it: the size of its box's interior, and the colour shown where
// no picture covers it.
struct FrameLayout
{
    QSize interior;
    ColourValue background = 0;
};

// What a test and the one-second tick do, with no window. It owns the timed frame (the start
// picture until a tick reads 5.bmp), the test frame, the change count, the colour measure and the
// tick. A test starts the tick if it is idle, never restarting it, so the one-second rhythm holds
// however fast tests come; then it loads 6.bmp, scans and decides. A tick empties the count and
// loads 5.bmp. A failing step stops its handler there, is said once through failed(), and leaves
// what was done before it.
//
// It needs no thread of its own, but the program gives it one, so that a frame file that is slow
// to read or decode never holds up the window: everything it is asked then runs there, in the
// order asked, and what it says reaches the window queued.
class Detector : public QObject
{
    Q_OBJECT

public:
    // Reads and decodes one frame file, throwing TirvelError.
    using FrameLoader = std::function<QImage(const QString &path)>;

    // The frames are looked for in frameDirectory, the colour measure in colourLibrary.
    Detector(
        const QString &frameDirectory, const QString &colourLibrary,
        FrameLoader loader = [](const QString &path) { return loadPicture(path); },
        QObject *parent = nullptr);

    // Starts both frames afresh at these sizes, the timed frame with the start picture, and scans
    // the timed frame's interior from then on. Called once, before the first test.
    void setFrames(FrameLayout timed, FrameLayout test);
    // Each decision uses the latest value.
    void setSensitivity(int sensitivity);

    void test();
    void tick();
    // No tick comes after this.
    void stop();

    // While watching, the tick runs, and half a second after each tick that read 5.bmp the
    // detector tests by itself, so the start picture is never compared; a failing frame file is
    // said once, and again only after it has been read since.
    void setWatching(bool watching);
    // Holds back the tests it would make by itself, while its frames are known to be stale.
    void setAutomaticTestsPaused(bool paused);

    std::int32_t changeCount() const noexcept { return m_state.changeCount(); }
    QSize scanBounds() const noexcept { return m_state.scanBounds(); }
    const PictureSurface &timedFrame() const noexcept { return m_timed; }
    const PictureSurface &testFrame() const noexcept { return m_test; }

Q_SIGNALS:
    // A test's count, and whether it beat the sensitivity.
    void tested(int count, bool detected);
    void timedFrameChanged(const QImage &picture);
    void testFrameChanged(const QImage &picture);
    // The whole picture a test read from 6.bmp, before its marks.
    void testFrameRead(const QImage &picture);
    void failed(int number, const QString &description);

private:
    // Runs one step; false, after failed(), when it threw. A failure to read the named file is
    // said once while watching, until the file has been read again.
    bool attempt(const std::function<void()> &step, const QString &file = {});

    QString m_frameDirectory;
    FrameLoader m_loader;
    ColSumLibrary m_colSum;
    PictureSurface m_timed;
    PictureSurface m_test;
    DetectionState m_state;
    int m_sensitivity = 0;
    QTimer m_tick;
    QTimer m_automaticTest;
    bool m_watching = false;
    bool m_automaticTestsPaused = false;
    QSet<QString> m_failingFiles;
};

} // namespace tirvel
