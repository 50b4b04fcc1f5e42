#pragma once

#include "capture_view.h"

namespace tirvel {

class CameraSupervisor;

// The live view on a camera supervisor: it paints the supervisor's picture, or a placeholder that
// says why there is none, and hands its size and the two commands on.
class CameraView : public CaptureView
{
    Q_OBJECT

public:
    // The supervisor must outlive the view.
    explicit CameraView(CameraSupervisor &supervisor, QWidget *parent = nullptr);

    void frameSizeCommand() override;
    void frameRateCommand() override;
    QString placeholderText() const override;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    CameraSupervisor &m_supervisor;
};

} // namespace tirvel
