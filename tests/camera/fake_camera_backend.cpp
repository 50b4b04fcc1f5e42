#include "fake_camera_backend.h"

#include "video_frame_from_image.h"

#include <QTimer>

void FakeCameraBackend::plug(const Device &device)
{
    m_devices.append(device);
    // Qt's device monitor speaks from its own thread; its news always arrives later.
    QTimer::singleShot(0, this, &CameraBackend::devicesChanged);
}

void FakeCameraBackend::unplug(const QString &id, bool leaveStale)
{
    if (!leaveStale)
        m_devices.removeIf([&](const Device &device) { return device.id == id; });
    QTimer::singleShot(0, this, &CameraBackend::devicesChanged);
}

void FakeCameraBackend::sendFrame(const QImage &image)
{
    const QVideoFrame frame = tirvel::videoFrameFromImage(image);
    if (!frame.isValid())
        qFatal("FakeCameraBackend: cannot map a video frame for writing");
    if (!m_activeId.isEmpty())
        Q_EMIT frameArrived(frame);
}

QList<tirvel::CameraDevice> FakeCameraBackend::devices() const
{
    QList<tirvel::CameraDevice> devices;
    for (const Device &device : m_devices)
        devices.append({device.id, device.id});
    return devices;
}

QList<tirvel::FormatCandidate> FakeCameraBackend::formats(const QString &deviceId) const
{
    const Device *device = find(deviceId);
    return device ? device->formats : QList<tirvel::FormatCandidate>();
}

void FakeCameraBackend::start(const QString &deviceId, qsizetype format)
{
    const Device *device = find(deviceId);
    if (!device || format >= device->formats.size())
        qFatal("FakeCameraBackend: %s started in format %lld", qPrintable(deviceId),
            qlonglong(format));
    m_starts.append({deviceId, format});
    m_activeId = deviceId;
}

void FakeCameraBackend::stop()
{
    m_activeId.clear();
}

void FakeCameraBackend::diagnose(const QString &deviceId)
{
    m_diagnoses.append(deviceId);
    const Device *device = find(deviceId);
    if (device && device->diagnosis) {
        const tirvel::CameraFault fault = *device->diagnosis;
        QTimer::singleShot(0, this, [this, deviceId, fault] { Q_EMIT diagnosed(deviceId, fault); });
    }
}

const FakeCameraBackend::Device *FakeCameraBackend::find(const QString &id) const
{
    for (const Device &device : m_devices) {
        if (device.id == id)
            return &device;
    }
    return nullptr;
}
