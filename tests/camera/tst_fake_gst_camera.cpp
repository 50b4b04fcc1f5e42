#include "fake_gst_camera.h"
#include "test_main.h"

#include <QCamera>
#include <QCameraDevice>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QSignalSpy>
#include <QVideoFrame>
#include <QVideoSink>

#include <cstdint>
#include <utility>

using namespace tirvel::fakecam;

namespace {

constexpr int APPEAR_MS = 5000;
// Long enough for several frames at 30 a second, even on a loaded machine.
constexpr int QUIET_MS = 1500;

QCameraDevice findCamera(const QString &description)
{
    for (const QCameraDevice &device : QMediaDevices::videoInputs()) {
        if (device.description() == description)
            return device;
    }
    return {};
}

// One camera started the way the program starts it, counting the frames Qt hands out. Frames
// are counted, not kept: holding them would starve the pipeline's buffer pool.
class RunningCamera
{
public:
    explicit RunningCamera(const QCameraDevice &device, const QCameraFormat &format = {})
        : m_camera(device)
    {
        QObject::connect(&m_sink, &QVideoSink::videoFrameChanged, [this](const QVideoFrame &frame) {
            ++m_frames;
            m_lastSize = frame.size();
        });
        if (!format.isNull())
            m_camera.setCameraFormat(format);
        // Sink first: the other way round Qt 6.4.2 now and then freezes after the first frame
        // and then hangs in stop().
        m_session.setVideoSink(&m_sink);
        m_session.setCamera(&m_camera);
        m_camera.start();
    }

    int frames() const { return m_frames; }
    QSize lastSize() const { return m_lastSize; }

private:
    QCamera m_camera;
    QVideoSink m_sink;
    QMediaCaptureSession m_session;
    int m_frames = 0;
    QSize m_lastSize;
};

// The frames counted once those still on their way when the camera fell quiet have arrived,
// and again a while later.
std::pair<int, int> framesWhileQuiet(const RunningCamera &running)
{
    QTest::qWait(QUIET_MS / 3);
    const int settled = running.frames();
    QTest::qWait(QUIET_MS);
    return {settled, running.frames()};
}

} // namespace

class TestFakeGstCamera : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void fallsQuietWhenSwitchedSilent();
    void listsAndDeliversTheFormatsItIsGiven();
    void plugsInAndOutRepeatedly();

private:
};

void TestFakeGstCamera::initTestCase()
{
    registerFakeCameraPlugin();
}

// The other modes, and cameras present at start or pulled out, are exercised through the real
// camera view in tst_camera_gstreamer.
void TestFakeGstCamera::fallsQuietWhenSwitchedSilent()
{
    const QString name = QStringLiteral("Falls Quiet");
    addFakeCamera(name.toStdString());
    QTRY_VERIFY_WITH_TIMEOUT(!findCamera(name).isNull(), APPEAR_MS);
    RunningCamera running(findCamera(name));
    QTRY_VERIFY_WITH_TIMEOUT(running.frames() > 0, APPEAR_MS);

    setFakeCameraMode(name.toStdString(), FakeCameraMode::Silent);
    const auto [settled, later] = framesWhileQuiet(running);
    QCOMPARE(later, settled);
    setFakeCameraMode(name.toStdString(), FakeCameraMode::Working);
    QTRY_VERIFY_WITH_TIMEOUT(running.frames() > later, APPEAR_MS);
    removeFakeCamera(name.toStdString());
}

void TestFakeGstCamera::listsAndDeliversTheFormatsItIsGiven()
{
    const QList<QSize> sizes = {{320, 240}, {96, 64}};
    std::vector<std::string> caps;
    for (QSize size : sizes) {
        caps.push_back(QStringLiteral("video/x-raw,format=YUY2,width=%1,height=%2,framerate=15/1")
                           .arg(size.width())
                           .arg(size.height())
                           .toStdString());
    }
    const QString name = QStringLiteral("Own Formats");
    addFakeCamera(name.toStdString(), FakeCameraMode::Working, caps);
    QTRY_VERIFY_WITH_TIMEOUT(!findCamera(name).isNull(), APPEAR_MS);

    const QList<QCameraFormat> formats = findCamera(name).videoFormats();
    QList<QSize> listed;
    for (const QCameraFormat &format : formats) {
        QCOMPARE(format.pixelFormat(), QVideoFrameFormat::Format_YUYV);
        QCOMPARE(format.maxFrameRate(), 15.0f);
        listed.append(format.resolution());
    }
    QCOMPARE(listed, sizes);

    RunningCamera running(findCamera(name), formats.last());
    QTRY_VERIFY_WITH_TIMEOUT(running.frames() > 0, APPEAR_MS);
    QCOMPARE(running.lastSize(), sizes.last());
    removeFakeCamera(name.toStdString());
}

void TestFakeGstCamera::plugsInAndOutRepeatedly()
{
    QMediaDevices devices;
    QSignalSpy changes(&devices, &QMediaDevices::videoInputsChanged);
    const QString name = QStringLiteral("Replugged");
    for (int cycle = 0; cycle < 20; ++cycle) {
        changes.clear();
        addFakeCamera(name.toStdString());
        QTRY_VERIFY_WITH_TIMEOUT(!changes.isEmpty() && !findCamera(name).isNull(), APPEAR_MS);
        changes.clear();
        removeFakeCamera(name.toStdString());
        QTRY_VERIFY_WITH_TIMEOUT(!changes.isEmpty() && findCamera(name).isNull(), APPEAR_MS);
    }
}

TIRVEL_TEST_MAIN(TestFakeGstCamera)
#include "tst_fake_gst_camera.moc"
