#pragma once

#include "camera_backend.h"
#include "capture_settings.h"
#include "capture_view.h"
#include "frame_throttle.h"

#include <QImage>

#include <functional>
#include <memory>

namespace tirvel {

// The capture view on a real camera. It starts the first camera there is, also one plugged in
// later, and shows its picture scaled to fit with the aspect kept; without a camera, or after a
// camera fails or goes away, it shows a placeholder and waits for the next one. No camera fault
// ever leaves the view as an error. The frame-size and frame-rate requests outlive any one
// camera: the view applies them, in the order last asked for, to every camera it starts. The
// capture file path is only kept; the view records nothing.
class CameraView : public CaptureView
{
    Q_OBJECT

public:
    // Monotonic milliseconds; used to hold the picture to the requested frame rate.
    using Clock = std::function<qint64()>;

    CameraView(const CaptureSettings &settings, std::unique_ptr<CameraBackend> backend,
        QWidget *parent = nullptr);
    CameraView(const CaptureSettings &settings, std::unique_ptr<CameraBackend> backend, Clock clock,
        QWidget *parent = nullptr);
    ~CameraView() override;

    double viewWidth() const override;
    double viewHeight() const override;

    void setCaptureFilePath(const QString &path) override;
    QString captureFilePath() const override;

    void frameSizeCommand() override;
    void frameRateCommand() override;

    const CaptureSettings &settings() const { return m_settings; }
    // Whether a camera's picture is on show rather than the placeholder.
    bool isShowingVideo() const { return !m_frame.isNull(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    enum class Command { FrameSize, FrameRate };

    void onDevicesChanged();
    void onFrameArrived(const QVideoFrame &frame);
    void onErrorOccurred();
    void startCamera(const QString &deviceId);
    void stopCamera();
    void request(Command command);
    void apply(Command command);
    bool cameraRunning() const;

    CaptureSettings m_settings;
    std::unique_ptr<CameraBackend> m_backend;
    Clock m_clock;
    FrameThrottle m_throttle;
    QList<Command> m_requests;
    QString m_captureFilePath;
    QImage m_frame;
};

} // namespace tirvel
