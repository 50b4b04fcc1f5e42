#pragma once

#include "camera_backend.h"
#include "worker_thread.h"

#include <QCameraDevice>
#include <QList>
#include <QMediaDevices>

class QCamera;
class QMediaCaptureSession;
class QVideoSink;

namespace tirvel {

class CameraProber;

// The camera as Qt Multimedia offers it. Each started device gets a capture session and a video
// sink of its own, so nothing from a stopped device can reach the next one. Everything Qt says
// reaches the supervisor through the event loop, never from inside a Qt call: Qt 6.4 announces a
// camera present at start from inside its first device listing, while holding a lock that a second
// listing would wait on forever.
class QtCameraBackend : public CameraBackend
{
    Q_OBJECT

public:
    explicit QtCameraBackend(QObject *parent = nullptr);
    ~QtCameraBackend() override;

    QList<CameraDevice> devices() const override;
    QList<FormatCandidate> formats(const QString &deviceId) const override;

    void start(const QString &deviceId, qsizetype format) override;
    void stop() override;

    void diagnose(const QString &deviceId) override;

private:
    enum class Release { Now, Later };

    QList<QCameraDevice> cameras() const;
    void release(Release when);

    QMediaDevices m_mediaDevices;
    QCamera *m_camera = nullptr;
    QMediaCaptureSession *m_session = nullptr;
    QVideoSink *m_sink = nullptr;
    QString m_deviceId;
    // Probing waits on GStreamer for seconds, never on the window's thread.
    WorkerThread m_probes;
    CameraProber *m_prober;
};

} // namespace tirvel
