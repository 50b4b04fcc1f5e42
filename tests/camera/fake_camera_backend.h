#pragma once

#include "camera_backend.h"

#include <QImage>

#include <optional>
#include <utility>

// A camera backend driven by the test, failing the way Qt 6.4's GStreamer camera does: it never
// reports an error, a camera that goes silent just stops sending frames, and an unplugged camera
// may stay listed. Frames are made from images on request; every start is recorded.
class FakeCameraBackend : public tirvel::CameraBackend
{
    Q_OBJECT

public:
    struct Device
    {
        QString id;
        QList<tirvel::FormatCandidate> formats;
        // What a look at the camera finds after it gave no picture.
        std::optional<tirvel::CameraFault> diagnosis;
    };

    void plug(const Device &device);
    // A stale entry stays listed, as Qt 6.4 keeps one of the two it made for a camera.
    void unplug(const QString &id, bool leaveStale = false);
    // Reaches the supervisor only from the running device.
    void sendFrame(const QImage &image);

    // Each start as the device and the position of its format.
    QList<std::pair<QString, qsizetype>> starts() const { return m_starts; }
    QStringList diagnoses() const { return m_diagnoses; }

    QList<tirvel::CameraDevice> devices() const override;
    QList<tirvel::FormatCandidate> formats(const QString &deviceId) const override;
    void start(const QString &deviceId, qsizetype format) override;
    void stop() override;
    // Empty while no device runs.
    QString activeDeviceId() const { return m_activeId; }
    void diagnose(const QString &deviceId) override;

private:
    const Device *find(const QString &id) const;

    QList<Device> m_devices;
    QString m_activeId;
    QList<std::pair<QString, qsizetype>> m_starts;
    QStringList m_diagnoses;
};
