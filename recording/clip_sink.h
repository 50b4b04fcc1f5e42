#pragma once

#include <QImage>

namespace tirvel {

// One clip being written, as the recorder sees it: ClipEncoder, or a test's stand-in.
class ClipSink
{
public:
    enum class State { Writing, Finishing, Whole, Failed };

    ClipSink() = default;
    virtual ~ClipSink() = default;
    ClipSink(const ClipSink &) = delete;
    ClipSink &operator=(const ClipSink &) = delete;

    // The picture at ms from the clip's start.
    virtual void push(const QImage &picture, qint64 ms) = 0;
    // No more pictures: the clip is closed once they are all in.
    virtual void finish() = 0;
    // Where the clip is, without waiting; and waiting at most waitMs for it to be whole.
    virtual State poll() = 0;
    virtual State wait(int waitMs) = 0;
};

} // namespace tirvel
