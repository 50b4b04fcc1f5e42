#include "clip_encoder.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <unistd.h>

namespace tirvel {

namespace {

// About a megabit a second at 640 x 480: a face across the room stays a face.
constexpr double BITS_PER_PIXEL = 3.3;
// What waits for the encoder, at most: two seconds of 640 x 480 at 30 a second.
constexpr guint64 MOST_WAITING_BYTES = guint64(640) * 480 * 4 * 60;

QString messageText(GstMessage *message)
{
    GError *error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    QString text = QString::fromUtf8(error != nullptr ? error->message : "unknown error");
    g_clear_error(&error);
    return text;
}

} // namespace

std::unique_ptr<ClipEncoder> ClipEncoder::open(int descriptor, QSize size, QString *problem)
{
    gst_init(nullptr, nullptr);
    const int bitrate = int(BITS_PER_PIXEL * size.width() * size.height());
    const QByteArray description = QStringLiteral(
        "appsrc name=source format=time block=false leaky-type=downstream max-bytes=%1 "
        "caps=video/x-raw,format=BGRx,width=%2,height=%3,framerate=0/1 "
        "! videoconvert ! vp8enc deadline=1 cpu-used=8 target-bitrate=%4 "
        "! webmmux ! fdsink fd=%5")
                                       .arg(MOST_WAITING_BYTES)
                                       .arg(size.width())
                                       .arg(size.height())
                                       .arg(bitrate)
                                       .arg(descriptor)
                                       .toUtf8();
    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch(description.constData(), &error);
    if (pipeline == nullptr || error != nullptr) {
        *problem = QStringLiteral("GStreamer cannot encode a clip (%1); the plugins of "
                                  "gstreamer1.0-plugins-good are needed")
                       .arg(QString::fromUtf8(error != nullptr ? error->message : "no pipeline"));
        g_clear_error(&error);
        if (pipeline != nullptr)
            gst_object_unref(pipeline);
        ::close(descriptor);
        return nullptr;
    }
    GstElement *source = gst_bin_get_by_name(GST_BIN(pipeline), "source");
    std::unique_ptr<ClipEncoder> encoder(new ClipEncoder(pipeline, source, descriptor, size));
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        *problem = QStringLiteral("GStreamer cannot start encoding a clip");
        return nullptr;
    }
    return encoder;
}

ClipEncoder::ClipEncoder(GstElement *pipeline, GstElement *source, int descriptor, QSize size)
    : m_pipeline(pipeline)
    , m_source(source)
    , m_descriptor(descriptor)
    , m_size(size)
{
}

ClipEncoder::~ClipEncoder()
{
    // Joins GStreamer's thread, so nothing writes to the descriptor once it is closed.
    gst_element_set_state(m_pipeline, GST_STATE_NULL);
    gst_object_unref(m_source);
    gst_object_unref(m_pipeline);
    ::close(m_descriptor);
}

void ClipEncoder::push(const QImage &picture, qint64 ms)
{
    if (m_state != State::Writing)
        return;
    QImage frame = picture.size() == m_size ? picture : picture.scaled(m_size);
    if (frame.format() != QImage::Format_RGB32 && frame.format() != QImage::Format_ARGB32)
        frame = frame.convertToFormat(QImage::Format_RGB32);
    // GStreamer holds on to the picture itself until the encoder is done with it.
    auto *held = new QImage(frame);
    GstBuffer *buffer = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY,
        const_cast<uchar *>(held->constBits()), gsize(held->sizeInBytes()), 0,
        gsize(held->sizeInBytes()), held,
        [](gpointer image) { delete static_cast<QImage *>(image); });
    GST_BUFFER_PTS(buffer) = GstClockTime(ms) * GST_MSECOND;
    gst_app_src_push_buffer(GST_APP_SRC(m_source), buffer);
    poll();
}

void ClipEncoder::finish()
{
    if (m_state != State::Writing)
        return;
    gst_app_src_end_of_stream(GST_APP_SRC(m_source));
    m_state = State::Finishing;
}

ClipEncoder::State ClipEncoder::poll()
{
    return take(0);
}

ClipEncoder::State ClipEncoder::wait(int waitMs)
{
    return take(qint64(waitMs) * GST_MSECOND);
}

ClipEncoder::State ClipEncoder::take(qint64 waitNs)
{
    if (m_state == State::Whole || m_state == State::Failed)
        return m_state;
    GstBus *bus = gst_element_get_bus(m_pipeline);
    const auto kinds = GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_EOS);
    // Only an error is news while pictures still come.
    GstMessage *message = gst_bus_timed_pop_filtered(
        bus, GstClockTime(waitNs), m_state == State::Finishing ? kinds : GST_MESSAGE_ERROR);
    gst_object_unref(bus);
    if (message == nullptr)
        return m_state;
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        m_problem = messageText(message);
        m_state = State::Failed;
    } else {
        // On the disk before it is named as whole.
        m_state = ::fsync(m_descriptor) == 0 ? State::Whole : State::Failed;
        if (m_state == State::Failed)
            m_problem = QStringLiteral("the clip could not be written to the disk");
    }
    gst_message_unref(message);
    return m_state;
}

} // namespace tirvel
