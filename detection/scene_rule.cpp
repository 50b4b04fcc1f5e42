#include "scene_rule.h"

#include "detection_state.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>

namespace tirvel {

namespace {

// A shake of the whole picture up to this many working pixels is undone; more is the camera
// moving, which is change.
constexpr double MOST_SHAKE = 1.25;
// Phase correlation's peak below this is no shift at all, only noise.
constexpr double LEAST_SHIFT_RESPONSE = 0.03;
// A whole picture moved further than a shake with at least this peak, and held still there this
// long, is a camera that was turned.
constexpr double MOVED_RESPONSE = 0.3;
constexpr double MOVED_SECONDS = 1;
// The first frames only learn: enough of them to tell each place's noise.
constexpr int FIRST_FRAMES = 6;
constexpr double FIRST_SECONDS = 1.2;
// Places where nothing happens follow the scene this fast, so slow light finds its way in.
constexpr double STILL_SECONDS = 4;
// How long a place remembers how much it varies.
constexpr double ACTIVITY_SECONDS = 8;
// A place must differ from the scene by this many times its usual frame to frame change.
constexpr float NOISE_FACTOR = 2.6F;
// Even a place without any noise needs this much, in levels of 255.
constexpr float LEAST_MARGIN = 5.0F;
// Light changes within these ratios of the learnt scene are evened out; further is change.
constexpr double LEAST_GAIN = 1 / 2.5;
constexpr double MOST_GAIN = 2.5;
// The light field's cells: a median over 5 x 5 of them forgets anything a few cells across.
const cv::Size LIGHT_CELLS {16, 12};
// Regions smaller than this many pixels at 320 x 240 are noise; a far person covers about 90.
constexpr double LEAST_REGION = 48;
// The texture test's window, the most light it evens out over it beyond the field, and the
// least spread of the scene in it, in levels, to have a texture at all.
constexpr int TEXTURE_WINDOW = 7;
constexpr double LOCAL_LIGHT = 2.0;
constexpr double LEAST_TEXTURE = 2.0;
// The soft light test: a region's light ratio is smoothed over this many pixels, and it is light
// when its mean slope along its outline is less than this share of its strength (the mean log
// ratio), and it is strong enough to tell at all.
constexpr double RATIO_BLUR = 1.5;
constexpr double SOFTNESS = 0.22;
constexpr double SOFT_LEAST = 0.03;
constexpr double LEAST_OUTLINE = 8;
// The picture's level stepping this far, evenly over the picture, is the camera's exposure.
constexpr double EXPOSURE_STEP = 1.3;
// The colour left of the learnt scene's when a camera goes grey.
constexpr double GREY_SATURATION = 0.35;
constexpr double LEAST_SATURATION = 6;

double median(std::vector<float> values)
{
    if (values.empty())
        return 1;
    auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// The mean spread between the largest and the smallest channel: how colourful a picture is.
double saturation(const cv::Mat &small)
{
    double total = 0;
    for (int y = 0; y < small.rows; ++y) {
        const auto *row = small.ptr<cv::Vec3f>(y);
        for (int x = 0; x < small.cols; ++x) {
            const cv::Vec3f &p = row[x];
            total += std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]});
        }
    }
    return total / double(small.total());
}

// Each pixel's largest channel, absolute.
void largestChannel(const cv::Mat &colour, std::array<cv::Mat, 3> &planes, cv::Mat &largest)
{
    cv::split(colour, planes.data());
    for (cv::Mat &plane : planes)
        plane = cv::abs(plane);
    cv::max(planes[0], planes[1], largest);
    cv::max(largest, planes[2], largest);
}

} // namespace

