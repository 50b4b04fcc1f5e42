#pragma once

#include "camera_backend.h"
#include "camera_facts.h"
#include "camera_status.h"
#include "clock.h"
#include "frame_throttle.h"
#include "worker_thread.h"

#include <QHash>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QScopeGuard>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace tirvel {

class FramePainter;

// Keeps one camera giving pictures, with no window. No camera is trusted to report its own
// failure: one that gives no picture for a while is stopped, the others are tried (the newest
// first), and the failed ones again now and then and whenever the devices change, so an unplugged
// or busy camera comes back by itself. A running pipeline cannot safely change format, so a
// command restarts the camera in its new one, and the two requests outlive any one camera.
class CameraSupervisor : public QObject
{
    Q_OBJECT

public:
    struct Timing
    {
        // A started camera has this long to give its first picture,
        int firstFrameMs = 3000;
        // and a running one this long between pictures.
        int stallMs = 2000;
        // How often failed cameras are tried again while no picture shows.
        int retryMs = 5000;
    };

    CameraSupervisor(
        std::unique_ptr<CameraBackend> backend, Clock clock, QObject *parent = nullptr);
    CameraSupervisor(std::unique_ptr<CameraBackend> backend, Clock clock, Timing timing,
        QObject *parent = nullptr);
    ~CameraSupervisor() override;

    // Only cameras whose id or description holds the name, in any case, are started.
    void setCameraName(const QString &name);
    const QString &cameraName() const { return m_cameraName; }
    // The size pictures are composed at, and formats chosen to cover.
    void setViewSize(QSize size);
    // Frames are converted and composed on this thread from now on, rather than on the
    // supervisor's own.
    void paintOn(WorkerThread &thread);

    void frameSizeCommand();
    void frameRateCommand();

    // Null while no picture shows.
    const QImage &picture() const { return m_picture; }
    // The latest frame whole, as the camera gave it.
    const QImage &frame() const { return m_frame; }
    CameraStatus status() const { return m_picture.isNull() ? m_reason : CameraStatus::Showing; }

Q_SIGNALS:
    // Every new picture, at the view's size; a null one when the picture goes.
    void pictureChanged(const QImage &picture);
    // Each new camera frame shown, whole and as the view shows it (never a repaint at another
    // size).
    void frameShown(const QImage &frame, const QImage &picture);
    void statusChanged(tirvel::CameraStatus status);

private:
    enum class Command { FrameSize, FrameRate };

    void onDevicesChanged();
    void onFrameArrived(const QVideoFrame &frame);
    void onPainted(const QImage &frame, const QImage &picture, quint64 generation);
    void show(const QImage &frame, const QImage &picture, quint64 generation);
    void onFailed(const QString &deviceId, CameraFault fault);
    void onDiagnosed(const QString &deviceId, CameraFault fault);
    void startNext(bool includingFailed);
    void startCamera(const QString &deviceId);
    void stopCamera();
    void request(Command command);
    std::optional<qsizetype> formatFor(const QList<FormatCandidate> &formats) const;
    QList<CameraDevice> wantedDevices() const;
    // The picture goes, as the camera stops.
    void clearPicture();
    // Says statusChanged() when it goes out of scope, if the status changed meanwhile.
    [[nodiscard]] QScopeGuard<std::function<void()>> statusGuard();

    std::unique_ptr<CameraBackend> m_backend;
    Clock m_clock;
    Timing m_timing;
    FrameThrottle m_throttle;
    QList<Command> m_requests;
    QString m_cameraName;
    QSize m_viewSize = DESIGN_SIZE;
    QPointer<FramePainter> m_painter;
    // Counts the cameras started, so a frame painted for one that has since stopped is dropped.
    quint64 m_generation = 0;
    // Frames handed to the painter and not yet back; more are dropped, so a slow painter never
    // makes them pile up.
    int m_painting = 0;
    QImage m_frame;
    QImage m_picture;
    // Why no picture shows, kept while one does.
    CameraStatus m_reason = CameraStatus::NoCamera;

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
