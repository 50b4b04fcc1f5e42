#include "main_window.h"

#include "accessibility.h"
#include "alert_label.h"
#include "capture_view.h"
#include "picture_box.h"
#include "tirvel_error.h"

#include <QCloseEvent>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include <utility>

namespace tirvel {

namespace {

constexpr QSize CLIENT_SIZE(362, 445);
constexpr int TICK_MILLISECONDS = 1000;
const QString START_PICTURE = QStringLiteral(":/tirvel/start.bmp");
const QString TIMED_FRAME = QStringLiteral("5.bmp");
const QString TEST_FRAME = QStringLiteral("6.bmp");
// Shown when the count beats the sensitivity.
const QString DETECTION_MESSAGE = QStringLiteral("Rörelse har detekterats !");
// Red 128 on 0x00BBGGRR's terms: a dark red.
const QColor RESULT_COLOUR(0x80, 0x00, 0x00);

ColourValue colourOf(const QColor &colour)
{
    return colourFromRgb32(colour.rgb());
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

MainWindow::MainWindow(const QString &frameDirectory, const QString &colourLibrary,
    CaptureView *liveView, std::function<void()> beep, QWidget *parent)
    : QWidget(parent,
        Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
            | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , m_frameDirectory(frameDirectory)
    , m_beep(std::move(beep))
    , m_colSum(colourLibrary)
    , m_liveView(liveView)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tirvel"));
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

    m_timedFrame = new PictureBox(
        PictureBox::Frame::Sunken, colourOf(colours.color(QPalette::Button)), this);
    m_timedFrame->setObjectName(QStringLiteral("picBild"));
    m_timedFrame->move(18, 312);
    // The start picture is built in; a failure here is a broken build, not a user's file.
    m_timedFrame->surface().load(START_PICTURE);

    m_testFrame
        = new PictureBox(PictureBox::Frame::Flat, colourOf(colours.color(QPalette::Base)), this);
    m_testFrame->setObjectName(QStringLiteral("picBild2"));
    m_testFrame->move(194, 136);

    m_frameSizeButton = button(this, "Command2", QStringLiteral("160x120"), {18, 96, 57, 17});
    m_frameRateButton = button(this, "Command3", QStringLiteral("5 bild/sek"), {120, 96, 57, 17});

    m_sensitivitySlider = new QSlider(Qt::Horizontal, this);
    m_sensitivitySlider->setObjectName(QStringLiteral("Slider1"));
    m_sensitivitySlider->setGeometry(202, 312, 153, 41);
    m_sensitivitySlider->setRange(0, 100);
    m_sensitivitySlider->setValue(50);
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
    connect(m_liveView, &CaptureView::errorOccurred, this, [this](const QString &description) {
        reportError(int(ErrorNumber::PathAccessError), description);
    });

    m_liveViewLabel
        = label(this, "Label1", QStringLiteral("Videokamera fönster"), {24, 118, 157, 15});

    m_tickTimer = new QTimer(this);
    m_tickTimer->setObjectName(QStringLiteral("Timer1"));
    m_tickTimer->setInterval(TICK_MILLISECONDS);

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
    connect(m_tickTimer, &QTimer::timeout, this, &MainWindow::tick);
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

QString MainWindow::frameFile(const QString &name) const
{
    return m_frameDirectory + QDir::separator() + name;
}

void MainWindow::startUp()
{
    runHandler([this] {
        m_timedFrame->setOuterSize(m_liveView->size());
        m_testFrame->setOuterSize(m_liveView->size());
        m_state.setScanBounds(m_timedFrame->surface().interiorSize());
    });
}

void MainWindow::test()
{
    runHandler([this] {
        // Enabling again must not restart the countdown, or quick clicks would hold off the tick
        // that empties the count.
        if (!m_tickTimer->isActive())
            m_tickTimer->start();
        m_testFrame->surface().load(frameFile(TEST_FRAME));
        m_state.scan(m_timedFrame->surface(), m_testFrame->surface(), m_colSum);
        m_resultLabel->setMessage(QString());
        if (beatsSensitivity(m_state.changeCount(), m_sensitivitySlider->value())) {
            m_resultLabel->setMessage(DETECTION_MESSAGE);
            m_beep();
        }
    });
}

void MainWindow::tick()
{
    runHandler([this] {
        m_state.emptyCount();
        m_timedFrame->surface().load(frameFile(TIMED_FRAME));
    });
}

void MainWindow::frameSize()
{
    runHandler([this] { m_liveView->frameSizeCommand(); });
}

void MainWindow::frameRate()
{
    runHandler([this] { m_liveView->frameRateCommand(); });
}

void MainWindow::exitProgram()
{
    close();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Nothing of the program runs while the window goes.
    m_tickTimer->stop();
    if (m_errorReport)
        m_errorReport->close();
    event->accept();
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

void MainWindow::runHandler(const std::function<void()> &steps)
{
    try {
        steps();
    } catch (const TirvelError &error) {
        reportError(int(error.number()), error.description());
    } catch (const std::bad_alloc &) {
        reportError(int(ErrorNumber::OutOfMemory), QStringLiteral("Out of memory"));
    }
    // Whatever the steps reached, the boxes show it.
    m_timedFrame->update();
    m_testFrame->update();
}

void MainWindow::reportError(int number, const QString &description)
{
    // One report at a time, never modal: a missing timed frame fails every second, and the
    // window must go on taking ticks and clicks while the report is open.
    const QString text = QStringLiteral("Run-time error '%1':\n\n%2").arg(number).arg(description);
    if (m_errorReport) {
        m_errorReport->setText(text);
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
