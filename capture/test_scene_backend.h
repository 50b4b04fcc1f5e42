#pragma once

#include "camera_backend.h"

#include <QElapsedTimer>
#include <QTimer>

namespace tirvel {

// A camera that films the built-in test scene: one device, 160 x 120 at 30 frames a second.
class TestSceneBackend : public CameraBackend
{
    Q_OBJECT

public:
    static constexpr const char *DEVICE_ID = "test-scene";

    explicit TestSceneBackend(QObject *parent = nullptr);

    QList<CameraDevice> devices() const override;
    QList<FormatCandidate> formats(const QString &deviceId) const override;
    void start(const QString &deviceId, qsizetype format) override;
    void stop() override;
    QString activeDeviceId() const override;
    void diagnose(const QString &) override { }

private:
    void sendFrame();

    QTimer m_timer;
    QElapsedTimer m_clock;
};

} // namespace tirvel
