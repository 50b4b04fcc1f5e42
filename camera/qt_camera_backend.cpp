#include "qt_camera_backend.h"

#include "camera_probe.h"

#include <QCamera>
#include <QMediaCaptureSession>
#include <QPointer>
#include <QThread>
#include <QVideoSink>

#include <algorithm>

namespace tirvel {

namespace {

constexpr int PROBE_DELAY_MS = 300;
// A probe gives up within a few seconds; the end waits for one under way.
constexpr int PROBE_END_WAIT_MS = 10000;

QString idOf(const QCameraDevice &device)
{
    return QString::fromUtf8(device.id());
}

FormatCandidate toCandidate(const QCameraFormat &format)
{
    return {
        format.resolution(), format.pixelFormat(), format.minFrameRate(), format.maxFrameRate()};
}

bool sameCamera(const QCameraDevice &a, const QCameraDevice &b)
{
    return a.description() == b.description() && a.videoFormats() == b.videoFormats();
}

} // namespace

QtCameraBackend::QtCameraBackend(QObject *parent)
    : CameraBackend(parent)
    , m_probes(QStringLiteral("camera probe"))
    , m_prober(m_probes.adopt(new CameraProber))
{
    connect(m_prober, &CameraProber::diagnosed, this, &CameraBackend::diagnosed);
    m_probes.start();
    // The first listing builds Qt's device monitor; only then may anything listen to it.
    QMediaDevices::videoInputs();
    connect(&m_mediaDevices, &QMediaDevices::videoInputsChanged, this,
        &CameraBackend::devicesChanged, Qt::QueuedConnection);
}

QtCameraBackend::~QtCameraBackend()
{
    release(Release::Now);
    m_probes.stop(PROBE_END_WAIT_MS);
}

QList<QCameraDevice> QtCameraBackend::cameras() const
{
    // Qt 6.4 lists a camera present at start a second time once the event loop runs, and keeps
    // one of the two for good when the camera goes. One entry stands for each camera: the one
    // running, else the newest, which is the one a camera plugged in again gets.
    const QList<QCameraDevice> listed = QMediaDevices::videoInputs();
    QList<QCameraDevice> unique;
    for (const QCameraDevice &device : listed) {
        const auto same = std::find_if(unique.begin(), unique.end(),
            [&](const QCameraDevice &kept) { return sameCamera(kept, device); });
        if (same == unique.end())
            unique.append(device);
        else if (idOf(*same) != m_deviceId)
            *same = device;
    }
    const QCameraDevice preferred = QMediaDevices::defaultVideoInput();
    std::stable_partition(unique.begin(), unique.end(),
        [&](const QCameraDevice &device) { return sameCamera(device, preferred); });
    return unique;
}

QList<CameraDevice> QtCameraBackend::devices() const
{
    QList<CameraDevice> devices;
    for (const QCameraDevice &device : cameras())
        devices.append({idOf(device), device.description()});
    return devices;
}

QList<FormatCandidate> QtCameraBackend::formats(const QString &deviceId) const
{
    QList<FormatCandidate> candidates;
    for (const QCameraDevice &device : cameras()) {
        if (idOf(device) != deviceId)
            continue;
        for (const QCameraFormat &format : device.videoFormats())
            candidates.append(toCandidate(format));
    }
    return candidates;
}

void QtCameraBackend::start(const QString &deviceId, qsizetype format)
{
    release(Release::Later);
    QCameraDevice device;
    for (const QCameraDevice &candidate : cameras()) {
        if (idOf(candidate) == deviceId)
            device = candidate;
    }
    if (device.isNull()) {
        QMetaObject::invokeMethod(
            this, [this, deviceId] { Q_EMIT failed(deviceId, CameraFault::Silent); },
            Qt::QueuedConnection);
        return;
    }

    m_camera = new QCamera(device, this);
    // Set before the camera joins a session: on a running pipeline Qt 6.4 waits, without a
    // time limit, for it to go idle.
    const QList<QCameraFormat> formats = device.videoFormats();
    if (format >= 0 && format < formats.size())
        m_camera->setCameraFormat(formats[format]);
    m_sink = new QVideoSink(this);
    m_session = new QMediaCaptureSession(this);
    // The sink first: a camera joining a session without one may stall on its first frame and
    // then hang when stopped.
    m_session->setVideoSink(m_sink);
    m_session->setCamera(m_camera);
    m_deviceId = deviceId;

    // Both signals may come from Qt's own threads or from deep inside a Qt call; going through
    // the event loop, and checking that the sender still belongs to the running device, keeps a
    // stopped device from reaching the view.
    connect(
        m_camera, &QCamera::errorOccurred, this,
        [this, camera = QPointer(m_camera)] {
            if (!camera || camera != m_camera)
                return;
            const QString id = m_deviceId;
            release(Release::Later);
            Q_EMIT failed(id, CameraFault::Silent);
        },
        Qt::QueuedConnection);
    connect(
        m_sink, &QVideoSink::videoFrameChanged, this,
        [this, sink = QPointer(m_sink)](const QVideoFrame &frame) {
            if (sink && sink == m_sink && frame.isValid())
                Q_EMIT frameArrived(frame);
        },
        Qt::QueuedConnection);

    m_camera->start();
}

void QtCameraBackend::stop()
{
    release(Release::Later);
}

void QtCameraBackend::diagnose(const QString &deviceId)
{
    QString description;
    for (const QCameraDevice &device : cameras()) {
        if (idOf(device) == deviceId)
            description = device.description();
    }
    if (description.isEmpty())
        return;
    // Qt lets go of a stopped camera a moment later; a probe before that finds it busy.
    QMetaObject::invokeMethod(m_prober, [prober = m_prober, deviceId, description] {
        prober->probe(deviceId, description, PROBE_DELAY_MS);
    });
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
}

} // namespace tirvel
