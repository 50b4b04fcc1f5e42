#include "detector.h"

#include "steady_rule.h"
#include "tirvel_error.h"

#include <QJsonArray>
#include <QPainter>
#include <QThread>

#include <algorithm>
#include <utility>

namespace tirvel {

namespace {

constexpr int TICK_MILLISECONDS = 1000;
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

Detector::Detector(
    FramePaths frames, const QString &colourLibrary, FrameLoader loader, QObject *parent)
    : QObject(parent)
    , m_paths(std::move(frames))
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
    Q_ASSERT(QThread::currentThread() == thread());
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
    Q_ASSERT(QThread::currentThread() == thread());
    m_sensitivity = sensitivity;
}

void Detector::setRule(DetectionRule rule)
{
    Q_ASSERT(QThread::currentThread() == thread());
    // Watching starts with a scene learnt afresh: the room may have changed while nobody watched.
    if (rule == DetectionRule::Scene && m_rule != DetectionRule::Scene)
        m_scene.reset();
    m_seen.reset();
    m_rule = rule;
}

void Detector::setMask(const QImage &mask)
{
    Q_ASSERT(QThread::currentThread() == thread());
    m_scene.setMask(mask);
}

const SamplePlacement &Detector::placementFor(QSize frameSize, QSize viewSize)
{
    const QSize bounds = m_state.scanBounds();
    if (frameSize != m_placedFrame || viewSize != m_placedView || bounds != m_placedBounds) {
        m_placement = placeSamples(frameSize, viewSize, bounds);
        m_placedFrame = frameSize;
        m_placedView = viewSize;
        m_placedBounds = bounds;
    }
    return m_placement;
}

void Detector::analyse(const QImage &frame, const QImage &picture, qint64 milliseconds)
{
    Q_ASSERT(QThread::currentThread() == thread());
    if (m_rule != DetectionRule::Scene || frame.isNull() || picture.isNull())
        return;
    SceneOutcome outcome
        = m_scene.analyse(frame, milliseconds, placementFor(frame.size(), picture.size()));
    if (!m_seen)
        m_seen = SceneSeen {};
    m_seen->cameraMode = m_seen->cameraMode || outcome.cameraMode;
    m_seen->latestPicture = picture;
    if (m_seen->strongestPicture.isNull() || outcome.count > m_seen->strongest.count) {
        m_seen->strongest = std::move(outcome);
        m_seen->strongestPicture = picture;
        m_seen->strongestFrame = frame;
    }
}

void Detector::requestAnalysis(const QImage &frame, const QImage &picture, qint64 milliseconds)
{
    if (m_analysesWaiting.fetch_add(1) >= 1) {
        --m_analysesWaiting;
        return;
    }
    QMetaObject::invokeMethod(this, [this, frame, picture, milliseconds] {
        --m_analysesWaiting;
        if (!m_analysesEnded)
            analyse(frame, picture, milliseconds);
    });
}

void Detector::endAnalyses()
{
    m_analysesEnded = true;
}

namespace {

// The camera's frame with the region that changed outlined, in the marks' green.
QImage outlined(const QImage &frame, const QRect &region)
{
    QImage picture = frame.convertToFormat(QImage::Format_RGB32);
    if (region.isEmpty())
        return picture;
    QPainter painter(&picture);
    const int width = std::max(2, picture.width() / 320);
    painter.setPen(QPen(QColor::fromRgb(MARK_COLOUR), width));
    painter.setBrush(Qt::NoBrush);
    // Just outside what changed, so as not to hide it, but within the picture.
    painter.drawRect(region.adjusted(-width, -width, width, width)
                         .intersected(picture.rect().adjusted(0, 0, -1, -1)));
    return picture;
}

} // namespace

void Detector::testScene()
{
    // No picture since the last test: the camera is gone, which the watcher hears of by itself.
    if (!m_seen)
        return;
    const SceneSeen seen = *std::exchange(m_seen, std::nullopt);
    const SceneOutcome &outcome = seen.strongest;
    m_test.setPicture(shownPart(seen.strongestPicture, m_test));
    const SamplePlacement &samples = m_placement;
    for (int column = 0; column < samples.columns; ++column) {
        for (int row = 0; row < samples.rows; ++row) {
            const auto at = std::size_t(column) * std::size_t(samples.rows) + std::size_t(row);
            if (at < outcome.counted.size() && outcome.counted[at] != 0)
                m_test.writePixel(column * SAMPLE_STEP, row * SAMPLE_STEP, MARK_COLOUR);
        }
    }
    m_state.emptyCount();
    m_state.addToCount(outcome.count);
    Q_EMIT testFrameChanged(m_test.pixelLayer());

    TestResult result;
    const QRect &box = outcome.largestRegionBox;
    result.explanation = {{QStringLiteral("rule"), ruleName(m_rule)},
        {QStringLiteral("threshold"), int(wrappingSub(SENSITIVITY_BASE, m_sensitivity))},
        {QStringLiteral("light"), outcome.lightPercent},
        {QStringLiteral("shift"), QJsonArray {outcome.shift.x(), outcome.shift.y()}},
        {QStringLiteral("discounted"), outcome.discounted},
        {QStringLiteral("masked"), outcome.masked},
        {QStringLiteral("region"), outcome.largestRegion}};
    if (outcome.largestRegion > 0)
        result.explanation.insert(
            QStringLiteral("where"), QJsonArray {box.x(), box.y(), box.width(), box.height()});
    if (outcome.learning)
        result.explanation.insert(QStringLiteral("learning"), true);
    result.count = m_state.changeCount();
    result.detected = !outcome.learning && beatsSensitivity(result.count, m_sensitivity);
    result.cameraMode = seen.cameraMode;
    if (result.detected)
        result.snapshot = outlined(seen.strongestFrame, box);
    result.timed = m_timed.pixelLayer();
    result.marked = m_test.pixelLayer();
    result.read = seen.latestPicture;
    Q_EMIT tested(result);
}

void Detector::test()
{
    Q_ASSERT(QThread::currentThread() == thread());
    startTicks();
    if (m_rule == DetectionRule::Scene) {
        testScene();
        return;
    }
    QImage picture;
    const bool loaded = runStep(
        [this, &picture] {
            picture = m_loader(m_paths.test);
            m_test.setPicture(shownPart(picture, m_test));
        },
        m_paths.test);
    if (!loaded)
        return;
    TestResult result;
    result.explanation = {{QStringLiteral("rule"), ruleName(m_rule)},
        {QStringLiteral("threshold"), int(wrappingSub(SENSITIVITY_BASE, m_sensitivity))}};
    const bool scanned = runStep([this, &result] {
        if (m_rule == DetectionRule::Classic) {
            m_state.scan(m_timed, m_test, m_colSum);
            return;
        }
        const SteadyOutcome outcome = steadyScan(m_timed, m_test, m_state, m_colSum);
        result.explanation.insert(QStringLiteral("light"), outcome.lightPercent);
        result.explanation.insert(QStringLiteral("margin"), outcome.margin);
        result.explanation.insert(QStringLiteral("raw"), outcome.raw);
    });
    // Marks made before a failing measure stay, and show.
    Q_EMIT testFrameChanged(m_test.pixelLayer());
    if (!scanned)
        return;
    result.count = m_state.changeCount();
    result.detected = beatsSensitivity(result.count, m_sensitivity);
    result.timed = m_timed.pixelLayer();
    result.marked = m_test.pixelLayer();
    result.read = picture;
    Q_EMIT tested(result);
}

void Detector::requestTest()
{
    if (m_testWaiting.exchange(true))
        return;
    QMetaObject::invokeMethod(this, [this] {
        m_testWaiting = false;
        test();
    });
}

void Detector::tick()
{
    Q_ASSERT(QThread::currentThread() == thread());
    m_state.emptyCount();
    const bool loaded = runStep(
        [this] { m_timed.setPicture(shownPart(m_loader(m_paths.timed), m_timed)); }, m_paths.timed);
    if (!loaded)
        return;
    Q_EMIT timedFrameChanged(m_timed.pixelLayer());
    Q_EMIT ticked();
}

void Detector::startTicks()
{
    Q_ASSERT(QThread::currentThread() == thread());
    if (!m_tick.isActive())
        m_tick.start();
}

void Detector::stop()
{
    Q_ASSERT(QThread::currentThread() == thread());
    m_tick.stop();
}

bool Detector::runStep(const std::function<void()> &step, const QString &file)
{
    int number = 0;
    QString description;
    try {
        step();
        return true;
    } catch (const TirvelError &error) {
        number = int(error.number());
        description = error.description();
    } catch (const std::bad_alloc &) {
        number = int(ErrorNumber::OutOfMemory);
        description = QStringLiteral("Out of memory");
    }
    Q_EMIT failed(number, description, file);
    return false;
}

} // namespace tirvel
