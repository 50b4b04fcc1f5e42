#pragma once

#include "camera_backend.h"
#include "capture_view.h"
#include "frame_throttle.h"
#include "frame_writer.h"

#include <QHash>
#include <QImage>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace tirvel {

// The capture view on a real camera. It shows the picture of one camera, scaled to fit with the
// aspect kept, and otherwise a placeholder that says why there is none. It trusts no camera to
// report its own failure: one that gives no picture for a while is stopped, the others are tried
// (the newest first), and the failed ones are tried again now and then and whenever the devices
// change, so an unplugged or busy camera comes back by itself. Formats are chosen before a camera
// starts, and a command restarts the camera in its new format; the two requests outlive any one
// camera and apply, in the order last asked for, to every camera the view starts.
class CameraView : public CaptureView
{
    Q_OBJECT

public:
    // Monotonic milliseconds; used to hold the picture to the requested frame rate.
    using Clock = std::function<qint64()>;

    struct Timing
    {
        // A started camera has this long to give its first picture,
        int firstFrameMs = 3000;
        // and a running one this long between pictures.
        int stallMs = 2000;
        // How often failed cameras are tried again while no picture shows.
        int retryMs = 5000;
    };

    // The size the window is designed around.
    static constexpr QSize DESIGN_SIZE {160, 120};

    explicit CameraView(std::unique_ptr<CameraBackend> backend, QWidget *parent = nullptr);
    CameraView(std::unique_ptr<CameraBackend> backend, Clock clock, Timing timing,
        QWidget *parent = nullptr);
    ~CameraView() override;

    void frameSizeCommand() override;
    void frameRateCommand() override;

    // Only cameras whose id or description holds the name, in any case, are started.
    void setCameraName(const QString &name);
    // Puts each picture shown into the frame files; failures come out as errorOccurred.
    void setFrameWriter(std::unique_ptr<FrameWriter> writer);
    // The view's own clock, for a writer that must keep step with it.
    const Clock &clock() const { return m_clock; }

    // Whether a camera's picture is on show rather than the placeholder.
    bool isShowingVideo() const { return !m_picture.isNull(); }
    QString placeholderText() const override;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    enum class Command { FrameSize, FrameRate };

    void onDevicesChanged();
    void onFrameArrived(const QVideoFrame &frame);
    void onWatchdog();
    void onFailed(const QString &deviceId, CameraFault fault);
    void onDiagnosed(const QString &deviceId, CameraFault fault);
    void startNext(bool includingFailed);
    void startCamera(const QString &deviceId);
    void stopCamera();
    void request(Command command);
    std::optional<qsizetype> formatFor(const QList<FormatCandidate> &formats) const;
    QList<CameraDevice> wantedDevices() const;
    void compose();

    std::unique_ptr<CameraBackend> m_backend;
    Clock m_clock;
    Timing m_timing;
    FrameThrottle m_throttle;
    QList<Command> m_requests;
    QString m_cameraName;
    std::unique_ptr<FrameWriter> m_writer;
    QImage m_frame;
    // The frame as the view shows it, at the view's size; null while the placeholder shows.
    QImage m_picture;
    QString m_placeholder;

    QTimer m_watchdog;
    QTimer m_retry;
    // The running camera and its format; the format is empty while nothing runs.
    QString m_activeId;
    std::optional<FormatCandidate> m_activeFormat;
    bool m_frameSinceStart = false;
    // When each device was first seen, so the newest is tried first.
    QHash<QString, quint64> m_seen;
    quint64 m_seenCounter = 0;
    // Devices that failed, with the order of their failure, so the oldest is retried first.
    QHash<QString, quint64> m_failed;
    quint64 m_failureCounter = 0;
};

} // namespace tirvel
