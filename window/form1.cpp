#include "form1.h"

#include "capture_view.h"
#include "change_scan.h"
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

#include <cmath>

namespace tirvel {

namespace {

constexpr QSize CLIENT_SIZE(362, 445);
constexpr int TICK_MILLISECONDS = 1000;
const QString START_PICTURE = QStringLiteral(":/tirvel/start.bmp");
const QString TIMED_FRAME = QStringLiteral("5.bmp");
const QString TEST_FRAME = QStringLiteral("6.bmp");
const QString CAPTURE_FILE = QStringLiteral("Capture.avi");
// Red 128 on 0x00BBGGRR's terms: a dark red.
const QColor RESULT_COLOUR(0x80, 0x00, 0x00);

// Scale sizes become scan bounds by rounding half to even, the default rounding mode.
std::int32_t roundHalfEven(double value)
{
    return std::int32_t(std::nearbyint(value));
}

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

Form1::Form1(const QString &programDirectory, CaptureView *captureView, std::function<void()> beep,
    QWidget *parent)
    : QWidget(parent,
        Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
            | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , m_programDirectory(programDirectory)
    , m_beep(std::move(beep))
    , m_colSum(programFile(ColSumLibrary::fileName()))
    , m_ezVidCap1(captureView)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tirvel"));
    setFixedSize(CLIENT_SIZE);
    // The layout's small buttons were measured for an 8-point face.
    QFont face = font();
    face.setPointSizeF(8);
    setFont(face);
    createControls();
    startUp();
}

void Form1::createControls()
{
    const QPalette colours = palette();
    m_command1 = button(this, "Command1", QStringLiteral("&Test"), {18, 32, 73, 25});
    m_command1->setDefault(true);

    m_picBild = new PictureBox(Border::Sunken3D, colourOf(colours.color(QPalette::Button)), this);
    m_picBild->setObjectName(QStringLiteral("picBild"));
    m_picBild->move(18, 312);
    m_picBild->setOuterWidth(164 * TWIPS_PER_PIXEL);
    m_picBild->setOuterHeight(124 * TWIPS_PER_PIXEL);
    // The start picture is built in; a failure here is a broken build, not a user's file.
    m_picBild->surface().load(START_PICTURE);

    m_picBild2 = new PictureBox(Border::Flat, colourOf(colours.color(QPalette::Base)), this);
    m_picBild2->setObjectName(QStringLiteral("picBild2"));
    m_picBild2->move(194, 136);
    m_picBild2->setOuterWidth(160 * TWIPS_PER_PIXEL);
    m_picBild2->setOuterHeight(120 * TWIPS_PER_PIXEL);

    m_command2 = button(this, "Command2", QStringLiteral("160x120"), {18, 96, 57, 17});
    m_command3 = button(this, "Command3", QStringLiteral("5 bild/sek"), {120, 96, 57, 17});

    m_slider1 = new QSlider(Qt::Horizontal, this);
    m_slider1->setObjectName(QStringLiteral("Slider1"));
    m_slider1->setGeometry(202, 312, 153, 41);
    m_slider1->setRange(0, 100);
    m_slider1->setValue(50);
    m_slider1->setTickPosition(QSlider::TicksBelow);
    m_slider1->setTickInterval(10);
    m_slider1->setPageStep(10);

    m_lblSens = label(this, "lblSens", QStringLiteral("Känslighet:"), {210, 290, 83, 17});
    m_lblTirvelDe = label(this, "lblTirvelDe", QString(), {26, 288, 161, 17});
    QPalette result = m_lblTirvelDe->palette();
    result.setColor(QPalette::WindowText, RESULT_COLOUR);
    m_lblTirvelDe->setPalette(result);

    m_cmdExit = button(this, "cmdExit", QStringLiteral("&Exit"), {276, 32, 65, 25});

    m_ezVidCap1->setParent(this);
    m_ezVidCap1->setObjectName(QStringLiteral("ezVidCap1"));
    m_ezVidCap1->move(18, 136);
    m_ezVidCap1->setFocusPolicy(Qt::NoFocus);

    m_label1 = label(this, "Label1", QStringLiteral("Videokamera fönster"), {24, 118, 157, 15});

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(TICK_MILLISECONDS);

    // The tab sequence keeps every control's place; those that take no focus are passed over.
    const QList<QWidget *> order {m_command1, m_picBild, m_picBild2, m_command2, m_command3,
        m_slider1, m_lblSens, m_lblTirvelDe, m_cmdExit, m_ezVidCap1, m_label1};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);

