#include "demo_scene_camera.h"

#include "camera_facts.h"
#include "demo_scene.h"
#include "video_frame_from_image.h"

namespace tirvel {

namespace {

constexpr int FRAME_INTERVAL_MS = 33;

} // namespace

DemoSceneCamera::DemoSceneCamera(QObject *parent)
    : CameraBackend(parent)
{
    m_clock.start();
    m_timer.setInterval(FRAME_INTERVAL_MS);
    connect(&m_timer, &QTimer::timeout, this, &DemoSceneCamera::sendFrame);
}

QList<CameraDevice> DemoSceneCamera::devices() const
{
    return {{QString::fromLatin1(DEMO_SCENE_ID), QStringLiteral("Testscen")}};
}

QList<FormatCandidate> DemoSceneCamera::formats(const QString &deviceId) const
{
    if (deviceId != QLatin1String(DEMO_SCENE_ID))
        return {};
    return {{DESIGN_SIZE, QVideoFrameFormat::Format_BGRA8888, 30, 30}};
}

void DemoSceneCamera::start(const QString &deviceId, qsizetype)
{
    if (deviceId == QLatin1String(DEMO_SCENE_ID))
        m_timer.start();
}

void DemoSceneCamera::stop()
{
    m_timer.stop();
}

void DemoSceneCamera::sendFrame()
{
    const QVideoFrame frame = videoFrameFromImage(drawDemoScene(DESIGN_SIZE, m_clock.elapsed()));
    if (frame.isValid())
        Q_EMIT frameArrived(frame);
}

} // namespace tirvel
