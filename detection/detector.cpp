#include "detector.h"

#include "frame_files.h"
#include "tirvel_error.h"

#include <algorithm>

namespace tirvel {

namespace {

constexpr int TICK_MILLISECONDS = 1000;
// Half-way between two ticks, so a test never meets a 5.bmp being read.
constexpr int AUTOMATIC_TEST_DELAY_MS = 500;
const QString START_PICTURE = QStringLiteral(":/tirvel/start.bmp");

QImage shownPart(const QImage &picture, const PictureSurface &frame)
{
    // Only what the frame can show is kept: a 4K camera's frames would otherwise take 35 MB
    // each for as long as they are on show.
    const QSize interior = frame.interiorSize();
    if (picture.width() <= interior.width() && picture.height() <= interior.height())
        return picture;
    return picture.copy(0, 0, std::min(picture.width(), interior.width()),
        std::min(picture.height(), interior.height()));
}

} // namespace

Detector::Detector(const QString &frameDirectory, const QString &colourLibrary, FrameLoader loader,
    QObject *parent)
    : QObject(parent)
    , m_frameDirectory(frameDirectory)
    , m_loader(std::move(loader))
    , m_colSum(colourLibrary)
    , m_timed(0)
    , m_test(0)
    , m_tick(this)
    , m_automaticTest(this)
{
    m_tick.setObjectName(QStringLiteral("Timer1"));
    m_tick.setInterval(TICK_MILLISECONDS);
    connect(&m_tick, &QTimer::timeout, this, &Detector::tick);
    // One pending at most: a test that is still due when the next is asked for is the same one.
    m_automaticTest.setSingleShot(true);
    m_automaticTest.setInterval(AUTOMATIC_TEST_DELAY_MS);
    connect(&m_automaticTest, &QTimer::timeout, this, &Detector::test);
}

void Detector::setFrames(FrameLayout timed, FrameLayout test)
{
    m_timed = PictureSurface(timed.background);
    // Built in; a failure here is a broken build, not a user's file.
    m_timed.load(START_PICTURE);
    m_timed.setInteriorSize(timed.interior);
    m_test = PictureSurface(test.background);
    m_test.setInteriorSize(test.interior);
    m_state.setScanBounds(m_timed.interiorSize());
    Q_EMIT timedFrameChanged(m_timed.pixelLayer());
    Q_EMIT testFrameChanged(m_test.pixelLayer());
}

void Detector::setSensitivity(int sensitivity)
{
    m_sensitivity = sensitivity;
}

void Detector::test()
{
    if (!m_tick.isActive())
        m_tick.start();
    QImage picture;
    const bool loaded = attempt(
        [this, &picture] {
            picture = m_loader(framePath(m_frameDirectory, TEST_FRAME_FILE));
            m_test.setPicture(shownPart(picture, m_test));
        },
        TEST_FRAME_FILE);
    if (!loaded)
        return;
    Q_EMIT testFrameRead(picture);
    const bool scanned = attempt([this] { m_state.scan(m_timed, m_test, m_colSum); });
    // Marks made before a failing measure stay, and show.
    Q_EMIT testFrameChanged(m_test.pixelLayer());
    if (scanned)
        Q_EMIT tested(
            m_state.changeCount(), beatsSensitivity(m_state.changeCount(), m_sensitivity));
}

void Detector::tick()
{
    m_state.emptyCount();
    const bool loaded = attempt(
        [this] {
            m_timed.setPicture(
                shownPart(m_loader(framePath(m_frameDirectory, TIMED_FRAME_FILE)), m_timed));
        },
        TIMED_FRAME_FILE);
    if (!loaded)
        return;
    Q_EMIT timedFrameChanged(m_timed.pixelLayer());
    if (m_watching && !m_automaticTestsPaused)
        m_automaticTest.start();
}

void Detector::stop()
{
    m_tick.stop();
    m_automaticTest.stop();
}

void Detector::setWatching(bool watching)
{
    m_watching = watching;
    m_failingFiles.clear();
    if (!watching)
        m_automaticTest.stop();
    else if (!m_tick.isActive())
        m_tick.start();
}

void Detector::setAutomaticTestsPaused(bool paused)
{
    m_automaticTestsPaused = paused;
    if (paused)
        m_automaticTest.stop();
}

bool Detector::attempt(const std::function<void()> &step, const QString &file)
{
    int number = 0;
    QString description;
    try {
        step();
        m_failingFiles.remove(file);
        return true;
    } catch (const TirvelError &error) {
        number = int(error.number());
        description = error.description();
    } catch (const std::bad_alloc &) {
        number = int(ErrorNumber::OutOfMemory);
        description = QStringLiteral("Out of memory");
    }
    // Watching, a file that stays missing would otherwise be reported every second.
    if (m_watching && !file.isEmpty()) {
        if (m_failingFiles.contains(file))
            return false;
        m_failingFiles.insert(file);
    }
    Q_EMIT failed(number, description);
    return false;
}

} // namespace tirvel
