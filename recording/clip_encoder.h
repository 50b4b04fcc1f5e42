#pragma once

#include "clip_sink.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <memory>

typedef struct _GstElement GstElement;

namespace tirvel {

// Writes one clip as WebM (VP8): free of patents, in Debian's plugins-good beside the camera's
// own plugins, and played by Qt's player there too. The pictures are handed to GStreamer
// without a copy; converting and encoding run on GStreamer's own thread, so pushing a picture
// costs its caller next to nothing. A picture the encoder cannot take in time is dropped rather
// than queued without end.
class ClipEncoder : public ClipSink
{
public:
    // Starts a clip of pictures of this size into the file descriptor, which it closes; null, with
    // the problem said, when GStreamer cannot.
    static std::unique_ptr<ClipEncoder> open(int descriptor, QSize size, QString *problem);
    ~ClipEncoder() override;

    // The picture at ms from the clip's start; one of another size is scaled to the clip's.
    void push(const QImage &picture, qint64 ms) override;
    void finish() override;
    State poll() override;
    State wait(int waitMs) override;
    QString problem() const { return m_problem; }

private:
    ClipEncoder(GstElement *pipeline, GstElement *source, int descriptor, QSize size);
    State take(qint64 waitNs);

    GstElement *m_pipeline;
    GstElement *m_source;
    int m_descriptor;
    QSize m_size;
    State m_state = State::Writing;
    QString m_problem;
};

} // namespace tirvel
