#pragma once

#include "capture_view.h"

#include <QStringList>

namespace tirvel::testing {

// A capture view of a fixed size that records, in order, the commands the window gives it.
class FakeCaptureView : public CaptureView
{
    Q_OBJECT

public:
    explicit FakeCaptureView(QSize pixels = {160, 120}) { setFixedSize(pixels); }

    void frameSizeCommand() override { log << QStringLiteral("frameSizeCommand"); }
    void frameRateCommand() override { log << QStringLiteral("frameRateCommand"); }
    QString placeholderText() const override { return placeholder; }

    QStringList log;
    QString placeholder;
};

} // namespace tirvel::testing
