#include "main_window.h"

#include "accessibility.h"
#include "alert_label.h"
#include "capture_view.h"
#include "colour_value.h"
#include "detector.h"
#include "logging.h"
#include "picture_box.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>

#include <utility>

namespace tirvel {

namespace {

constexpr QSize CLIENT_SIZE(362, 445);
const QString TITLE = QStringLiteral("Tirvel");
const QString WATCHING_TITLE = QStringLiteral("Tirvel – bevakar");
// Red 128 on 0x00BBGGRR's terms: a dark red.
const QColor RESULT_COLOUR(0x80, 0x00, 0x00);

FrameLayout layoutOf(const PictureBox &box)
{
    return {box.interiorSize(), colourFromRgb32(box.background().rgb())};
}

QPushButton *button(QWidget *parent, const char *name, const QString &text, const QRect &geometry)
{
    auto *created = new QPushButton(text, parent);
    created->setObjectName(QLatin1String(name));
    created->setGeometry(geometry);
    created->setAutoDefault(false);
    return created;
}

QLabel *label(QWidget *parent, const char *name, const QString &text, const QRect &geometry)
{
    auto *created = new QLabel(text, parent);
    created->setObjectName(QLatin1String(name));
    created->setGeometry(geometry);
    return created;
}

} // namespace

MainWindow::MainWindow(
    Detector *detector, CaptureView *liveView, std::function<void()> beep, QWidget *parent)
    : QWidget(parent,
        Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
            | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , m_detector(detector)
    , m_beep(std::move(beep))
    , m_liveView(liveView)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(TITLE);
    setFixedSize(CLIENT_SIZE);
    // The layout's small buttons were measured for an 8-point face.
    QFont face = font();
    face.setPointSizeF(8);
    setFont(face);
    installAccessibleRoles();
    createControls();
    describeControls();
    startUp();
}

void MainWindow::createControls()
{
    // Every position is written here and only here; the picture boxes take their size from the
    // live view at start-up.
    const QPalette colours = palette();
    m_testButton = button(this, "Command1", QStringLiteral("&Test"), {18, 32, 73, 25});
    m_testButton->setDefault(true);

    m_timedFrame = new PictureBox(PictureBox::Frame::Sunken, colours.color(QPalette::Button), this);
    m_timedFrame->setObjectName(QStringLiteral("picBild"));
    m_timedFrame->move(18, 312);

    m_testFrame = new PictureBox(PictureBox::Frame::Flat, colours.color(QPalette::Base), this);
    m_testFrame->setObjectName(QStringLiteral("picBild2"));
    m_testFrame->move(194, 136);

    m_frameSizeButton = button(this, "Command2", QStringLiteral("160x120"), {18, 96, 57, 17});
    m_frameRateButton = button(this, "Command3", QStringLiteral("5 bild/sek"), {120, 96, 57, 17});

    m_sensitivitySlider = new QSlider(Qt::Horizontal, this);
    m_sensitivitySlider->setObjectName(QStringLiteral("Slider1"));
    m_sensitivitySlider->setGeometry(202, 312, 153, 41);
    m_sensitivitySlider->setRange(0, 100);
    m_sensitivitySlider->setValue(DEFAULT_SENSITIVITY);
    m_sensitivitySlider->setTickPosition(QSlider::TicksBelow);
    m_sensitivitySlider->setTickInterval(10);
    m_sensitivitySlider->setPageStep(10);

    m_sensitivityLabel = label(this, "lblSens", QStringLiteral("Känslighet:"), {210, 290, 83, 17});
    m_resultLabel = new AlertLabel(this);
    m_resultLabel->setObjectName(QStringLiteral("lblTirvelDe"));
    m_resultLabel->setGeometry(26, 288, 161, 17);
    QPalette result = m_resultLabel->palette();
    result.setColor(QPalette::WindowText, RESULT_COLOUR);
    m_resultLabel->setPalette(result);

    m_exitButton = button(this, "cmdExit", QStringLiteral("&Exit"), {276, 32, 65, 25});

    m_liveView->setParent(this);
    m_liveView->setObjectName(QStringLiteral("ezVidCap1"));
    m_liveView->move(18, 136);
    m_liveView->setFocusPolicy(Qt::NoFocus);

    m_liveViewLabel
        = label(this, "Label1", QStringLiteral("Videokamera fönster"), {24, 118, 157, 15});

    // The tab sequence keeps every control's place; those that take no focus are passed over.
    const QList<QWidget *> order {m_testButton, m_timedFrame, m_testFrame, m_frameSizeButton,
        m_frameRateButton, m_sensitivitySlider, m_sensitivityLabel, m_resultLabel, m_exitButton,
        m_liveView, m_liveViewLabel};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);

