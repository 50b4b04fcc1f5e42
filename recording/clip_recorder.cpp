#include "clip_recorder.h"

#include <algorithm>

namespace tirvel {

namespace {

// The ring holds a little more than the seconds before, for a detection that reaches the files
// a moment late.
constexpr qint64 RING_SLACK_MS = 500;

} // namespace

ClipRecorder::ClipRecorder(Output output, Clock clock, Timing timing)
    : m_output(std::move(output))
    , m_clock(std::move(clock))
    , m_timing(timing)
    , m_ring(timing.beforeMs + RING_SLACK_MS, RING_BYTES)
{
}

QString ClipRecorder::nameOf(const QString &base, int part)
{
    return part > 1 ? QStringLiteral("%1.%2.webm").arg(base).arg(part)
                    : base + QLatin1String(".webm");
}

void ClipRecorder::frame(const QImage &picture, qint64 ms)
{
    m_ring.add(picture, ms);
    const TimedFrame frame {picture, ms};
    // A part begun here is fed below as well.
    for (std::size_t i = 0; i < m_clips.size(); ++i) {
        if (m_clips[i].finishing)
            continue;
        if (m_clips[i].endMs >= 0 && ms > m_clips[i].endMs + m_timing.afterMs) {
            finish(m_clips[i]);
        } else if (m_clips[i].firstMs >= 0 && ms - m_clips[i].firstMs >= m_timing.longestMs) {
            finish(m_clips[i]);
            Clip next;
            next.base = m_clips[i].base;
            next.part = m_clips[i].part + 1;
            next.endMs = m_clips[i].endMs;
            m_clips.push_back(std::move(next));
        } else {
            push(m_clips[i], frame);
        }
    }
    check();
}

void ClipRecorder::begin(const QString &base, qint64 ms)
{
    Clip clip;
    clip.base = base;
    for (const TimedFrame &frame : m_ring.since(ms - m_timing.beforeMs))
        push(clip, frame);
    m_clips.push_back(std::move(clip));
}

void ClipRecorder::end(qint64 ms)
{
    for (auto clip = m_clips.rbegin(); clip != m_clips.rend(); ++clip) {
        if (clip->endMs < 0 && !clip->finishing) {
            clip->endMs = ms;
            // Its parts are all one event.
            for (Clip &part : m_clips) {
                if (part.base == clip->base && !part.finishing)
                    part.endMs = ms;
            }
            return;
        }
    }
}

bool ClipRecorder::recording(const QString &base) const
{
    return std::any_of(
        m_clips.begin(), m_clips.end(), [&base](const Clip &clip) { return clip.base == base; });
}

void ClipRecorder::push(Clip &clip, const TimedFrame &frame)
{
    if (!clip.sink && clip.firstMs < 0) {
        clip.firstMs = frame.ms;
        clip.sink = m_output.open(nameOf(clip.base, clip.part), frame.image.size());
    }
    if (clip.sink)
        clip.sink->push(frame.image, frame.ms - clip.firstMs);
}

void ClipRecorder::finish(Clip &clip)
{
    clip.finishing = true;
    if (clip.sink)
        clip.sink->finish();
}

void ClipRecorder::check()
{
    const qint64 now = m_clock();
    for (auto clip = m_clips.begin(); clip != m_clips.end();) {
        // Pictures that stopped coming cannot end it.
        if (!clip->finishing && clip->endMs >= 0
            && now > clip->endMs + m_timing.afterMs + m_timing.stragglersMs)
            finish(*clip);
        const ClipSink::State state = clip->sink
            ? clip->sink->poll()
            : (clip->finishing ? ClipSink::State::Failed : ClipSink::State::Writing);
        if (state == ClipSink::State::Whole || state == ClipSink::State::Failed) {
            // Gone before it is said, so that whoever hears knows whether others are left.
            const QString name = nameOf(clip->base, clip->part);
            clip = m_clips.erase(clip);
            m_output.closed(name, state == ClipSink::State::Whole);
        } else {
            ++clip;
        }
    }
}

void ClipRecorder::finishAll(int waitMs)
{
    std::vector<Clip> clips = std::move(m_clips);
    m_clips.clear();
    for (Clip &clip : clips) {
        finish(clip);
        const ClipSink::State state = clip.sink ? clip.sink->wait(waitMs) : ClipSink::State::Failed;
        clip.sink.reset();
        m_output.closed(nameOf(clip.base, clip.part), state == ClipSink::State::Whole);
    }
}

} // namespace tirvel
