#pragma once

#include <QWidget>

namespace tirvel {

// The live camera rectangle of the main window, seen as the window sees it: a widget whose size
// the picture boxes follow, and two commands. How it reaches a camera is its own business, so the
// window and its tests can hold any implementation.
class CaptureView : public QWidget
{
    Q_OBJECT

public:
    using QWidget::QWidget;

    // Requests a frame size of 160 x 120 pixels.
    virtual void frameSizeCommand() = 0;
    // Requests five frames a second.
    virtual void frameRateCommand() = 0;

    // Why no picture shows, as the view says it on screen; empty while a picture shows.
    virtual QString placeholderText() const { return {}; }
};

} // namespace tirvel
