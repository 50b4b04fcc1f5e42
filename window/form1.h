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

class CaptureView;
class PictureBox;
class TirvelError;

// The one window: the live camera view, the timed frame refreshed from 5.bmp every second once
// watching has begun, the test frame loaded from 6.bmp on each click of "&Test", the sensitivity
// slider and the result. It owns every control and the DetectionState. A failing handler stops
// at the failing step and its error is reported without closing the window, because the frame
// files are written by another program and are sometimes missing or half-written.
class Form1 : public QWidget
{
    Q_OBJECT

public:
    // Files are looked for in programDirectory; the capture view becomes the window's child.
    Form1(const QString &programDirectory, CaptureView *captureView, std::function<void()> beep,
        QWidget *parent = nullptr);

    const DetectionState &detectionState() const noexcept { return m_state; }
    // The directory followed by the platform's separator and the name, never normalised.
    QString programFile(const QString &name) const;

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
    void runHandler(const std::function<void()> &steps);
    void reportError(int number, const QString &description);

    QString m_programDirectory;
    std::function<void()> m_beep;
    DetectionState m_state;
    ColSumLibrary m_colSum;

    QPushButton *m_command1 = nullptr;
    PictureBox *m_picBild = nullptr;
    PictureBox *m_picBild2 = nullptr;
    QPushButton *m_command2 = nullptr;
    QPushButton *m_command3 = nullptr;
    QSlider *m_slider1 = nullptr;
    QLabel *m_lblSens = nullptr;
    QLabel *m_lblTirvelDe = nullptr;
    QPushButton *m_cmdExit = nullptr;
    CaptureView *m_ezVidCap1 = nullptr;
    QLabel *m_label1 = nullptr;
    QTimer *m_timer1 = nullptr;
    QPointer<QMessageBox> m_errorReport;
};

} // namespace tirvel