    connect(m_testButton, &QPushButton::clicked, this, &MainWindow::test);
    connect(m_frameSizeButton, &QPushButton::clicked, this, &MainWindow::frameSize);
    connect(m_frameRateButton, &QPushButton::clicked, this, &MainWindow::frameRate);
    connect(m_exitButton, &QPushButton::clicked, this, &MainWindow::exitProgram);
    connect(m_sensitivitySlider, &QSlider::valueChanged, m_detector, &Detector::setSensitivity);
    connect(m_detector, &Detector::timedFrameChanged, m_timedFrame, &PictureBox::setPicture);
    connect(m_detector, &Detector::testFrameChanged, m_testFrame, &PictureBox::setPicture);
    connect(m_detector, &Detector::tested, this, &MainWindow::showResult);

    // In the context menu, so that the window looks as it always has.
    m_watchAction = new QAction(QStringLiteral("Bevaka"), this);
    m_watchAction->setObjectName(QStringLiteral("watchAction"));
    m_watchAction->setCheckable(true);
    addAction(m_watchAction);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(m_watchAction, &QAction::triggered, this, &MainWindow::watchRequested);
    m_ruleAction = new QAction(this);
    m_ruleAction->setObjectName(QStringLiteral("ruleAction"));
    m_ruleAction->setEnabled(false);
    m_ruleAction->setVisible(false);
    addAction(m_ruleAction);
    auto *eventsAction = new QAction(QStringLiteral("Händelser…"), this);
    eventsAction->setObjectName(QStringLiteral("eventsAction"));
    addAction(eventsAction);
    connect(eventsAction, &QAction::triggered, this, &MainWindow::eventsRequested);
    m_maskAction = new QAction(QStringLiteral("Maskera bilden…"), this);
    m_maskAction->setObjectName(QStringLiteral("maskAction"));
    m_maskAction->setVisible(false);
    addAction(m_maskAction);
    connect(m_maskAction, &QAction::triggered, this, &MainWindow::maskRequested);
    connect(m_sensitivitySlider, &QSlider::valueChanged, this, &MainWindow::sensitivityChanged);
    connect(m_sensitivitySlider, &QSlider::valueChanged, this, &MainWindow::describeSensitivity);
    describeSensitivity();
}

void MainWindow::describeSensitivity()
{
    // The slider has no scale to read, so its value and what it means are said here, with how
    // near the last test came.
    const int sensitivity = m_sensitivitySlider->value();
    QString text = QStringLiteral("Känslighet %1: larm när fler än %2 punkter ändrats")
                       .arg(sensitivity)
                       .arg(SENSITIVITY_BASE - sensitivity);
    if (m_lastCount >= 0)
        text += QStringLiteral("\nSenaste test: %1 punkter").arg(m_lastCount);
    m_sensitivitySlider->setToolTip(text);
}

void MainWindow::setWatchingRule(DetectionRule rule)
{
    switch (rule) {
    case DetectionRule::Classic:
        m_ruleAction->setText(QStringLiteral("Regel: klassisk"));
        break;
    case DetectionRule::Steady:
        m_ruleAction->setText(QStringLiteral("Regel: stadig"));
        break;
    case DetectionRule::Scene:
        m_ruleAction->setText(QStringLiteral("Regel: scen"));
        break;
    }
}

void MainWindow::setMaskable(bool maskable)
{
    m_maskAction->setVisible(maskable);
}

void MainWindow::setSensitivity(int sensitivity)
{
    m_sensitivitySlider->setValue(sensitivity);
}

void MainWindow::setWatching(bool watching)
{
    m_watchAction->setChecked(watching);
    m_ruleAction->setVisible(watching);
    setWindowTitle(watching ? WATCHING_TITLE : TITLE);
}

