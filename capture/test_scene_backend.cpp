#include "test_scene_backend.h"

#include "test_scene.h"

#include <QVideoFrame>

#include <cstring>

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
    return {{FRAME_SIZE, QVideoFrameFormat::Format_BGRX8888, 30, 30}};
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
    const QImage picture = drawTestScene(FRAME_SIZE, m_clock.elapsed());
    // Qt 6.4 cannot wrap an image in a frame; 32-bit RGB in memory is BGRX.
    QVideoFrame frame(QVideoFrameFormat(FRAME_SIZE, QVideoFrameFormat::Format_BGRX8888));
    if (!frame.map(QVideoFrame::WriteOnly))
        return;
    const qsizetype rowBytes = qsizetype(picture.width()) * 4;
    for (int y = 0; y < picture.height(); ++y)
        std::memcpy(frame.bits(0) + qsizetype(y) * frame.bytesPerLine(0), picture.constScanLine(y),
            rowBytes);
    frame.unmap();
    Q_EMIT frameArrived(frame);
}

} // namespace tirvel
