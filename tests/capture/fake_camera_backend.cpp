#include "fake_camera_backend.h"

#include <QVideoFrame>

#include <cstring>

void FakeCameraBackend::plug(const Device &device)
{
    m_devices.append(device);
    Q_EMIT devicesChanged();
}

void FakeCameraBackend::unplug(const QString &id)
{
    // Like Qt's camera, the running device does not notice; the view has to stop it.
    m_devices.removeIf([&](const Device &device) { return device.id == id; });
    Q_EMIT devicesChanged();
}

void FakeCameraBackend::sendFrame(const QImage &image)
{
    // Qt 6.4 cannot wrap an image in a frame, so the pixels are copied into a mapped one.
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    QVideoFrame frame(QVideoFrameFormat(argb.size(), QVideoFrameFormat::Format_BGRA8888));
    if (!frame.map(QVideoFrame::WriteOnly))
        qFatal("FakeCameraBackend: cannot map a video frame for writing");
    const qsizetype rowBytes = qsizetype(argb.width()) * 4;
    for (int y = 0; y < argb.height(); ++y)
        std::memcpy(frame.bits(0) + y * frame.bytesPerLine(0), argb.constScanLine(y), rowBytes);
    frame.unmap();
    Q_EMIT frameArrived(frame);
}

void FakeCameraBackend::fail(const QString &description)
{
    m_activeId.clear();
    Q_EMIT errorOccurred(description);
}

QStringList FakeCameraBackend::deviceIds() const
{
    QStringList ids;
    for (const Device &device : m_devices)
        ids.append(device.id);
    return ids;
}

void FakeCameraBackend::start(const QString &deviceId)
{
    m_startedDevices.append(deviceId);
    const Device *device = find(deviceId);
    if (!device || device->failsToStart) {
        m_activeId.clear();
        Q_EMIT errorOccurred(QStringLiteral("cannot open %1").arg(deviceId));
        return;
    }
    m_activeId = deviceId;
    m_current = device->initialFormat;
}

void FakeCameraBackend::stop()
{
    m_activeId.clear();
}

QList<tirvel::FormatCandidate> FakeCameraBackend::formats() const
{
    const Device *device = find(m_activeId);
    return device ? device->formats : QList<tirvel::FormatCandidate>();
}

void FakeCameraBackend::applyFormat(qsizetype position)
{
    const QList<tirvel::FormatCandidate> offered = formats();
    if (position < 0 || position >= offered.size())
        qFatal("FakeCameraBackend: format %lld applied, %lld offered", qlonglong(position),
            qlonglong(offered.size()));
    m_appliedFormats.append(position);
    m_current = offered[position];
}

const FakeCameraBackend::Device *FakeCameraBackend::find(const QString &id) const
{
    for (const Device &device : m_devices) {
        if (device.id == id)
            return &device;
    }
    return nullptr;
}
