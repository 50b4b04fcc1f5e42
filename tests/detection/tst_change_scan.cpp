#include "detection_state.h"
#include "test_main.h"

#include <QTest>

#include <limits>
#include <stdexcept>
#include <vector>

using namespace tirvel;

namespace {

// A measure on the red channel alone makes exact differences easy to build.
std::int32_t redMeasure(ColourValue colour)
{
    return colour == INVALID_COLOUR ? -1 : std::int32_t(colour & 0xFF);
}

// A flat-bordered surface with the given interior, showing one colour.
PictureSurface filledSurface(int width, int height, ColourValue colour)
{
    PictureSurface surface(colour);
    surface.setInteriorSize({width, height});
    return surface;
}

// Every pixel says where it is: red is x, green is y.
PictureSurface coordinateSurface(int width, int height)
{
    PictureSurface surface = filledSurface(width, height, 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            surface.writePixel(x, y, ColourValue(x) | ColourValue(y) << 8);
    }
    return surface;
}

struct Point
{
    int x;
    int y;
    bool operator==(const Point &) const = default;
};

std::vector<Point> markedPoints(const PictureSurface &surface)
{
    std::vector<Point> points;
    for (int x = 0; x < surface.interiorSize().width(); ++x) {
        for (int y = 0; y < surface.interiorSize().height(); ++y) {
            if (surface.readPixel(x, y) == MARK_COLOUR)
                points.push_back({x, y});
        }
    }
    return points;
}

DetectionState stateWithBounds(int width, int height)
{
    DetectionState state;
    state.setScanBounds({width, height});
    return state;
}

} // namespace

