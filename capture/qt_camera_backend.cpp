#include "qt_camera_backend.h"

#include <QCamera>
#include <QCameraDevice>
#include <QMediaCaptureSession>
#include <QPointer>
#include <QVideoSink>

namespace tirvel {

namespace {

QString idOf(const QCameraDevice &device)
{
    return QString::fromUtf8(device.id());
}

QCameraDevice findDevice(const QString &deviceId)
{
    for (const QCameraDevice &device : QMediaDevices::videoInputs()) {
        if (idOf(device) == deviceId)
            return device;
    }
    return {};
}

FormatCandidate toCandidate(const QCameraFormat &format)
{
    return {
        format.resolution(), format.pixelFormat(), format.minFrameRate(), format.maxFrameRate()};
}

} // namespace

QtCameraBackend::QtCameraBackend(QObject *parent)
    : CameraBackend(parent)
{
    connect(
        &m_mediaDevices, &QMediaDevices::videoInputsChanged, this, &CameraBackend::devicesChanged);
}

QtCameraBackend::~QtCameraBackend()
{
    release(Release::Now);
}

QStringList QtCameraBackend::deviceIds() const
{
    QStringList ids;
    const QCameraDevice preferred = QMediaDevices::defaultVideoInput();
    if (!preferred.isNull())
        ids.append(idOf(preferred));
    for (const QCameraDevice &device : QMediaDevices::videoInputs()) {
        if (device != preferred)
            ids.append(idOf(device));
    }
    return ids;
}

void QtCameraBackend::start(const QString &deviceId)
{
    release(Release::Later);
    const QCameraDevice device = findDevice(deviceId);
    if (device.isNull()) {
        Q_EMIT errorOccurred(tr("The camera %1 is not present").arg(deviceId));
        return;
    }

    m_camera = new QCamera(device, this);
    m_sink = new QVideoSink(this);
    m_session = new QMediaCaptureSession(this);
    m_session->setCamera(m_camera);
    m_session->setVideoSink(m_sink);
    m_deviceId = deviceId;
    m_formats = device.videoFormats();
    m_frameSize = {};
    m_framePixelFormat = QVideoFrameFormat::Format_Invalid;

    // Both signals may come from Qt's own threads or from deep inside a Qt call; going through
    // the event loop, and checking that the sender still belongs to the running device, keeps a
    // stopped device from reaching the view.
    connect(
        m_camera, &QCamera::errorOccurred, this,
        [this, camera = QPointer(m_camera)](QCamera::Error, const QString &description) {
            if (camera && camera == m_camera)
                fail(description);
        },
        Qt::QueuedConnection);
    connect(
        m_sink, &QVideoSink::videoFrameChanged, this,
        [this, sink = QPointer(m_sink)](const QVideoFrame &frame) {
            if (!sink || sink != m_sink || !frame.isValid())
                return;
            m_frameSize = frame.size();
            m_framePixelFormat = frame.pixelFormat();
            Q_EMIT frameArrived(frame);
        },
        Qt::QueuedConnection);

    m_camera->start();
    // A device that cannot be opened at all says so at once, without a signal.
    if (m_camera->error() != QCamera::NoError)
        fail(m_camera->errorString());
}

void QtCameraBackend::stop()
{
    release(Release::Later);
}

QString QtCameraBackend::activeDeviceId() const
{
    return m_deviceId;
}

QList<FormatCandidate> QtCameraBackend::formats() const
{
    QList<FormatCandidate> candidates;
    candidates.reserve(m_formats.size());
    for (const QCameraFormat &format : m_formats)
        candidates.append(toCandidate(format));
    return candidates;
}

void QtCameraBackend::applyFormat(qsizetype position)
{
    if (!m_camera || position < 0 || position >= m_formats.size())
        return;
    m_camera->setCameraFormat(m_formats[position]);
    if (m_camera->error() != QCamera::NoError)
        fail(m_camera->errorString());
}

FormatCandidate QtCameraBackend::currentFormat() const
{
    if (m_camera && !m_camera->cameraFormat().isNull())
        return toCandidate(m_camera->cameraFormat());
    return {m_frameSize, m_framePixelFormat};
}

void QtCameraBackend::release(Release when)
{
    if (!m_camera)
        return;
    m_camera->disconnect(this);
    m_sink->disconnect(this);
    m_camera->stop();
    m_session->setVideoSink(nullptr);
    m_session->setCamera(nullptr);
    if (when == Release::Now) {
        delete m_session;
        delete m_camera;
        delete m_sink;
    } else {
        // A stop may come from anywhere up a call stack that still holds these objects.
        m_session->deleteLater();
        m_camera->deleteLater();
        m_sink->deleteLater();
    }
    m_session = nullptr;
    m_camera = nullptr;
    m_sink = nullptr;
    m_deviceId.clear();
    m_formats.clear();
}

void QtCameraBackend::fail(const QString &description)
{
    release(Release::Later);
    Q_EMIT errorOccurred(description);
}

} // namespace tirvel
