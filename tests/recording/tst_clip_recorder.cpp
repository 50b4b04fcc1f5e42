#include "clip_encoder.h"
#include "clip_recorder.h"

#include <QTemporaryDir>
#include <QTest>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include <fcntl.h>

using namespace tirvel;

namespace {

// What one clip was given.
struct Written
{
    QString name;
    QList<qint64> shown;
    QList<qint64> at;
    bool finished = false;
    bool whole = false;
};

class FakeSink : public ClipSink
{
public:
    FakeSink(Written &written, QList<qint64> &log)
        : m_written(written)
        , m_log(log)
    {
    }
    void push(const QImage &picture, qint64 ms) override
    {
        m_written.shown.append(picture.text(QStringLiteral("ms")).toLongLong());
        m_written.at.append(ms);
        m_log.append(ms);
    }
    void finish() override { m_written.finished = true; }
    State poll() override { return m_written.finished ? State::Whole : State::Writing; }
    State wait(int) override { return poll(); }

private:
    Written &m_written;
    QList<qint64> &m_log;
};

QImage frameAt(qint64 ms, int grey = 0)
{
    QImage frame(64, 48, QImage::Format_RGB32);
    frame.fill(qRgb(grey, grey, grey));
    frame.setText(QStringLiteral("ms"), QString::number(ms));
    return frame;
}

} // namespace

class TestClipRecorder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void clipsSpanTheEvent_data();
    void clipsSpanTheEvent();
    void theRingKeepsFewerPicturesASecondRatherThanFewerSeconds();
    void aClipDecodesFromTheSecondsBeforeTheEvent();
};

void TestClipRecorder::clipsSpanTheEvent_data()
{
    QTest::addColumn<qint64>("beginMs");
    QTest::addColumn<qint64>("endMs");
    // Pictures every 200 ms until then; then the clock alone goes on.
    QTest::addColumn<qint64>("lastPictureMs");
    // Each clip's first and last picture.
    QTest::addColumn<QList<qint64>>("spans");

    QTest::newRow("three seconds before, two after")
        << 6000LL << 8000LL << 14000LL << QList<qint64> {3000, 10000};
    QTest::newRow("an event at the start has what there is")
        << 1000LL << 2000LL << 9000LL << QList<qint64> {0, 4000};
    QTest::newRow("the camera stops: the clip still ends")
        << 6000LL << 7000LL << 7000LL << QList<qint64> {3000, 7000};
    // Parts of 20 s here.
    QTest::newRow("a long event goes on in parts")
        << 6000LL << 50000LL << 60000LL << QList<qint64> {3000, 22800, 23000, 42800, 43000, 52000};
}

void TestClipRecorder::clipsSpanTheEvent()
{
    QFETCH(qint64, beginMs);
    QFETCH(qint64, endMs);
    QFETCH(qint64, lastPictureMs);
    QFETCH(QList<qint64>, spans);

    qint64 now = 0;
    std::vector<std::unique_ptr<Written>> clips;
    QList<qint64> log;
    QStringList closed;
    ClipRecorder::Output output;
    output.open = [&](const QString &name, QSize) -> std::unique_ptr<ClipSink> {
        clips.push_back(std::make_unique<Written>());
        clips.back()->name = name;
        return std::make_unique<FakeSink>(*clips.back(), log);
    };
    output.closed = [&](const QString &name, bool whole) {
        closed.append(name + (whole ? QString() : QStringLiteral(" broken")));
    };
    ClipRecorder::Timing timing;
    timing.longestMs = 20000;
    ClipRecorder recorder(
        output, [&now] { return now; }, timing);
    for (now = 0; now <= 70000; now += 200) {
        if (now <= lastPictureMs)
            recorder.frame(frameAt(now), now);
        if (now == beginMs)
            recorder.begin(QStringLiteral("event"), now);
        if (now == endMs)
            recorder.end(now);
        recorder.check();
    }

    QList<qint64> found;
    QStringList names;
    for (const auto &clip : clips) {
        QVERIFY(!clip->shown.isEmpty());
        found << clip->shown.first() << clip->shown.last();
        // Each clip's time starts at its first picture and follows the pictures.
        QCOMPARE(clip->at.first(), 0);
        QCOMPARE(clip->at.last(), clip->shown.last() - clip->shown.first());
        names.append(clip->name);
    }
    QCOMPARE(found, spans);
    QCOMPARE(closed, names);
    QCOMPARE(names.first(), QStringLiteral("event.webm"));
    QVERIFY(!recorder.recording());
}