    connect(m_command1, &QPushButton::clicked, this, &Form1::test);
    connect(m_command2, &QPushButton::clicked, this, &Form1::frameSize);
    connect(m_command3, &QPushButton::clicked, this, &Form1::frameRate);
    connect(m_cmdExit, &QPushButton::clicked, this, &Form1::exitProgram);
    connect(m_timer1, &QTimer::timeout, this, &Form1::tick);
}

QString Form1::programFile(const QString &name) const
{
    return m_programDirectory + QDir::separator() + name;
}

void Form1::startUp()
{
    runHandler([this] {
        // Sizes travel as single-precision numbers, which hold them exactly.
        m_picBild->setOuterWidth(float(m_ezVidCap1->viewWidth()));
        m_picBild->setOuterHeight(float(m_ezVidCap1->viewHeight()));
        m_picBild2->setOuterWidth(float(m_ezVidCap1->viewWidth()));
        m_picBild2->setOuterHeight(float(m_ezVidCap1->viewHeight()));
        m_state.scanWidth = roundHalfEven(m_picBild->surface().scaleWidth());
        m_state.scanHeight = roundHalfEven(m_picBild->surface().scaleHeight());
        m_ezVidCap1->setCaptureFilePath(programFile(CAPTURE_FILE));
    });
}

void Form1::test()
{
    runHandler([this] {
        // Enabling again must not restart the countdown, or quick clicks would hold off the tick
        // that empties the count.
        if (!m_timer1->isActive())
            m_timer1->start();
        m_picBild2->surface().load(programFile(TEST_FRAME));
        scan(m_state, m_picBild->surface(), m_picBild2->surface(), m_colSum);
        decide(
            m_state, [this] { return m_slider1->value(); },
            [this](const QString &text) { m_lblTirvelDe->setText(text); }, m_beep);
    });
}

void Form1::tick()
{
    runHandler([this] {
        m_state.changeCount = 0;
        m_picBild->surface().load(programFile(TIMED_FRAME));
    });
}

void Form1::frameSize()
{
    runHandler([this] { m_ezVidCap1->frameSizeCommand(); });
}

void Form1::frameRate()
{
    runHandler([this] { m_ezVidCap1->frameRateCommand(); });
}

void Form1::exitProgram()
{
    close();
}

void Form1::closeEvent(QCloseEvent *event)
{
    // Nothing of the program runs while the window goes.
    m_timer1->stop();
    if (m_errorReport)
        m_errorReport->close();
    event->accept();
}

void Form1::keyPressEvent(QKeyEvent *event)
{
    // Enter presses the button that has the focus, and "&Test" otherwise. Outside a dialog Qt
    // leaves this to the window.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        auto *focused = qobject_cast<QPushButton *>(focusWidget());
        (focused != nullptr ? focused : m_command1)->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void Form1::runHandler(const std::function<void()> &steps)
{
    try {
        steps();
    } catch (const TirvelError &error) {
        reportError(int(error.number()), error.description());
    } catch (const std::bad_alloc &) {
        reportError(7, QStringLiteral("Out of memory"));
    }
    // Whatever the steps reached, the boxes show it.
    m_picBild->update();
    m_picBild2->update();
}

void Form1::reportError(int number, const QString &description)
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
