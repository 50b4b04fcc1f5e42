#include "test_scene_backend.h"

#include "test_scene.h"
#include "video_frame_from_image.h"

namespace tirvel {

namespace {

constexpr QSize FRAME_SIZE {160, 120};
constexpr int FRAME_INTERVAL_MS = 33;

} // namespace

TestSceneBackend::TestSceneBackend(QObject *parent)
    : CameraBackend(parent)
{
    m_clock.start();
    m_timer.setInterval(FRAME_INTERVAL_MS);
    connect(&m_timer, &QTimer::timeout, this, &TestSceneBackend::sendFrame);
}

QList<CameraDevice> TestSceneBackend::devices() const
{
    return {{QString::fromLatin1(DEVICE_ID), QStringLiteral("Testscen")}};
}

QList<FormatCandidate> TestSceneBackend::formats(const QString &deviceId) const
{
    if (deviceId != QLatin1String(DEVICE_ID))
        return {};
    return {{FRAME_SIZE, QVideoFrameFormat::Format_BGRA8888, 30, 30}};
}

void TestSceneBackend::start(const QString &deviceId, qsizetype)
{
    if (deviceId == QLatin1String(DEVICE_ID))
        m_timer.start();
}

void TestSceneBackend::stop()
{
    m_timer.stop();
}

QString TestSceneBackend::activeDeviceId() const
{
    return m_timer.isActive() ? QString::fromLatin1(DEVICE_ID) : QString();
}

void TestSceneBackend::sendFrame()
{
    const QVideoFrame frame = videoFrameFromImage(drawTestScene(FRAME_SIZE, m_clock.elapsed()));
    if (frame.isValid())
        Q_EMIT frameArrived(frame);
}

} // namespace tirvel
