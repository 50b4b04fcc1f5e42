#include "camera_supervisor.h"

#include "frame_painter.h"

#include <algorithm>

namespace tirvel {

namespace {

// Two in flight keep a painter on its own thread busy without a queue forming.
constexpr int MOST_PAINTING = 2;

CameraStatus reasonFor(CameraFault fault)
{
    switch (fault) {
    case CameraFault::Busy:
        return CameraStatus::Busy;
    case CameraFault::AccessDenied:
        return CameraStatus::AccessDenied;
    case CameraFault::Silent:
        break;
    }
    return CameraStatus::Silent;
}

} // namespace

CameraSupervisor::CameraSupervisor(
    std::unique_ptr<CameraBackend> backend, Clock clock, QObject *parent)
    : CameraSupervisor(std::move(backend), std::move(clock), Timing {}, parent)
{
}

CameraSupervisor::CameraSupervisor(
    std::unique_ptr<CameraBackend> backend, Clock clock, Timing timing, QObject *parent)
    : QObject(parent)
    , m_backend(std::move(backend))
    , m_clock(std::move(clock))
    , m_timing(timing)
    , m_painter(new FramePainter)
{
    qRegisterMetaType<CameraStatus>();
    connect(m_painter, &FramePainter::painted, this, &CameraSupervisor::onPainted);
    connect(m_painter, &FramePainter::repainted, this, &CameraSupervisor::show);
    m_watchdog.setSingleShot(true);
    m_retry.setSingleShot(true);
    connect(&m_watchdog, &QTimer::timeout, this, [this] {
        // A copy: failing clears the member.
        const QString deviceId = m_activeId;
        onFailed(deviceId, CameraFault::Silent);
    });
    connect(&m_retry, &QTimer::timeout, this, [this] {
        const auto announce = statusGuard();
        if (m_activeId.isEmpty())
            startNext(true);
    });

    connect(
        m_backend.get(), &CameraBackend::devicesChanged, this, &CameraSupervisor::onDevicesChanged);
    connect(m_backend.get(), &CameraBackend::frameArrived, this, &CameraSupervisor::onFrameArrived);
    connect(m_backend.get(), &CameraBackend::failed, this, &CameraSupervisor::onFailed);
    connect(m_backend.get(), &CameraBackend::diagnosed, this, &CameraSupervisor::onDiagnosed);
    // From the event loop, so that whoever made the supervisor can still choose its camera.
    QMetaObject::invokeMethod(this, &CameraSupervisor::onDevicesChanged, Qt::QueuedConnection);
}

CameraSupervisor::~CameraSupervisor()
{
    // The backend outlives this body; nothing it says while stopping may reach a half-gone
    // supervisor.
    m_backend->disconnect(this);
    m_backend->stop();
    // One on a worker thread is that thread's to delete.
    if (m_painter && m_painter->thread() == thread())
        delete m_painter;
}

void CameraSupervisor::paintOn(WorkerThread &thread)
{
    thread.adopt(m_painter.data());
}

void CameraSupervisor::setCameraName(const QString &name)
{
    const auto announce = statusGuard();
    m_cameraName = name;
    if (!m_activeId.isEmpty() && !wantedDevices().isEmpty())
        stopCamera();
    onDevicesChanged();
}

void CameraSupervisor::setViewSize(QSize size)
{
    if (size == m_viewSize)
        return;
    m_viewSize = size;
    if (!m_frame.isNull() && m_painter) {
        QMetaObject::invokeMethod(
            m_painter, [painter = m_painter, frame = m_frame, size, generation = m_generation] {
                painter->repaint(frame, size, generation);
            });
    }
}

void CameraSupervisor::frameSizeCommand()
{
    request(Command::FrameSize);
}

void CameraSupervisor::frameRateCommand()
{
    // Qt 6.4 cannot slow a camera down, so the supervisor itself holds the picture to the rate,
    // and drops the frames it will not show before converting them.
    m_throttle.setInterval(FIVE_A_SECOND_MS);
    request(Command::FrameRate);
}

QScopeGuard<std::function<void()>> CameraSupervisor::statusGuard()
{
    return qScopeGuard(std::function<void()>([this, before = status()] {
        if (status() != before)
            Q_EMIT statusChanged(status());
    }));
}

void CameraSupervisor::clearPicture()
{
    m_frame = {};
    if (m_picture.isNull())
        return;
    m_picture = {};
    Q_EMIT pictureChanged(m_picture);
}

QList<CameraDevice> CameraSupervisor::wantedDevices() const
{
    QList<CameraDevice> devices = m_backend->devices();
    if (!m_cameraName.isEmpty()) {
        devices.removeIf([&](const CameraDevice &device) {
            return !device.id.contains(m_cameraName, Qt::CaseInsensitive)
                && !device.description.contains(m_cameraName, Qt::CaseInsensitive);
        });
    }
    return devices;
}

void CameraSupervisor::onDevicesChanged()
{
    const auto announce = statusGuard();
    const QList<CameraDevice> devices = wantedDevices();
    QHash<QString, quint64> seen;
    QHash<QString, quint64> failed;
    // Devices that appear together keep the system's order; a device that comes back is new.
    const quint64 now = ++m_seenCounter;
    for (const CameraDevice &device : devices) {
        seen.insert(device.id, m_seen.value(device.id, now));
        if (m_failed.contains(device.id))
            failed.insert(device.id, m_failed.value(device.id));
    }
    m_seen = std::move(seen);
    m_failed = std::move(failed);

    if (!m_activeId.isEmpty() && !m_seen.contains(m_activeId))
        stopCamera();
    if (m_activeId.isEmpty())
        startNext(true);
}

void CameraSupervisor::onFrameArrived(const QVideoFrame &frame)
{
    if (m_activeId.isEmpty())
        return;
    // Every frame proves the camera alive, also those the throttle drops.
    m_frameSinceStart = true;
    m_failed.remove(m_activeId);
    m_watchdog.start(m_timing.stallMs);
    if (m_painting >= MOST_PAINTING || !m_painter || !m_throttle.admit(m_clock()))
        return;
    ++m_painting;
    QMetaObject::invokeMethod(
        m_painter, [painter = m_painter, frame, size = m_viewSize, generation = m_generation] {
            painter->paint(frame, size, generation);
        });
}

void CameraSupervisor::onPainted(const QImage &frame, const QImage &picture, quint64 generation)
{
    --m_painting;
    show(frame, picture, generation);
    if (generation == m_generation && !picture.isNull())
        Q_EMIT frameShown(frame, picture);
}

void CameraSupervisor::show(const QImage &frame, const QImage &picture, quint64 generation)
{
    if (generation != m_generation || picture.isNull())
        return;
    const auto announce = statusGuard();
    m_frame = frame;
    m_picture = picture;
    Q_EMIT pictureChanged(m_picture);
}

void CameraSupervisor::onFailed(const QString &deviceId, CameraFault fault)
{
    if (deviceId.isEmpty() || deviceId != m_activeId)
        return;
    const auto announce = statusGuard();
    const bool gavePictures = m_frameSinceStart;
    stopCamera();
    m_failed.insert(deviceId, ++m_failureCounter);
    m_reason = reasonFor(fault);
    // A camera that never gave a picture may be held by another program or closed to us.
    if (!gavePictures && fault == CameraFault::Silent)
        m_backend->diagnose(deviceId);
    startNext(false);
}

void CameraSupervisor::onDiagnosed(const QString &deviceId, CameraFault fault)
{
    // Only the newest failure speaks, and only while its camera stays down.
    const auto newest = std::max_element(m_failed.cbegin(), m_failed.cend());
    if (newest != m_failed.cend() && newest.key() == deviceId && deviceId != m_activeId) {
        const auto announce = statusGuard();
        m_reason = reasonFor(fault);
    }
}

void CameraSupervisor::startNext(bool includingFailed)
{
    const QList<CameraDevice> devices = wantedDevices();
    QStringList fresh;
    QStringList failed;
    for (const CameraDevice &device : devices)
        (m_failed.contains(device.id) ? failed : fresh).append(device.id);
    std::stable_sort(fresh.begin(), fresh.end(),
        [&](const QString &a, const QString &b) { return m_seen.value(a) > m_seen.value(b); });
    std::sort(failed.begin(), failed.end(),
        [&](const QString &a, const QString &b) { return m_failed.value(a) < m_failed.value(b); });

    if (!fresh.isEmpty())
        startCamera(fresh.first());
    else if (includingFailed && !failed.isEmpty())
        startCamera(failed.first());
    else if (devices.isEmpty())
        m_reason = m_cameraName.isEmpty() ? CameraStatus::NoCamera : CameraStatus::Waiting;
    if (m_activeId.isEmpty() && !failed.isEmpty())
        m_retry.start(m_timing.retryMs);
}

void CameraSupervisor::startCamera(const QString &deviceId)
{
    const QList<FormatCandidate> formats = m_backend->formats(deviceId);
    const std::optional<qsizetype> format = formatFor(formats);
    m_throttle.reset();
    m_activeId = deviceId;
    m_activeFormat = format ? std::optional(formats[*format]) : std::nullopt;
    m_frameSinceStart = false;
    // A camera that failed before keeps its reason on show until it gives a picture.
    if (m_reason == CameraStatus::NoCamera || m_reason == CameraStatus::Waiting)
        m_reason = CameraStatus::Starting;
    m_retry.stop();
    m_watchdog.start(m_timing.firstFrameMs);
    m_backend->start(deviceId, format.value_or(-1));
}

void CameraSupervisor::stopCamera()
{
    m_watchdog.stop();
    m_backend->stop();
    m_activeId.clear();
    m_activeFormat.reset();
    ++m_generation;
    clearPicture();
}

void CameraSupervisor::request(Command command)
{
    const auto announce = statusGuard();
    m_requests.removeOne(command);
    m_requests.append(command);
    if (m_activeId.isEmpty())
        return;
    const QList<FormatCandidate> formats = m_backend->formats(m_activeId);
    const std::optional<qsizetype> format = formatFor(formats);
    // A running pipeline cannot safely change format; a restart in the new one can.
    if (format && formats[*format] != m_activeFormat)
        startCamera(m_activeId);
}

std::optional<qsizetype> CameraSupervisor::formatFor(const QList<FormatCandidate> &formats) const
{
    std::optional<qsizetype> chosen = chooseStartFormat(formats, m_viewSize);
    for (Command command : m_requests) {
        if (!chosen)
            break;
        const std::optional<qsizetype> next = command == Command::FrameSize
            ? chooseFrameSizeFormat(formats, formats[*chosen])
            : chooseFrameRateFormat(formats, formats[*chosen]);
        if (next)
            chosen = next;
    }
    return chosen;
}

} // namespace tirvel