class TestChangeScan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void countsOnlyWhereTheTimedFrameIsBrighter_data()
    {
        QTest::addColumn<int>("timedRed");
        QTest::addColumn<int>("testRed");
        QTest::addColumn<bool>("counts");

        QTest::newRow("identical") << 100 << 100 << false;
        QTest::newRow("difference 9") << 109 << 100 << false;
        QTest::newRow("difference 10") << 110 << 100 << false;
        QTest::newRow("difference 11") << 111 << 100 << true;
        QTest::newRow("largest difference") << 255 << 0 << true;
        QTest::newRow("test frame brighter by 11") << 100 << 111 << false;
        QTest::newRow("test frame far brighter") << 0 << 255 << false;
    }

    void countsOnlyWhereTheTimedFrameIsBrighter()
    {
        QFETCH(int, timedRed);
        QFETCH(int, testRed);
        QFETCH(bool, counts);

        PictureSurface timed = filledSurface(20, 16, ColourValue(timedRed));
        PictureSurface test = filledSurface(20, 16, ColourValue(testRed));
        DetectionState state = stateWithBounds(10, 8);
        state.scan(timed, test, redMeasure);

        // x = 0, 2, ..., 10 and y = 0, 2, ..., 8: 6 columns of 5 rows.
        const int expected = counts ? 30 : 0;
        QCOMPARE(state.changeCount(), expected);
        const std::vector<Point> marks = markedPoints(test);
        QCOMPARE(int(marks.size()), expected);
        for (const Point &mark : marks)
            QVERIFY2(mark.x % 2 == 0 && mark.y % 2 == 0 && mark.x <= 10 && mark.y <= 8,
                qPrintable(QStringLiteral("mark at (%1, %2)").arg(mark.x).arg(mark.y)));
        QVERIFY2(markedPoints(timed).empty(), "the timed frame was written");
        QCOMPARE(timed.readPixel(0, 0), ColourValue(timedRed));
    }

    void walksColumnByColumnWithinInclusiveBounds_data()
    {
        QTest::addColumn<int>("scanWidth");
        QTest::addColumn<int>("scanHeight");
        QTest::addColumn<int>("lastX"); // -1: nothing sampled
        QTest::addColumn<int>("lastY");

        QTest::newRow("even bounds reach the bound") << 8 << 6 << 8 << 6;
        QTest::newRow("odd width stops one short") << 7 << 6 << 6 << 6;
        QTest::newRow("odd height stops one short") << 8 << 5 << 8 << 4;
        QTest::newRow("zero samples the first column and row") << 0 << 0 << 0 << 0;
        QTest::newRow("zero width, some height") << 0 << 4 << 0 << 4;
        QTest::newRow("negative width samples nothing") << -1 << 6 << -1 << -1;
        QTest::newRow("negative height samples nothing") << 8 << -2 << -1 << -1;
    }

    void walksColumnByColumnWithinInclusiveBounds()
    {
        QFETCH(int, scanWidth);
        QFETCH(int, scanHeight);
        QFETCH(int, lastX);
        QFETCH(int, lastY);

        const PictureSurface timed = coordinateSurface(12, 12);
        PictureSurface test = coordinateSurface(12, 12);
        std::vector<ColourValue> measured;
        DetectionState state = stateWithBounds(scanWidth, scanHeight);
        state.scan(timed, test, [&](ColourValue colour) {
            measured.push_back(colour);
            return 0;
        });

        // Each point measures the timed frame, then the test frame, at the same place.
        std::vector<ColourValue> expected;
        for (int x = 0; x <= lastX; x += 2) {
            for (int y = 0; y <= lastY; y += 2) {
                expected.push_back(ColourValue(x) | ColourValue(y) << 8);
                expected.push_back(ColourValue(x) | ColourValue(y) << 8);
            }
        }
        QCOMPARE(measured, expected);
        QCOMPARE(state.changeCount(), 0);
    }

    void pointsPastTheTimedFrameReadTheInvalidColour()
    {
        // The scan bounds are the timed frame's interior, so the last column and row lie outside
        // it and inside the larger test frame.
        const PictureSurface timed = filledSurface(156, 116, 0x00FFFFFF);
        PictureSurface test = filledSurface(158, 118, 0x00000000);
        DetectionState state = stateWithBounds(156, 116);
        int invalidReads = 0;
        int points = 0;
        state.scan(timed, test, [&](ColourValue colour) {
            ++points;
            invalidReads += colour == INVALID_COLOUR;
            return redMeasure(colour);
        });
        QCOMPARE(points / 2, 79 * 59);
        QCOMPARE(invalidReads, 79 + 59 - 1);
        // White over black everywhere inside; the edge measures -1 and does not count.
        QCOMPARE(state.changeCount(), 78 * 58);
        QCOMPARE(test.readPixel(156, 0), 0x00000000u);
        QCOMPARE(test.readPixel(154, 114), MARK_COLOUR);
    }

    void arithmeticWraps_data()
    {
        QTest::addColumn<std::int32_t>("timedMeasure");
        QTest::addColumn<std::int32_t>("testMeasure");
        QTest::addColumn<std::int32_t>("endCount");
        constexpr auto MIN = std::numeric_limits<std::int32_t>::min();
        constexpr auto MAX = std::numeric_limits<std::int32_t>::max();

        QTest::newRow("difference wraps to the largest") << MIN << 1 << 1;
        QTest::newRow("difference wraps to the smallest") << MAX << -1 << 0;
    }

    void arithmeticWraps()
    {
        QFETCH(std::int32_t, timedMeasure);
        QFETCH(std::int32_t, testMeasure);

        const PictureSurface timed = filledSurface(1, 1, 1);
        PictureSurface test = filledSurface(1, 1, 2);
        DetectionState state = stateWithBounds(0, 0);
        state.scan(timed, test, [&](ColourValue c) { return c == 1 ? timedMeasure : testMeasure; });
        QTEST(state.changeCount(), "endCount");
    }

    void measureErrorKeepsWhatWasDone()
    {
        const PictureSurface timed = filledSurface(10, 10, 200);
        PictureSurface test = filledSurface(10, 10, 0);
        DetectionState state = stateWithBounds(8, 8);
        int calls = 0;
        const auto failing = [&](ColourValue c) {
            if (++calls > 14) // seven points measured, the eighth fails
                throw std::runtime_error("measure gone");
            return redMeasure(c);
        };
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, state.scan(timed, test, failing));
        QCOMPARE(state.changeCount(), 7);
        // Column 0 has five points, so the marks stand at the top of column 2.
        const std::vector<Point> expected {{0, 0}, {0, 2}, {0, 4}, {0, 6}, {0, 8}, {2, 0}, {2, 2}};
        QCOMPARE(markedPoints(test), expected);
    }

    void decision_data()
    {
        QTest::addColumn<std::int32_t>("count");
        QTest::addColumn<int>("sensitivity");
        QTest::addColumn<bool>("detects");

        QTest::newRow("count equal to 100 - 50") << 50 << 50 << false;
        QTest::newRow("count one above") << 51 << 50 << true;
        QTest::newRow("count one below") << 49 << 50 << false;
        QTest::newRow("most sensitive, one point") << 1 << 100 << true;
        QTest::newRow("most sensitive, no point") << 0 << 100 << false;
        QTest::newRow("least sensitive, 100 points") << 100 << 0 << false;
        QTest::newRow("least sensitive, 101 points") << 101 << 0 << true;
        QTest::newRow("negative count") << -5 << 100 << false;
    }

    void decision()
    {
        QFETCH(std::int32_t, count);
        QFETCH(int, sensitivity);
        QTEST(beatsSensitivity(count, sensitivity), "detects");
    }

    void scansWithoutAnEmptyingAddUp()
    {
        // 30 counted points a scan: 6 columns of 5 rows.
        const PictureSurface timed = filledSurface(12, 10, 200);
        DetectionState state = stateWithBounds(10, 8);
        for (int round = 0; round < 2; ++round) {
            PictureSurface test = filledSurface(12, 10, 0);
            state.scan(timed, test, redMeasure);
        }
        QCOMPARE(state.changeCount(), 60);
        state.emptyCount();
        QCOMPARE(state.changeCount(), 0);
    }
};

TIRVEL_TEST_MAIN(TestChangeScan)
#include "tst_change_scan.moc"
