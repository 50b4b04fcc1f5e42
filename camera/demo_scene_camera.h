#pragma once

#include "camera_backend.h"

#include <QElapsedTimer>
#include <QTimer>

namespace tirvel {

// A camera that films the built-in demo scene: one device, DEMO_SCENE_ID, at the design size and
// 30 frames a second.
class DemoSceneCamera : public CameraBackend
{
    Q_OBJECT

public:
    explicit DemoSceneCamera(QObject *parent = nullptr);

    QList<CameraDevice> devices() const override;
    QList<FormatCandidate> formats(const QString &deviceId) const override;
    void start(const QString &deviceId, qsizetype format) override;
    void stop() override;
    void diagnose(const QString &) override { }

private:
    void sendFrame();

    QTimer m_timer;
    QElapsedTimer m_clock;
};

} // namespace tirvel
