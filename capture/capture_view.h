#pragma once

#include <QString>
#include <QWidget>

namespace tirvel {

// The live camera rectangle of the main window, seen as the window sees it: its outer size, the
// capture file path it is handed, and two commands. How it reaches a camera is its own business,
// so the window and its tests can hold any implementation.
class CaptureView : public QWidget
{
    Q_OBJECT

public:
    using QWidget::QWidget;

    // The outer size the window keeps for the view, in twips (15 to a pixel at 96 dpi).
    virtual double viewWidth() const = 0;
    virtual double viewHeight() const = 0;

    virtual void setCaptureFilePath(const QString &path) = 0;
    virtual QString captureFilePath() const = 0;

    // Requests a frame size of 160 x 120 pixels.
    virtual void frameSizeCommand() = 0;
    // Requests five frames a second.
    virtual void frameRateCommand() = 0;
};

} // namespace tirvel