SamplePlacement placeSamples(QSize frameSize, QSize viewSize, QSize scanBounds)
{
    SamplePlacement placement;
    placement.columns = scanBounds.width() / SAMPLE_STEP + 1;
    placement.rows = scanBounds.height() / SAMPLE_STEP + 1;
    placement.inFrame.assign(
        std::size_t(placement.columns) * std::size_t(placement.rows), QPoint(-1, -1));
    if (frameSize.isEmpty() || viewSize.isEmpty())
        return placement;
    // As the view composes the frame: fitted with its aspect kept, centred.
    const QSize fitted = frameSize.scaled(viewSize, Qt::KeepAspectRatio);
    QRect target({}, fitted);
    target.moveCenter(QRect({}, viewSize).center());
    std::size_t i = 0;
    for (int column = 0; column < placement.columns; ++column) {
        for (int row = 0; row < placement.rows; ++row, ++i) {
            const QPoint view(column * SAMPLE_STEP, row * SAMPLE_STEP);
            if (!target.contains(view))
                continue;
            const auto x = int((view.x() - target.x() + 0.5) * frameSize.width() / fitted.width());
            const auto y
                = int((view.y() - target.y() + 0.5) * frameSize.height() / fitted.height());
            placement.inFrame[i]
                = QPoint(std::min(x, frameSize.width() - 1), std::min(y, frameSize.height() - 1));
        }
    }
    return placement;
}

struct SceneAnalyser::Memory
{
    // The learnt scene, its grey at half size for the shake, and the frame before, all 3 x float.
    cv::Mat scene;
    cv::Mat previous;
    // How much each place changes from frame to frame, usually.
    cv::Mat activity;
    cv::Mat window;
    int frames = 0;
    // Where the whole picture moved to, and since when it has held there; -1 when it has not.
    cv::Point2d moved;
    qint64 movedSince = -1;
    qint64 firstMilliseconds = 0;
    qint64 lastMilliseconds = 0;

    // Reused from frame to frame: a fresh picture's worth of memory for every step would go back
    // and forth to the system, which costs more than the steps themselves.
    std::array<cv::Mat, 64> buffers;
    std::array<cv::Mat, 3> planes;

    QImage mask;
    // The mask at the frame's size, and at the working size (255 where watched).
    QImage frameMask;
    cv::Mat workingMask;

    void forget()
    {
        scene.release();
        previous.release();
        activity.release();
        frames = 0;
        movedSince = -1;
    }
};

SceneAnalyser::SceneAnalyser(Settings settings)
    : m_settings(settings)
    , m_memory(std::make_unique<Memory>())
{
}

SceneAnalyser::~SceneAnalyser() = default;

void SceneAnalyser::setMask(const QImage &mask)
{
    m_memory->mask = mask;
    m_memory->frameMask = QImage();
    m_memory->workingMask.release();
}

void SceneAnalyser::reset()
{
    m_memory->forget();
}

