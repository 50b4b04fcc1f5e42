#pragma once

#include "capture_view.h"

#include <QStringList>

namespace tirvel::testing {

// A capture view that records, in order, every operation the window asks of it.
class FakeCaptureView : public CaptureView
{
    Q_OBJECT

public:
    explicit FakeCaptureView(QSize pixels = {160, 120}) { setFixedSize(pixels); }

    double viewWidth() const override
    {
        log << QStringLiteral("viewWidth");
        return width() * 15.0;
    }
    double viewHeight() const override
    {
        log << QStringLiteral("viewHeight");
        return height() * 15.0;
    }
    void setCaptureFilePath(const QString &path) override
    {
        log << QStringLiteral("captureFilePath=") + path;
        m_path = path;
    }
    QString captureFilePath() const override { return m_path; }
    void frameSizeCommand() override { log << QStringLiteral("frameSizeCommand"); }
    void frameRateCommand() override { log << QStringLiteral("frameRateCommand"); }

    mutable QStringList log;

private:
    QString m_path;
};

} // namespace tirvel::testing
