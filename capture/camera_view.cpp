#include "camera_view.h"

#include <QElapsedTimer>
#include <QPainter>

namespace tirvel {

namespace {

constexpr QColor GROUND_COLOUR {24, 24, 24};
constexpr QColor PLACEHOLDER_TEXT_COLOUR {220, 220, 220};
const char *const PLACEHOLDER_TEXT = "Ingen kamera";

constexpr qint64 FRAME_RATE_INTERVAL_MS = qint64(1000 / COMMAND_FRAME_RATE);

CameraView::Clock steadyClock()
{
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    return [timer] { return timer->elapsed(); };
}

} // namespace

CameraView::CameraView(
    const CaptureSettings &settings, std::unique_ptr<CameraBackend> backend, QWidget *parent)
    : CameraView(settings, std::move(backend), steadyClock(), parent)
{
}

CameraView::CameraView(const CaptureSettings &settings, std::unique_ptr<CameraBackend> backend,
    Clock clock, QWidget *parent)
    : CaptureView(parent)
    , m_settings(settings)
    , m_backend(std::move(backend))
    , m_clock(std::move(clock))
{
    // The window places the view by hand; the fixed policy only keeps layouts from stretching it.
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    resize(m_settings.sizeInPixels());
    setAttribute(Qt::WA_OpaquePaintEvent);

    connect(m_backend.get(), &CameraBackend::devicesChanged, this, &CameraView::onDevicesChanged);
    connect(m_backend.get(), &CameraBackend::frameArrived, this, &CameraView::onFrameArrived);
    connect(m_backend.get(), &CameraBackend::errorOccurred, this, &CameraView::onErrorOccurred);
    onDevicesChanged();
}

CameraView::~CameraView()
{
    // The backend outlives this body; nothing it says while stopping may reach a half-gone view.
    m_backend->disconnect(this);
    m_backend->stop();
}

double CameraView::viewWidth() const
{
    return double(width()) * CaptureSettings::TWIPS_PER_PIXEL;
}

double CameraView::viewHeight() const
{
    return double(height()) * CaptureSettings::TWIPS_PER_PIXEL;
}

void CameraView::setCaptureFilePath(const QString &path)
{
    m_captureFilePath = path;
}

QString CameraView::captureFilePath() const
{
    return m_captureFilePath;
}

void CameraView::frameSizeCommand()
{
    request(Command::FrameSize);
}

void CameraView::frameRateCommand()
{
    // Qt runs a format at the top of its rate range whatever the range holds, so the view itself
    // holds the picture to the requested rate.
    m_throttle.setInterval(FRAME_RATE_INTERVAL_MS);
    request(Command::FrameRate);
}

QSize CameraView::sizeHint() const
{
    return m_settings.sizeInPixels();
}

QSize CameraView::minimumSizeHint() const
{
    return m_settings.sizeInPixels();
}

void CameraView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), GROUND_COLOUR);
    if (m_frame.isNull()) {
        painter.setPen(PLACEHOLDER_TEXT_COLOUR);
        painter.drawText(rect(), Qt::AlignCenter, QString::fromUtf8(PLACEHOLDER_TEXT));
        return;
    }
    const QSize fitted = m_frame.size().scaled(size(), Qt::KeepAspectRatio);
    QRect target({}, fitted);
    target.moveCenter(rect().center());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, m_frame);
}

void CameraView::onDevicesChanged()
{
    const QStringList ids = m_backend->deviceIds();
    // Qt's camera may not notice its device going, and a stopped one leaves its last picture.
    if (!ids.contains(m_backend->activeDeviceId()))
        stopCamera();
    // A camera that fails at once, busy with another program say, leaves the next one a chance.
    for (const QString &id : ids) {
        if (cameraRunning())
            break;
        startCamera(id);
    }
}

void CameraView::onFrameArrived(const QVideoFrame &frame)
{
    if (!cameraRunning() || !m_throttle.admit(m_clock()))
        return;
    QImage image = frame.toImage();
    if (image.isNull())
        return;
    m_frame = std::move(image);
    update();
}

void CameraView::onErrorOccurred()
{
    // A busy, broken or vanished camera is no fault of the program: show the placeholder and wait
    // for the device list to change.
    stopCamera();
}

void CameraView::startCamera(const QString &deviceId)
{
    m_throttle.reset();
    m_backend->start(deviceId);
    for (Command command : std::as_const(m_requests))
        apply(command);
}

void CameraView::stopCamera()
{
    m_backend->stop();
    m_frame = {};
    update();
}

void CameraView::request(Command command)
{
    m_requests.removeOne(command);
    m_requests.append(command);
    apply(command);
}

void CameraView::apply(Command command)
{
    // The camera may have failed before or during an earlier step.
    if (!cameraRunning())
        return;
    const QList<FormatCandidate> formats = m_backend->formats();
    const FormatCandidate current = m_backend->currentFormat();
    const std::optional<qsizetype> chosen = command == Command::FrameSize
        ? chooseFrameSizeFormat(formats, current)
        : chooseFrameRateFormat(formats, current);
    if (chosen)
        m_backend->applyFormat(*chosen);
}

bool CameraView::cameraRunning() const
{
    return !m_backend->activeDeviceId().isEmpty();
}

} // namespace tirvel
