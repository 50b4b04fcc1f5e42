#include "camera_view.h"

#include <QElapsedTimer>
#include <QPainter>

#include <algorithm>

namespace tirvel {

namespace {

constexpr QColor GROUND_COLOUR {24, 24, 24};
constexpr QColor PLACEHOLDER_TEXT_COLOUR {220, 220, 220};
constexpr int PLACEHOLDER_MARGIN = 6;

constexpr qint64 FRAME_RATE_INTERVAL_MS = qint64(1000 / COMMAND_FRAME_RATE);

CameraView::Clock steadyClock()
{
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    return [timer] { return timer->elapsed(); };
}

QString noCameraText()
{
    return QStringLiteral("Ingen kamera");
}

QString waitingText(const QString &name)
{
    return QStringLiteral("Väntar på kameran \u201C%1\u201D").arg(name);
}

QString startingText()
{
    return QStringLiteral("Startar kameran …");
}

QString faultText(CameraFault fault)
{
    switch (fault) {
    case CameraFault::Busy:
        return QStringLiteral("Kameran används av ett annat program");
    case CameraFault::AccessDenied:
        return QStringLiteral("Åtkomst till kameran nekades");
    case CameraFault::Silent:
        break;
    }
    return QStringLiteral("Kameran skickar inga bilder");
}

} // namespace

CameraView::CameraView(std::unique_ptr<CameraBackend> backend, QWidget *parent)
    : CameraView(std::move(backend), steadyClock(), Timing {}, parent)
{
}

CameraView::CameraView(
    std::unique_ptr<CameraBackend> backend, Clock clock, Timing timing, QWidget *parent)
    : CaptureView(parent)
    , m_backend(std::move(backend))
    , m_clock(std::move(clock))
    , m_timing(timing)
    , m_placeholder(noCameraText())
{
    // The window places the view by hand; the fixed policy only keeps layouts from stretching it.
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    resize(DESIGN_SIZE);
    setAttribute(Qt::WA_OpaquePaintEvent);

    m_watchdog.setSingleShot(true);
    m_retry.setSingleShot(true);
    connect(&m_watchdog, &QTimer::timeout, this, &CameraView::onWatchdog);
    connect(&m_retry, &QTimer::timeout, this, [this] {
        if (m_activeId.isEmpty())
            startNext(true);
    });

    connect(m_backend.get(), &CameraBackend::devicesChanged, this, &CameraView::onDevicesChanged);
    connect(m_backend.get(), &CameraBackend::frameArrived, this, &CameraView::onFrameArrived);
    connect(m_backend.get(), &CameraBackend::failed, this, &CameraView::onFailed);
    connect(m_backend.get(), &CameraBackend::diagnosed, this, &CameraView::onDiagnosed);
    // From the event loop, so that whoever made the view can still choose its camera.
    QMetaObject::invokeMethod(this, &CameraView::onDevicesChanged, Qt::QueuedConnection);
}

CameraView::~CameraView()
{
    // The backend outlives this body; nothing it says while stopping may reach a half-gone view.
    m_backend->disconnect(this);
    m_backend->stop();
}

void CameraView::setCameraName(const QString &name)
{
    m_cameraName = name;
    if (!m_activeId.isEmpty() && !wantedDevices().isEmpty())
        stopCamera();
    onDevicesChanged();
}

void CameraView::setFrameWriter(std::unique_ptr<FrameWriter> writer)
{
    m_writer = std::move(writer);
    if (m_writer)
        connect(m_writer.get(), &FrameWriter::failed, this, &CaptureView::errorOccurred);
}

void CameraView::frameSizeCommand()
{
    request(Command::FrameSize);
}

void CameraView::frameRateCommand()
{
    // Qt 6.4 cannot slow a camera down, so the view itself holds the picture to the rate, and
    // drops the frames it will not show before converting them.
    m_throttle.setInterval(FRAME_RATE_INTERVAL_MS);
    request(Command::FrameRate);
}

QString CameraView::placeholderText() const
{
    return isShowingVideo() ? QString() : m_placeholder;
}

QSize CameraView::sizeHint() const
{
    return DESIGN_SIZE;
}

QSize CameraView::minimumSizeHint() const
{
    return DESIGN_SIZE;
}

void CameraView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (m_picture.isNull()) {
        painter.fillRect(rect(), GROUND_COLOUR);
        painter.setPen(PLACEHOLDER_TEXT_COLOUR);
        const QRect box = rect().adjusted(
            PLACEHOLDER_MARGIN, PLACEHOLDER_MARGIN, -PLACEHOLDER_MARGIN, -PLACEHOLDER_MARGIN);
        painter.drawText(box, Qt::AlignCenter | Qt::TextWordWrap, m_placeholder);
        return;
    }
    painter.drawImage(0, 0, m_picture);
}

