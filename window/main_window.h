#pragma once

#include "colsum_library.h"
#include "detection_state.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class QMessageBox;
class QPushButton;
class QSlider;
class QTimer;

namespace tirvel {

class AlertLabel;
class CaptureView;
class PictureBox;
class TirvelError;

// The one window: the live camera view, the timed frame refreshed from 5.bmp every second once
// watching has begun, the test frame loaded from 6.bmp on each click of "&Test", the sensitivity
// slider and the result. It owns every control and the DetectionState. A failing handler stops
// at the failing step and its error is reported without closing the window, because the frame
// files are written by another program and are sometimes missing or half-written.
class MainWindow : public QWidget
{
    Q_OBJECT

public:
    // The frames are looked for in frameDirectory, the colour measure in colourLibrary; the live
    // view becomes the window's child.
    MainWindow(const QString &frameDirectory, const QString &colourLibrary, CaptureView *liveView,
        std::function<void()> beep, QWidget *parent = nullptr);

    const DetectionState &detectionState() const noexcept { return m_state; }
    // The directory followed by the platform's separator and the name, never normalised.
    QString frameFile(const QString &name) const;

public slots:
    void startUp();
    void test();
    void tick();
    void frameSize();
    void frameRate();
    void exitProgram();

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void createControls();
    void describeControls();
    void runHandler(const std::function<void()> &steps);
    void reportError(int number, const QString &description);

    QString m_frameDirectory;
    std::function<void()> m_beep;
    DetectionState m_state;
    ColSumLibrary m_colSum;

    QPushButton *m_testButton = nullptr;
    PictureBox *m_timedFrame = nullptr;
    PictureBox *m_testFrame = nullptr;
    QPushButton *m_frameSizeButton = nullptr;
    QPushButton *m_frameRateButton = nullptr;
    QSlider *m_sensitivitySlider = nullptr;
    QLabel *m_sensitivityLabel = nullptr;
    AlertLabel *m_resultLabel = nullptr;
    QPushButton *m_exitButton = nullptr;
    CaptureView *m_liveView = nullptr;
    QLabel *m_liveViewLabel = nullptr;
    QTimer *m_tickTimer = nullptr;
    QPointer<QMessageBox> m_errorReport;
};

} // namespace tirvel
