#include "detector.h"

#include "frame_files.h"
#include "tirvel_error.h"

#include <algorithm>

namespace tirvel {

namespace {

constexpr int TICK_MILLISECONDS = 1000;
const QString START_PICTURE = QStringLiteral(":/tirvel/start.bmp");

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
{
    m_tick.setObjectName(QStringLiteral("Timer1"));
    m_tick.setInterval(TICK_MILLISECONDS);
    connect(&m_tick, &QTimer::timeout, this, &Detector::tick);
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
    if (!attempt([this] { m_test.setPicture(load(TEST_FRAME_FILE, m_test)); }))
        return;
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
    if (attempt([this] { m_timed.setPicture(load(TIMED_FRAME_FILE, m_timed)); }))
        Q_EMIT timedFrameChanged(m_timed.pixelLayer());
}

void Detector::stop()
{
    m_tick.stop();
}

QImage Detector::load(const QString &name, const PictureSurface &frame) const
{
    // Only what the frame can show is kept: a 4K camera's frames would otherwise take 35 MB
    // each for as long as they are on show.
    QImage picture = m_loader(framePath(m_frameDirectory, name));
    const QSize interior = frame.interiorSize();
    if (picture.width() <= interior.width() && picture.height() <= interior.height())
        return picture;
    return picture.copy(0, 0, std::min(picture.width(), interior.width()),
        std::min(picture.height(), interior.height()));
}

bool Detector::attempt(const std::function<void()> &step)
{
    try {
        step();
        return true;
    } catch (const TirvelError &error) {
        Q_EMIT failed(int(error.number()), error.description());
    } catch (const std::bad_alloc &) {
        Q_EMIT failed(int(ErrorNumber::OutOfMemory), QStringLiteral("Out of memory"));
    }
    return false;
}

} // namespace tirvel
