#pragma once

#include "detection_rule.h"
#include "test_result.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class QAction;
class QLabel;
class QMessageBox;
class QPushButton;
class QSlider;

namespace tirvel {

class AlertLabel;
class CaptureView;
class Detector;
class PictureBox;

// The one window, a view of the detector and the camera: it hands the buttons and the slider on
// and shows what it is told. It reports errors without closing, because the frame files are
// written by another program and are sometimes missing or half-written; whoever builds it
// connects the reports, since watching says some failures only once. It never waits for the
// detector.
class MainWindow : public QWidget
{
    Q_OBJECT

public:
    // The live view becomes the window's child; the detector must outlive the window.
    MainWindow(Detector *detector, CaptureView *liveView, std::function<void()> beep,
        QWidget *parent = nullptr);

public Q_SLOTS:
    void test();
    void frameSize();
    void frameRate();
    void exitProgram();
    // One report at a time, the newest error's text in it.
    void reportError(int number, const QString &description);
    // Shows whether Tirvel watches by itself, in the title and the context menu, and by which
    // rule, in the menu.
    void setWatching(bool watching);
    void setWatchingRule(tirvel::DetectionRule rule);
    // Whether the context menu offers to mask the picture: only a camera of Tirvel's own can be
    // masked.
    void setMaskable(bool maskable);
    void setSensitivity(int sensitivity);
    // In the result line: no camera picture has come yet, so Test has nothing to compare.
    void showWaitingForPicture();
    // Each report also goes to standard error, for a window nobody may be looking at.
    void echoReports(bool echo) { m_echoReports = echo; }
    // While set, closing the window only hides it; exitProgram() still closes it.
    void setClosingHides(bool hides) { m_closingHides = hides; }

Q_SIGNALS:
    // The person asks to start or stop watching, from the context menu.
    void watchRequested(bool watching);
    // The person asks to mark what is not to be watched, from the context menu.
    void maskRequested();
    // The events window, from the context menu.
    void eventsRequested();
    void sensitivityChanged(int sensitivity);
    // Closing hid the window.
    void hiddenOnClose();
    // The window closed for good, hidden before or not: the program is to end.
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void createControls();
    void describeControls();
    void startUp();
    void showResult(const TestResult &result);
    void describeSensitivity();
    void ask(std::function<void()> call);

    Detector *m_detector;
    std::function<void()> m_beep;

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
    QPointer<QMessageBox> m_errorReport;
    QAction *m_watchAction = nullptr;
    QAction *m_ruleAction = nullptr;
    QAction *m_maskAction = nullptr;
    bool m_echoReports = false;
    // The last test's change count, for the slider's tooltip; -1 before the first.
    int m_lastCount = -1;
    bool m_closingHides = false;
    bool m_exiting = false;
};

} // namespace tirvel
