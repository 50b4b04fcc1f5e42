#pragma once

#include "camera_backend.h"

#include <QImage>

// A camera backend driven by the test: devices come and go on request, frames are made from
// images, and every format the view applies is recorded.
class FakeCameraBackend : public tirvel::CameraBackend
{
    Q_OBJECT

public:
    struct Device
    {
        QString id;
        QList<tirvel::FormatCandidate> formats;
        // The format the device runs in until told otherwise.
        tirvel::FormatCandidate initialFormat;
        // Like a camera held by another program.
        bool failsToStart = false;
    };

    void plug(const Device &device);
    void unplug(const QString &id);
    void sendFrame(const QImage &image);
    // A running device failing, as a backend reports it: stopped first, then the signal.
    void fail(const QString &description);

    QStringList startedDevices() const { return m_startedDevices; }
    QList<qsizetype> appliedFormats() const { return m_appliedFormats; }

    QStringList deviceIds() const override;
    void start(const QString &deviceId) override;
    void stop() override;
    QString activeDeviceId() const override { return m_activeId; }
    QList<tirvel::FormatCandidate> formats() const override;
    void applyFormat(qsizetype position) override;
    tirvel::FormatCandidate currentFormat() const override { return m_current; }

private:
    const Device *find(const QString &id) const;

    QList<Device> m_devices;
    QString m_activeId;
    tirvel::FormatCandidate m_current;
    QStringList m_startedDevices;
    QList<qsizetype> m_appliedFormats;
};