void MainWindow::describeControls()
{
    // Swedish, as the captions are, so that what a screen reader says matches the screen. Buttons
    // and labels are named by their captions; the rest get a name for what they show.
    m_timedFrame->setAccessibleName(QStringLiteral("Tidsbild"));
    m_testFrame->setAccessibleName(QStringLiteral("Testbild"));
    m_liveView->setAccessibleName(QStringLiteral("Kamerabild"));
    m_sensitivitySlider->setAccessibleName(QStringLiteral("Känslighet"));
    m_sensitivityLabel->setBuddy(m_sensitivitySlider);

    const std::pair<QWidget *, const char *> descriptions[] {
        {m_testButton, "Jämför testbilden med tidsbilden och markerar förändringar med grönt"},
        {m_timedFrame, "Bilden i 5.bmp, läses om varje sekund"},
        {m_testFrame, "Bilden i 6.bmp, grön där den skiljer sig från tidsbilden"},
        {m_frameSizeButton, "Ber kameran om bilder på 160 gånger 120 bildpunkter"},
        {m_frameRateButton, "Ber kameran om fem bilder i sekunden"},
        {m_sensitivitySlider, "Ju högre känslighet, desto mindre förändring räcker för ett larm"},
        {m_sensitivityLabel, "Rubrik till känslighetsreglaget"},
        {m_resultLabel, "Säger till när rörelse har detekterats"},
        {m_exitButton, "Avslutar Tirvel"},
        {m_liveView, "Det kameran ser just nu"},
        {m_liveViewLabel, "Rubrik till kamerabilden"},
    };
    for (const auto &[control, description] : descriptions)
        control->setAccessibleDescription(QString::fromUtf8(description));
}

void MainWindow::startUp()
{
    m_timedFrame->resize(m_liveView->size());
    m_testFrame->resize(m_liveView->size());
    ask([detector = m_detector, timed = layoutOf(*m_timedFrame), test = layoutOf(*m_testFrame),
            sensitivity = m_sensitivitySlider->value()] {
        detector->setFrames(timed, test);
        detector->setSensitivity(sensitivity);
    });
}

void MainWindow::test()
{
    m_detector->requestTest();
}

void MainWindow::ask(std::function<void()> call)
{
    // Run where the detector lives: queued behind what it was asked before when that is a thread
    // of its own, at once otherwise.
    QMetaObject::invokeMethod(m_detector, std::move(call));
}

void MainWindow::showWaitingForPicture()
{
    m_resultLabel->setMessage(QStringLiteral("Ingen kamerabild ännu"));
}

void MainWindow::showResult(const TestResult &result)
{
    m_lastCount = result.count;
    describeSensitivity();
    m_resultLabel->setMessage(QString());
    if (result.detected) {
        m_resultLabel->setMessage(DETECTION_MESSAGE);
        m_beep();
    }
}

void MainWindow::frameSize()
{
    m_liveView->frameSizeCommand();
}

void MainWindow::frameRate()
{
    m_liveView->frameRateCommand();
}

void MainWindow::exitProgram()
{
    m_exiting = true;
    close();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_closingHides && !m_exiting) {
        event->ignore();
        hide();
        Q_EMIT hiddenOnClose();
        return;
    }
    // Nothing of the program runs while the window goes.
    ask([detector = m_detector] { detector->stop(); });
    if (m_errorReport)
        m_errorReport->close();
    event->accept();
    Q_EMIT closed();
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    // Enter presses the button that has the focus, and "&Test" otherwise. Outside a dialog Qt
    // leaves this to the window.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        auto *focused = qobject_cast<QPushButton *>(focusWidget());
        (focused != nullptr ? focused : m_testButton)->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void MainWindow::reportError(int number, const QString &description)
{
    // One report at a time, never modal: a missing timed frame fails every second, and the
    // window must go on taking ticks and clicks while the report is open.
    const QString text = QStringLiteral("Run-time error '%1':\n\n%2").arg(number).arg(description);
    if (m_echoReports)
        qCWarning(lcWindow, "error %d: %s", number, qUtf8Printable(description));
    if (m_errorReport) {
        m_errorReport->setText(text);
        // Without a display there is nothing to raise, and Qt would say so at every report.
        if (QGuiApplication::platformName() != QLatin1String("offscreen")
            && QGuiApplication::platformName() != QLatin1String("minimal"))
            m_errorReport->raise();
        return;
    }
    m_errorReport = new QMessageBox(
        QMessageBox::Critical, QStringLiteral("Tirvel"), text, QMessageBox::Ok, this);
    m_errorReport->setObjectName(QStringLiteral("errorReport"));
    m_errorReport->setWindowModality(Qt::NonModal);
    m_errorReport->setAttribute(Qt::WA_DeleteOnClose);
    m_errorReport->show();
}

} // namespace tirvel
