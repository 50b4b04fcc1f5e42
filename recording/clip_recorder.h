#pragma once

#include "clip_sink.h"
#include "clock.h"
#include "frame_ring.h"

#include <QImage>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace tirvel {

// Each event's clip, from a few seconds before its first detection to a few after its end: the
// seconds before come from a ring of the camera's recent pictures, the rest as they are shown. A
// long event goes on in further clips. Times are the program's monotonic milliseconds.
class ClipRecorder
{
public:
    struct Timing
    {
        qint64 beforeMs = 3000;
        qint64 afterMs = 2000;
        qint64 longestMs = 120000;
        // How long a clip whose pictures stopped (the camera went) waits for the rest.
        qint64 stragglersMs = 1000;
    };
    // The pictures of the seconds before take at most this much memory: 3.5 s of 640 x 480 at 30
    // a second fit, 1280 x 720 is kept at 9 a second.
    static constexpr qint64 RING_BYTES = qint64(128) * 1024 * 1024;

    // open starts the clip of that name for pictures of that size, null when it cannot; closed
    // says it ended, whole or not.
    struct Output
    {
        std::function<std::unique_ptr<ClipSink>(const QString &name, QSize size)> open;
        std::function<void(const QString &name, bool whole)> closed;
    };

    ClipRecorder(Output output, Clock clock, Timing timing);
    ClipRecorder(Output output, Clock clock)
        : ClipRecorder(std::move(output), std::move(clock), Timing {})
    {
    }

    // Every picture of the own camera while watching.
    void frame(const QImage &picture, qint64 ms);
    // An event began at ms: its clip goes by name, its later parts by name.2, name.3 …
    void begin(const QString &base, qint64 ms);
    // The event begun last ended at ms.
    void end(qint64 ms);
    // Closes what has ended; as time passes.
    void check();
    // Ends every clip now, waiting at most waitMs for each: the program ends.
    void finishAll(int waitMs);
    // Forgets the pictures kept: watching stopped.
    void clearRing() { m_ring.clear(); }
    bool recording() const { return !m_clips.empty(); }
    // Whether a part of the clip of that base name is still being written.
    bool recording(const QString &base) const;
    // The name of a part of a clip.
    static QString nameOf(const QString &base, int part);
    const FrameRing &ring() const { return m_ring; }

private:
    struct Clip
    {
        QString base;
        int part = 1;
        std::unique_ptr<ClipSink> sink;
        // The clip's first picture, once there is one.
        qint64 firstMs = -1;
        // The event's end, once it is known.
        qint64 endMs = -1;
        bool finishing = false;
    };
    void push(Clip &clip, const TimedFrame &frame);
    void finish(Clip &clip);

    Output m_output;
    Clock m_clock;
    Timing m_timing;
    FrameRing m_ring;
    std::vector<Clip> m_clips;
};

} // namespace tirvel