void CameraView::resizeEvent(QResizeEvent *event)
{
    compose();
    CaptureView::resizeEvent(event);
}

void CameraView::compose()
{
    if (m_frame.isNull()) {
        m_picture = {};
        return;
    }
    // Scaled to fit with the aspect kept, on the dark ground: what the view shows is what the
    // frame files get.
    QImage picture(size(), QImage::Format_RGB32);
    picture.fill(GROUND_COLOUR);
    const QSize fitted = m_frame.size().scaled(size(), Qt::KeepAspectRatio);
    QRect target({}, fitted);
    target.moveCenter(picture.rect().center());
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, m_frame);
    painter.end();
    m_picture = std::move(picture);
}

QList<CameraDevice> CameraView::wantedDevices() const
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

void CameraView::onDevicesChanged()
{
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

void CameraView::onFrameArrived(const QVideoFrame &frame)
{
    if (m_activeId.isEmpty())
        return;
    // Every frame proves the camera alive, also those the throttle drops.
    m_frameSinceStart = true;
    m_failed.remove(m_activeId);
    m_watchdog.start(m_timing.stallMs);
    if (!m_throttle.admit(m_clock()))
        return;
    QImage image = frame.toImage();
    if (image.isNull())
        return;
    m_frame = std::move(image);
    compose();
    update();
    if (m_writer)
        m_writer->write(m_picture);
}

void CameraView::onWatchdog()
{
    // A copy: failing clears the member.
    const QString deviceId = m_activeId;
    onFailed(deviceId, CameraFault::Silent);
}

void CameraView::onFailed(const QString &deviceId, CameraFault fault)
{
    if (deviceId.isEmpty() || deviceId != m_activeId)
        return;
    const bool gavePictures = m_frameSinceStart;
    stopCamera();
    m_failed.insert(deviceId, ++m_failureCounter);
    m_placeholder = faultText(fault);
    // A camera that never gave a picture may be held by another program or closed to us.
    if (!gavePictures && fault == CameraFault::Silent)
        m_backend->diagnose(deviceId);
    startNext(false);
}

void CameraView::onDiagnosed(const QString &deviceId, CameraFault fault)
{
    // Only the newest failure speaks, and only while its camera stays down.
    const auto newest = std::max_element(m_failed.cbegin(), m_failed.cend());
    if (newest != m_failed.cend() && newest.key() == deviceId && deviceId != m_activeId) {
        m_placeholder = faultText(fault);
        update();
    }
}

void CameraView::startNext(bool includingFailed)
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

    if (!fresh.isEmpty()) {
        startCamera(fresh.first());
    } else if (includingFailed && !failed.isEmpty()) {
        startCamera(failed.first());
    } else {
        if (devices.isEmpty())
            m_placeholder = m_cameraName.isEmpty() ? noCameraText() : waitingText(m_cameraName);
        update();
    }
    if (m_activeId.isEmpty() && !failed.isEmpty())
        m_retry.start(m_timing.retryMs);
}

void CameraView::startCamera(const QString &deviceId)
{
    const QList<FormatCandidate> formats = m_backend->formats(deviceId);
    const std::optional<qsizetype> format = formatFor(formats);
    m_throttle.reset();
    m_activeId = deviceId;
    m_activeFormat = format ? std::optional(formats[*format]) : std::nullopt;
    m_frameSinceStart = false;
    if (m_placeholder == noCameraText() || m_placeholder == waitingText(m_cameraName))
        m_placeholder = startingText();
    m_retry.stop();
    m_watchdog.start(m_timing.firstFrameMs);
    m_backend->start(deviceId, format.value_or(-1));
    update();
}

void CameraView::stopCamera()
{
    m_watchdog.stop();
    m_backend->stop();
    m_activeId.clear();
    m_activeFormat.reset();
    m_frame = {};
    m_picture = {};
    update();
}

void CameraView::request(Command command)
{
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

std::optional<qsizetype> CameraView::formatFor(const QList<FormatCandidate> &formats) const
{
    std::optional<qsizetype> chosen = chooseStartFormat(formats, size());
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
