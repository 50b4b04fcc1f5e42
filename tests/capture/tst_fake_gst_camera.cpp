#include "fake_gst_camera.h"
#include "test_main.h"

#include <QCamera>
#include <QCameraDevice>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QSignalSpy>
#include <QVideoFrame>
#include <QVideoSink>

#include <algorithm>
#include <cstdint>
#include <utility>

using namespace tirvel::fakecam;

Q_DECLARE_METATYPE(FakeCameraMode)

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

private slots:
    void initTestCase();
    void listsCameraPresentAtStart();
    void deliversAsItsModeSays_data();
    void deliversAsItsModeSays();
    void freezeFirstWorksAfterRestart();
    void fallsQuietWhileRunning_data();
    void fallsQuietWhileRunning();
    void listsAndDeliversTheFormatsItIsGiven();
    void plugsInAndOutRepeatedly();

private:
    QString m_atStart = QStringLiteral("Fake Camera At Start");
    QList<QCameraDevice> m_firstList;
};

void TestFakeGstCamera::initTestCase()
{
    registerFakeCameraPlugin();
    addFakeCamera(m_atStart.toStdString());
    // Qt's first look at its devices, read before anything connects to videoInputsChanged: a
    // handler that asks for the list while Qt builds it deadlocks Qt 6.4.2.
    m_firstList = QMediaDevices::videoInputs();
}

void TestFakeGstCamera::listsCameraPresentAtStart()
{
    const auto found = std::find_if(m_firstList.cbegin(), m_firstList.cend(),
        [this](const QCameraDevice &device) { return device.description() == m_atStart; });
    QVERIFY(found != m_firstList.cend());
    RunningCamera running(*found);
    QTRY_VERIFY_WITH_TIMEOUT(running.frames() > 0, APPEAR_MS);
}

void TestFakeGstCamera::deliversAsItsModeSays_data()
{
    QTest::addColumn<FakeCameraMode>("mode");
    QTest::addColumn<bool>("firstFrame");
    QTest::addColumn<bool>("keepsDelivering");
    QTest::newRow("working") << FakeCameraMode::Working << true << true;
    QTest::newRow("freeze-first") << FakeCameraMode::FreezeFirst << true << false;
    QTest::newRow("silent") << FakeCameraMode::Silent << false << false;
    QTest::newRow("busy") << FakeCameraMode::Busy << false << false;
    QTest::newRow("denied") << FakeCameraMode::Denied << false << false;
}

void TestFakeGstCamera::deliversAsItsModeSays()
{
    QFETCH(FakeCameraMode, mode);
    QFETCH(bool, firstFrame);
    QFETCH(bool, keepsDelivering);
    const QString name = QStringLiteral("Mode %1").arg(QTest::currentDataTag());
    addFakeCamera(name.toStdString(), mode);
    QTRY_VERIFY_WITH_TIMEOUT(!findCamera(name).isNull(), APPEAR_MS);

    RunningCamera running(findCamera(name));
    if (firstFrame)
        QTRY_VERIFY_WITH_TIMEOUT(running.frames() > 0, APPEAR_MS);
    if (keepsDelivering) {
        // Well past the frame or two Qt shows of a camera that froze.
        QTRY_VERIFY_WITH_TIMEOUT(running.frames() > 10, APPEAR_MS);
    } else {
        const auto [settled, later] = framesWhileQuiet(running);
        QCOMPARE(later, settled);
        QCOMPARE(fakeCameraFrameCount(name.toStdString()), std::uint64_t(firstFrame ? 1 : 0));
    }
    removeFakeCamera(name.toStdString());
}

void TestFakeGstCamera::freezeFirstWorksAfterRestart()
{
    const std::string name = "Freezes Once";
    addFakeCamera(name, FakeCameraMode::FreezeFirst);
    QTRY_VERIFY_WITH_TIMEOUT(!findCamera(QString::fromStdString(name)).isNull(), APPEAR_MS);
    const QCameraDevice device = findCamera(QString::fromStdString(name));
    {
        RunningCamera frozen(device);
        QTRY_VERIFY_WITH_TIMEOUT(frozen.frames() > 0, APPEAR_MS);
    }
    RunningCamera restarted(device);
    QTRY_VERIFY_WITH_TIMEOUT(restarted.frames() > 10, APPEAR_MS);
    QCOMPARE(fakeCameraElementCount(name), 2);
    removeFakeCamera(name);
}

void TestFakeGstCamera::fallsQuietWhileRunning_data()
{
    QTest::addColumn<bool>("pulledOut");
    QTest::newRow("switched to silent") << false;
    QTest::newRow("pulled out") << true;
}

void TestFakeGstCamera::fallsQuietWhileRunning()
{
    QFETCH(bool, pulledOut);
    const QString name = QStringLiteral("Quiet %1").arg(QTest::currentDataTag());
    addFakeCamera(name.toStdString());
    QTRY_VERIFY_WITH_TIMEOUT(!findCamera(name).isNull(), APPEAR_MS);
    RunningCamera running(findCamera(name));
    QTRY_VERIFY_WITH_TIMEOUT(running.frames() > 0, APPEAR_MS);

    if (pulledOut) {
        removeFakeCamera(name.toStdString());
        QTRY_VERIFY_WITH_TIMEOUT(findCamera(name).isNull(), APPEAR_MS);
        const auto [settled, later] = framesWhileQuiet(running);
        QCOMPARE(later, settled);
    } else {
        setFakeCameraMode(name.toStdString(), FakeCameraMode::Silent);
        const auto [settled, later] = framesWhileQuiet(running);
        QCOMPARE(later, settled);
        setFakeCameraMode(name.toStdString(), FakeCameraMode::Working);
        QTRY_VERIFY_WITH_TIMEOUT(running.frames() > later, APPEAR_MS);
        removeFakeCamera(name.toStdString());
    }
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