void TestClipRecorder::theRingKeepsFewerPicturesASecondRatherThanFewerSeconds()
{
    const QImage picture = frameAt(0);
    // Room for ten pictures over 3.5 s: one every 350 ms at most.
    FrameRing ring(3500, picture.sizeInBytes() * 10);
    for (qint64 ms = 0; ms <= 20000; ms += 100)
        ring.add(picture, ms);
    const std::vector<TimedFrame> kept = ring.since(0);
    QVERIFY(kept.size() >= 8 && kept.size() <= 10);
    QVERIFY(kept.front().ms >= 20000 - 3500 && kept.front().ms <= 20000 - 3000);
    QVERIFY(ring.bytes() <= picture.sizeInBytes() * 10);
}

// The clip as a player sees it: it decodes, lasts from the seconds before to those after, and
// starts with the picture shown three seconds before the event.
void TestClipRecorder::aClipDecodesFromTheSecondsBeforeTheEvent()
{
    gst_init(nullptr, nullptr);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    qint64 now = 0;
    bool whole = false;
    ClipRecorder::Output output;
    output.open = [&](const QString &name, QSize size) -> std::unique_ptr<ClipSink> {
        const int file = ::open(QFile::encodeName(folder.filePath(name)).constData(),
            O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        QString problem;
        auto encoder = ClipEncoder::open(file, size, &problem);
        if (!encoder)
            qWarning("%s", qPrintable(problem));
        return encoder;
    };
    output.closed = [&](const QString &, bool isWhole) { whole = isWhole; };
    ClipRecorder recorder(output, [&now] { return now; });
    // Each picture a grey of its own, so that the first can be told.
    for (now = 0; now <= 12000; now += 200) {
        recorder.frame(frameAt(now, int(std::min<qint64>(255, now / 25))), now);
        if (now == 6000)
            recorder.begin(QStringLiteral("event"), now);
        if (now == 8000)
            recorder.end(now);
    }
    recorder.finishAll(5000);
    QVERIFY(whole);

    const QByteArray uri = "file://" + QFile::encodeName(folder.filePath("event.webm"));
    GError *error = nullptr;
    GstDiscoverer *discoverer = gst_discoverer_new(10 * GST_SECOND, &error);
    QVERIFY(discoverer != nullptr);
    GstDiscovererInfo *info = gst_discoverer_discover_uri(discoverer, uri.constData(), &error);
    QVERIFY2(info != nullptr && error == nullptr, error != nullptr ? error->message : "");
    const double seconds = double(gst_discoverer_info_get_duration(info)) / GST_SECOND;
    g_object_unref(info);
    g_object_unref(discoverer);
    // 3 s before 6 s to 2 s after 8 s.
    QVERIFY2(seconds >= 6.9 && seconds <= 7.3, qPrintable(QString::number(seconds)));

    const QByteArray description = "uridecodebin uri=" + uri
        + " ! videoconvert ! video/x-raw,format=RGBx ! appsink name=sink sync=false";
    GstElement *pipeline = gst_parse_launch(description.constData(), &error);
    QVERIFY(pipeline != nullptr && error == nullptr);
    GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstSample *sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND);
    QVERIFY(sample != nullptr);
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    QVERIFY(gst_buffer_map(buffer, &map, GST_MAP_READ));
    // The middle of the picture, red.
    const int grey = map.data[map.size / 2 / 4 * 4];
    const GstClockTime first = GST_BUFFER_PTS(buffer);
    gst_buffer_unmap(buffer, &map);
    gst_sample_unref(sample);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    QCOMPARE(first, GstClockTime(0));
    // The picture of 3000 ms had grey 120; its neighbours 112 and 128.
    QVERIFY2(std::abs(grey - 120) <= 3, qPrintable(QString::number(grey)));
}

QTEST_GUILESS_MAIN(TestClipRecorder)
#include "tst_clip_recorder.moc"
