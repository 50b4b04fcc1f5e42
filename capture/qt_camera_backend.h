#pragma once

#include "camera_backend.h"

#include <QCameraFormat>
#include <QMediaDevices>

class QCamera;
class QMediaCaptureSession;
class QVideoSink;

namespace tirvel {

// The camera as Qt Multimedia offers it. Each started device gets a capture session and a video
// sink of its own, so nothing from a stopped device can reach the next one. Failures of Qt's
// camera are passed on as errorOccurred from the event loop, never while Qt is still inside the
// call that failed.
class QtCameraBackend : public CameraBackend
{
    Q_OBJECT

public:
    explicit QtCameraBackend(QObject *parent = nullptr);
    ~QtCameraBackend() override;

    QStringList deviceIds() const override;

    void start(const QString &deviceId) override;
    void stop() override;
    QString activeDeviceId() const override;

    QList<FormatCandidate> formats() const override;
    void applyFormat(qsizetype position) override;
    FormatCandidate currentFormat() const override;

private:
    enum class Release { Now, Later };

    void release(Release when);
    void fail(const QString &description);

    QMediaDevices m_mediaDevices;
    QCamera *m_camera = nullptr;
    QMediaCaptureSession *m_session = nullptr;
    QVideoSink *m_sink = nullptr;
    QString m_deviceId;
    QList<QCameraFormat> m_formats;
    // What the frames show, for when the device runs in a format of its own choosing.
    QSize m_frameSize;
    QVideoFrameFormat::PixelFormat m_framePixelFormat = QVideoFrameFormat::Format_Invalid;
};

} // namespace tirvel