SceneOutcome SceneAnalyser::analyse(
    const QImage &frame, qint64 milliseconds, const SamplePlacement &samples)
{
    Memory &m = *m_memory;
    std::size_t used = 0;
    auto buffer = [&m, &used]() -> cv::Mat & { return m.buffers.at(used++); };
    SceneOutcome outcome;
    outcome.counted.assign(samples.inFrame.size(), 0);
    if (frame.isNull()) {
        outcome.learning = true;
        return outcome;
    }
    const cv::Size working(m_settings.workingSize.width(), m_settings.workingSize.height());
    const double toFrameX = double(frame.width()) / working.width;
    const double toFrameY = double(frame.height()) / working.height;

    // The frame shrunk by area, as float BGR.
    const QImage bgra
        = frame.format() == QImage::Format_RGB32 || frame.format() == QImage::Format_ARGB32
        ? frame
        : frame.convertToFormat(QImage::Format_RGB32);
    const cv::Mat wrapped(bgra.height(), bgra.width(), CV_8UC4,
        const_cast<uchar *>(bgra.constBits()), std::size_t(bgra.bytesPerLine()));
    cv::Mat &shrunk = buffer();
    cv::resize(wrapped, shrunk, working, 0, 0, cv::INTER_AREA);
    cv::cvtColor(shrunk, shrunk, cv::COLOR_BGRA2BGR);
    cv::Mat &current = buffer();
    shrunk.convertTo(current, CV_32FC3);

    if (m.mask.isNull()) {
        m.workingMask.release();
    } else if (m.frameMask.size() != frame.size()) {
        m.frameMask = m.mask.scaled(frame.size()).convertToFormat(QImage::Format_Grayscale8);
        const QImage small = m.frameMask.scaled(m_settings.workingSize);
        m.workingMask = cv::Mat(working, CV_8U);
        for (int y = 0; y < working.height; ++y)
            for (int x = 0; x < working.width; ++x)
                m.workingMask.at<uchar>(y, x) = small.constScanLine(y)[x] >= 128 ? 255 : 0;
    }

    const double seconds = m.frames == 0
        ? 0.0
        : std::clamp(double(milliseconds - m.lastMilliseconds) / 1000.0, 0.0, 5.0);
    m.lastMilliseconds = milliseconds;

    auto halfGreyOf = [&](const cv::Mat &colour) {
        cv::Mat &half = buffer();
        cv::resize(colour, half, working / 2, 0, 0, cv::INTER_AREA);
        cv::cvtColor(half, half, cv::COLOR_BGR2GRAY);
        return half;
    };

    // Learning: the scene is the frames' mean, the activity their mean change.
    if (m.frames == 0)
        m.firstMilliseconds = milliseconds;
    const bool first = m.frames < FIRST_FRAMES
        || double(milliseconds - m.firstMilliseconds) / 1000.0 < FIRST_SECONDS;
    if (first) {
        ++m.frames;
        if (m.frames == 1) {
            current.copyTo(m.scene);
            m.activity = cv::Mat(working, CV_32F, cv::Scalar(LEAST_MARGIN / NOISE_FACTOR));
            m.window.release();
        } else {
            cv::Mat &change = buffer();
            cv::blur(current - m.previous, change, {3, 3});
            cv::Mat &largest = buffer();
            largestChannel(change, m.planes, largest);
            const double weight = 1.0 / (m.frames - 1);
            cv::addWeighted(m.activity, 1 - weight, largest, weight, 0, m.activity);
            cv::addWeighted(m.scene, 1 - 1.0 / m.frames, current, 1.0 / m.frames, 0, m.scene);
        }
        current.copyTo(m.previous);
        outcome.learning = true;
        return outcome;
    }

    // Shake: the whole picture's shift against the learnt scene, undone when small.
    if (m.window.empty())
        cv::createHanningWindow(m.window, working / 2, CV_32F);
    double response = 0;
    const cv::Point2d half
        = cv::phaseCorrelate(halfGreyOf(m.scene), halfGreyOf(current), m.window, &response);
    cv::Point2d shift(half.x * 2, half.y * 2);
    // The camera knocked or turned: the whole picture moved further than a shake and stays. That
    // is change while it happens; once it has held still at its new place, the room there is
    // learnt afresh, or the event would last until the scene memory caught up.
    if (response >= MOVED_RESPONSE && std::hypot(shift.x, shift.y) > MOST_SHAKE) {
        if (m.movedSince < 0 || std::hypot(shift.x - m.moved.x, shift.y - m.moved.y) > MOST_SHAKE) {
            m.moved = shift;
            m.movedSince = milliseconds;
        } else if (double(milliseconds - m.movedSince) / 1000.0 >= MOVED_SECONDS) {
            m.forget();
            analyse(frame, milliseconds, samples);
            outcome.learning = true;
            return outcome;
        }
    } else {
        m.movedSince = -1;
    }
    if (response < LEAST_SHIFT_RESPONSE || std::hypot(shift.x, shift.y) > MOST_SHAKE)
        shift = {};
    if (std::hypot(shift.x, shift.y) > 0.4) {
        const cv::Matx23d undo(1, 0, -shift.x, 0, 1, -shift.y);
        cv::warpAffine(current, current, undo, working, cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    }
    outcome.shift
        = QPoint(int(std::lround(shift.x * toFrameX)), int(std::lround(shift.y * toFrameY)));

    // Light: the whole picture's gain for each channel (white balance, exposure), then a smooth
    // field of how much lighter each part is, blind to anything only a few cells across.
    cv::Mat &cellsNow = buffer();
    cv::Mat &cellsScene = buffer();
    cv::resize(current, cellsNow, LIGHT_CELLS, 0, 0, cv::INTER_AREA);
    cv::resize(m.scene, cellsScene, LIGHT_CELLS, 0, 0, cv::INTER_AREA);
    std::array<std::vector<float>, 4> ratios;
    cv::Mat cellLight(LIGHT_CELLS, CV_32F);
    for (int y = 0; y < LIGHT_CELLS.height; ++y) {
        for (int x = 0; x < LIGHT_CELLS.width; ++x) {
            const cv::Vec3f now = cellsNow.at<cv::Vec3f>(y, x);
            const cv::Vec3f was = cellsScene.at<cv::Vec3f>(y, x);
            for (int c = 0; c < 3; ++c)
                ratios[std::size_t(c)].push_back((now[c] + 2) / (was[c] + 2));
            const float light = (now[0] + now[1] + now[2] + 6) / (was[0] + was[1] + was[2] + 6);
            ratios[3].push_back(light);
            cellLight.at<float>(y, x) = light;
        }
    }
    const double overall = median(ratios[3]);
    std::array<double, 3> balance {};
    for (std::size_t c = 0; c < 3; ++c)
        balance[c] = median(ratios[c]) / overall;

    // A camera going grey for the night (or back), or its exposure stepping evenly over the
    // picture, is learnt afresh.
    const double colourNow = saturation(cellsNow);
    const double colourWas = saturation(cellsScene);
    cv::Scalar meanNow;
    cv::Scalar spreadNow;
    cv::Scalar meanWas;
    cv::Scalar spreadWas;
    cv::meanStdDev(cellsNow, meanNow, spreadNow);
    cv::meanStdDev(cellsScene, meanWas, spreadWas);
    // A covered camera loses its texture and most of its light: that is change, not a mode.
    const bool textured = spreadNow[1] > 0.5 * overall * spreadWas[1] && overall >= LEAST_GAIN
        && overall <= MOST_GAIN;
    const bool grey
        = textured && colourWas > LEAST_SATURATION && colourNow < GREY_SATURATION * colourWas;
    const bool coloured
        = textured && colourNow > LEAST_SATURATION && colourWas < GREY_SATURATION * colourNow;
    const auto even = std::count_if(ratios[3].begin(), ratios[3].end(),
        [&](float r) { return std::abs(r / overall - 1) < 0.12; });
    const bool exposure = (overall > EXPOSURE_STEP || overall < 1 / EXPOSURE_STEP) && textured
        && double(even) > 0.85 * double(ratios[3].size());
    if (grey || coloured || exposure) {
        m.forget();
        analyse(frame, milliseconds, samples);
        outcome.cameraMode = true;
        outcome.learning = true;
        return outcome;
    }

    const double gain = std::clamp(overall, LEAST_GAIN, MOST_GAIN);
    outcome.lightPercent = int(std::lround((gain - 1) * 100));
    cellLight /= gain;
    cv::min(cellLight, MOST_GAIN / gain, cellLight);
    cv::max(cellLight, LEAST_GAIN / gain, cellLight);
    cv::medianBlur(cellLight, cellLight, 5);
    cv::Mat &field = buffer();
    cv::resize(cellLight, field, working, 0, 0, cv::INTER_LINEAR);
    cv::Mat &expected = buffer();
    cv::merge(std::vector<cv::Mat> {field, field, field}, expected);
    expected = expected.mul(m.scene);
    cv::multiply(
        expected, cv::Scalar(balance[0] * gain, balance[1] * gain, balance[2] * gain), expected);

    // What changed beyond the scene's texture a pixel either way, so that what is left of a
    // shake or a sharp edge's blur is not change.
    cv::Mat &low = buffer();
    cv::Mat &high = buffer();
    cv::erode(expected, low, cv::Mat());
    cv::dilate(expected, high, cv::Mat());
    cv::Mat &kept = buffer();
    cv::min(cv::max(current, low), high, kept);
    cv::Mat &change = buffer();
    cv::blur(current - kept, change, {3, 3});
    cv::Mat &difference = buffer();
    largestChannel(change, m.planes, difference);

    // Light at a finer grain than the field: where the scene has texture, a change that keeps it,
    // only lighter or darker over a few pixels, is light too (the soft edge of a shadow or a
    // beam). A flat place keeps no texture to tell by, so there the field alone decides.
    cv::Mat &now = buffer();
    cv::Mat &was = buffer();
    cv::cvtColor(current, now, cv::COLOR_BGR2GRAY);
    cv::cvtColor(expected, was, cv::COLOR_BGR2GRAY);
    const cv::Size window {TEXTURE_WINDOW, TEXTURE_WINDOW};
    cv::Mat &wasMean = buffer();
    cv::Mat &wasSquare = buffer();
    cv::Mat &both = buffer();
    cv::blur(was, wasMean, window);
    cv::blur(was.mul(was), wasSquare, window);
    cv::blur(was.mul(now), both, window);
    cv::Mat &localGain = buffer();
    localGain = both / (wasSquare + 1);
    cv::min(localGain, LOCAL_LIGHT, localGain);
    cv::max(localGain, 1 / LOCAL_LIGHT, localGain);
    cv::Mat &texture = buffer();
    texture = wasSquare - wasMean.mul(wasMean) > LEAST_TEXTURE * LEAST_TEXTURE;
    cv::Mat &relit = buffer();
    cv::merge(std::vector<cv::Mat> {localGain, localGain, localGain}, relit);
    cv::blur(current - relit.mul(expected), change, {3, 3});
    cv::Mat &textureDifference = buffer();
    largestChannel(change, m.planes, textureDifference);
    cv::min(difference, textureDifference, textureDifference);
    textureDifference.copyTo(difference, texture);

    // Each place's margin: its usual change, spread over its neighbours so that a swaying leaf
    // is known a little beyond where it was seen.
    cv::Mat &usual = buffer();
    cv::blur(m.activity, usual, {5, 5});
    cv::dilate(usual, usual, cv::getStructuringElement(cv::MORPH_RECT, {7, 7}));
    cv::Mat &margin = buffer();
    margin = usual * NOISE_FACTOR;
    cv::max(margin, LEAST_MARGIN, margin);
    cv::Mat &over = buffer();
    over = difference > margin;
    // The margin of a still place of the same picture, to tell what the usual change discounted.
    cv::Mat &cellsActivity = buffer();
    cv::resize(m.activity, cellsActivity, LIGHT_CELLS * 2, 0, 0, cv::INTER_AREA);
    const double stillMargin = std::max(double(LEAST_MARGIN),
        NOISE_FACTOR
            * median(std::vector<float>(cellsActivity.begin<float>(), cellsActivity.end<float>())));
    cv::Mat &discounted = buffer();
    discounted = (difference > stillMargin) & ~over;
    if (!m.workingMask.empty())
        over &= m.workingMask;

    // Size, not scatter: specks go, and only regions the size of a mover count.
    cv::morphologyEx(over, over, cv::MORPH_OPEN, cv::Mat());
    cv::Mat &labels = buffer();
    cv::Mat &stats = buffer();
    cv::Mat &centroids = buffer();
    const int regions = cv::connectedComponentsWithStats(over, labels, stats, centroids, 8, CV_32S);
    const double leastRegion = LEAST_REGION * working.area() / (320.0 * 240.0);
    std::vector<std::uint8_t> counts(std::size_t(regions), 0);
    cv::Mat &counting = buffer();
    counting.create(working, CV_8U);
    counting.setTo(0);
    for (int label = 1; label < regions; ++label)
        counts[std::size_t(label)] = stats.at<int>(label, cv::CC_STAT_AREA) >= leastRegion ? 1 : 0;

    // Light has soft edges: a region whose light ratio to the scene is strong but changes only
    // gently from pixel to pixel is a beam, a lamp or a shadow, however it is shaped. A mover,
    // even one of the scene's own hue, has a sharp outline.
    cv::Mat &ratio = buffer();
    cv::Mat &slopeX = buffer();
    cv::Mat &slopeY = buffer();
    cv::Mat &slope = buffer();
    cv::Mat &inner = buffer();
    // Most frames have no region to tell at all.
    if (std::any_of(counts.begin(), counts.end(), [](std::uint8_t c) { return c != 0; })) {
        ratio = (now + 2) / (was + 2);
        cv::GaussianBlur(ratio, ratio, {0, 0}, RATIO_BLUR);
        cv::Sobel(ratio, slopeX, CV_32F, 1, 0, 3, 1.0 / 8);
        cv::Sobel(ratio, slopeY, CV_32F, 0, 1, 3, 1.0 / 8);
        slope = cv::abs(slopeX) + cv::abs(slopeY);
        // The outline of what passed the margin lies a pixel or two off the edge that made it.
        cv::dilate(slope, slope, cv::getStructuringElement(cv::MORPH_RECT, {5, 5}));
        cv::erode(over, inner, cv::Mat());
        std::vector<double> slopes(std::size_t(regions), 0.0);
        std::vector<double> edges(std::size_t(regions), 0.0);
        std::vector<double> strengths(std::size_t(regions), 0.0);
        std::vector<double> levels(std::size_t(regions), 0.0);
        for (int y = 0; y < working.height; ++y) {
            const int *labelRow = labels.ptr<int>(y);
            const auto *ratioRow = ratio.ptr<float>(y);
            const auto *slopeRow = slope.ptr<float>(y);
            const auto *innerRow = inner.ptr<uchar>(y);
            const auto *textureRow = texture.ptr<uchar>(y);
            for (int x = 0; x < working.width; ++x) {
                const auto label = std::size_t(labelRow[x]);
                if (counts[label] == 0)
                    continue;
                // The scene's own edges shift the ratio a little wherever they are; only the
                // outline over plain places tells how sharp the change is.
                if (innerRow[x] == 0 && textureRow[x] == 0) {
                    slopes[label] += slopeRow[x];
                    edges[label] += 1;
                }
                strengths[label] += std::abs(std::log(std::max(ratioRow[x], 1e-3F)));
                levels[label] += ratioRow[x];
            }
        }
        for (int label = 1; label < regions; ++label) {
            const auto l = std::size_t(label);
            const double area = stats.at<int>(label, cv::CC_STAT_AREA);
            const double level = levels[l] / area;
            if (counts[l] != 0 && level > 1 / LOCAL_LIGHT && level < LOCAL_LIGHT
                && strengths[l] > SOFT_LEAST * area && edges[l] >= LEAST_OUTLINE
                && slopes[l] / std::max(1.0, edges[l]) < SOFTNESS * strengths[l] / area)
                counts[l] = 0;
        }
    }
    for (int y = 0; y < working.height; ++y) {
        const int *labelRow = labels.ptr<int>(y);
        auto *row = counting.ptr<uchar>(y);
        for (int x = 0; x < working.width; ++x)
            row[x] = counts[std::size_t(labelRow[x])] != 0 ? 255 : 0;
    }

    // A sample point stands for the cell of frame around it: it counts when a counted region
    // reaches into that cell.
    int spacing = 0;
    for (std::size_t i = 0; spacing == 0 && i + std::size_t(samples.rows) < samples.inFrame.size();
         ++i) {
        if (samples.inFrame[i].x() >= 0 && samples.inFrame[i + std::size_t(samples.rows)].x() >= 0)
            spacing = samples.inFrame[i + std::size_t(samples.rows)].x() - samples.inFrame[i].x();
    }
    const int radius = std::max(1, int(std::lround(spacing / 2.0 / toFrameX)));
    cv::Mat &reached = buffer();
    cv::dilate(counting, reached,
        cv::getStructuringElement(cv::MORPH_RECT, {2 * radius + 1, 2 * radius + 1}));
    std::vector<std::int32_t> regionPoints(std::size_t(regions), 0);
    for (std::size_t i = 0; i < samples.inFrame.size(); ++i) {
        const QPoint p = samples.inFrame[i];
        if (p.x() < 0)
            continue;
        if (!m.frameMask.isNull() && m.frameMask.constScanLine(p.y())[p.x()] < 128) {
            ++outcome.masked;
            continue;
        }
        const int x = std::min(working.width - 1, int((p.x() + 0.5) / toFrameX));
        const int y = std::min(working.height - 1, int((p.y() + 0.5) / toFrameY));
        if (discounted.at<uchar>(y, x) != 0)
            ++outcome.discounted;
        if (reached.at<uchar>(y, x) == 0)
            continue;
        outcome.counted[i] = 1;
        ++outcome.count;
        // The region it stands for: the nearest counted pixel's.
        for (int d = 0; d <= radius; ++d) {
            int found = 0;
            for (int dy = -d; dy <= d && found == 0; ++dy) {
                for (int dx = -d; dx <= d && found == 0; ++dx) {
                    const int yy = std::clamp(y + dy, 0, working.height - 1);
                    const int xx = std::clamp(x + dx, 0, working.width - 1);
                    const int label = labels.at<int>(yy, xx);
                    if (counts[std::size_t(label)] != 0)
                        found = label;
                }
            }
            if (found != 0) {
                ++regionPoints[std::size_t(found)];
                break;
            }
        }
    }
    for (int label = 1; label < regions; ++label) {
        if (regionPoints[std::size_t(label)] > outcome.largestRegion) {
            outcome.largestRegion = regionPoints[std::size_t(label)];
            outcome.largestRegionBox = QRect(int(stats.at<int>(label, cv::CC_STAT_LEFT) * toFrameX),
                int(stats.at<int>(label, cv::CC_STAT_TOP) * toFrameY),
                int(std::ceil(stats.at<int>(label, cv::CC_STAT_WIDTH) * toFrameX)),
                int(std::ceil(stats.at<int>(label, cv::CC_STAT_HEIGHT) * toFrameY)));
        }
    }

    // Learning: still places follow the scene in seconds, but under the light the scene was
    // learnt in, so that light evened out now is not half learnt in some places and not others;
    // the light itself, and places of change, only as slowly as a person who stops may be
    // learnt away.
    const double stillRate = std::min(1.0, seconds / STILL_SECONDS);
    const double changeRate = std::min(1.0, seconds / std::max(1.0, m_settings.learnSeconds));
    cv::Mat &busy = buffer();
    cv::dilate(over, busy, cv::getStructuringElement(cv::MORPH_RECT, {5, 5}));
    cv::Mat &still = buffer();
    cv::bitwise_not(busy, still);
    cv::Mat &evened = buffer();
    cv::Mat &lit = buffer();
    cv::multiply(current, m.scene, evened);
    cv::add(expected, cv::Scalar::all(1), lit);
    cv::divide(evened, lit, evened);
    cv::accumulateWeighted(evened, m.scene, stillRate, still);
    cv::addWeighted(m.scene, 1 - changeRate, current, changeRate, 0, m.scene);

    cv::Mat &moved = buffer();
    cv::blur(current - m.previous, moved, {3, 3});
    cv::Mat &movedMost = buffer();
    largestChannel(moved, m.planes, movedMost);
    const double activityRate = std::min(1.0, seconds / ACTIVITY_SECONDS);
    cv::addWeighted(m.activity, 1 - activityRate, movedMost, activityRate, 0, m.activity);
    current.copyTo(m.previous);
    ++m.frames;
    return outcome;
}

} // namespace tirvel
