#include "block_frames.h"
#include "bmp_writer.h"
#include "colsum_library.h"
#include "detection_state.h"
#include "detector.h"
#include "frame_files.h"
#include "test_main.h"
#include "worker_thread.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

using namespace tirvel;
using namespace tirvel::testing;

namespace {

constexpr ColourValue BACKGROUND = 0x00D8E9EC;

} // namespace

class TestDetector : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Detector> m_detector;
    std::unique_ptr<QSignalSpy> m_tested;
    std::unique_ptr<QSignalSpy> m_failed;

    QTimer *timer() { return m_detector->findChild<QTimer *>(QStringLiteral("Timer1")); }
    int count() const { return m_detector->changeCount(); }
    const PictureSurface &testSurface() { return m_detector->testFrame(); }
    const PictureSurface &timedSurface() { return m_detector->timedFrame(); }
    QString lastFailure() const
    {
        if (m_failed->isEmpty())
            return {};
        return QString::number(m_failed->last().at(0).toInt()) + QStringLiteral(": ")
            + m_failed->last().at(1).toString();
    }

    // A test's count and decision.
    static QVariantList outcome(const QVariantList &signal)
    {
        const auto result = signal.first().value<TestResult>();
        return {result.count, result.detected};
    }

    void writeFrame(const QString &name, const QByteArray &bytes)
    {
        QVERIFY(saveFile(m_dir->filePath(name), bytes));
    }

    void createDetector(bool withLibrary = true)
    {
        m_dir = std::make_unique<QTemporaryDir>();
        writeFrame(TIMED_FRAME_FILE, blockFrame());
        writeFrame(TEST_FRAME_FILE, greyFrame());
        if (withLibrary)
            QVERIFY(QFile::copy(
                QStringLiteral(COLORSUM_PATH), m_dir->filePath(ColSumLibrary::fileName())));
        m_detector = std::make_unique<Detector>(
            framePaths(m_dir->path()), m_dir->filePath(ColSumLibrary::fileName()));
        m_tested = std::make_unique<QSignalSpy>(m_detector.get(), &Detector::tested);
        m_failed = std::make_unique<QSignalSpy>(m_detector.get(), &Detector::failed);
        // As the window sizes them at the design size.
        m_detector->setFrames({{156, 116}, BACKGROUND}, {{158, 118}, BACKGROUND});
        m_detector->setSensitivity(50);
    }

private Q_SLOTS:
    void init() { createDetector(); }

    void cleanup()
    {
        m_tested.reset();
        m_failed.reset();
        m_detector.reset();
        m_dir.reset();
    }

    void framePathsAreAppendedNotNormalised()
    {
        const QString separator = QDir::separator();
        QCOMPARE(framePath(QStringLiteral("dir"), TIMED_FRAME_FILE), "dir" + separator + "5.bmp");
        QCOMPARE(framePath(separator, TEST_FRAME_FILE), separator + separator + "6.bmp");
    }

    void testMarksCountsAndDecides_data()
    {
        QTest::addColumn<int>("sensitivity");
        QTest::addColumn<bool>("detects");
        QTest::newRow("count 30 equals 100 - 70") << 70 << false;
        QTest::newRow("count 30 beats 100 - 71") << 71 << true;
        QTest::newRow("least sensitive") << 0 << false;
    }

    void testMarksCountsAndDecides()
    {
        QFETCH(int, sensitivity);
        QFETCH(bool, detects);
        m_detector->tick(); // the timed frame from 5.bmp rather than the start picture
        m_detector->setSensitivity(sensitivity);
        QSignalSpy shown(m_detector.get(), &Detector::testFrameChanged);
        m_detector->test();

        QVERIFY(timer()->isActive());
        QCOMPARE(m_tested->size(), 1);
        QCOMPARE(outcome(m_tested->first()), (QVariantList {POINTS_PER_TEST, detects}));
        for (int x = 0; x < 10; x += 2) {
            for (int y = 0; y < 12; y += 2)
                QCOMPARE(testSurface().readPixel(x, y), MARK_COLOUR);
        }
        QCOMPARE(testSurface().readPixel(1, 1), colourFromRgb32(GREY));
        QCOMPARE(testSurface().readPixel(10, 0), colourFromRgb32(GREY));
        // What the window is given to show carries the marks.
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().first().value<QImage>().pixel(4, 6), 0xFF00C800u);
    }

    void testsWithoutATickAddUpAndATickEmptiesTheCount()
    {
        m_detector->tick();
        m_detector->test();
        m_detector->test();
        QCOMPARE(m_tested->size(), 2);
        QCOMPARE(outcome(m_tested->at(0)), (QVariantList {POINTS_PER_TEST, false}));
        QCOMPARE(outcome(m_tested->at(1)), (QVariantList {2 * POINTS_PER_TEST, true}));

        // A tick empties the count and reloads the timed frame, and leaves the marks.
        writeFrame(TIMED_FRAME_FILE, blockFrame(0xFFFFFF00));
        const QImage marked = testSurface().pixelLayer();
        m_detector->tick();
        QCOMPARE(count(), 0);
        QCOMPARE(timedSurface().readPixel(0, 0), 0x0000FFFFu);
        QVERIFY(testSurface().pixelLayer() == marked);

        // The next test loads the test frame afresh, so old marks go.
        m_detector->test();
        QCOMPARE(outcome(m_tested->last()), (QVariantList {POINTS_PER_TEST, false}));
    }

    void testingAgainKeepsTheTicksRhythm()
    {
        m_detector->test();
        QTest::qWait(600);
        m_detector->test();
        // A restarted timer would have about a second to go.
        QVERIFY2(
            timer()->remainingTime() < 600, qPrintable(QString::number(timer()->remainingTime())));
        m_detector->stop();
        QVERIFY(!timer()->isActive());
    }

    void realTimerRefreshesTheTimedFrame()
    {
        m_detector->test(); // start picture against the test frame
        QVERIFY(count() > 0);
        QTRY_COMPARE_WITH_TIMEOUT(count(), 0, 3000);
        QCOMPARE(timedSurface().readPixel(0, 0), 0x00FFFFFFu);
    }

    void missingTestFrameFailsBeforeTheScan()
    {
        m_detector->tick();
        m_detector->test();
        QFile::remove(m_dir->filePath(TEST_FRAME_FILE));
        m_detector->test();

        QVERIFY(timer()->isActive());
        QCOMPARE(m_tested->size(), 1); // the scan never ran
        QCOMPARE(count(), POINTS_PER_TEST);
        QCOMPARE(m_failed->size(), 1);
        QVERIFY2(lastFailure().startsWith("53: "), qPrintable(lastFailure()));
        QVERIFY(lastFailure().contains(m_dir->filePath(TEST_FRAME_FILE)));
        // The marks of the earlier test stay; the failed load changed nothing.
        QCOMPARE(testSurface().readPixel(0, 0), MARK_COLOUR);
    }

    void missingTimedFrameFailsAfterEmptyingTheCount()
    {
        m_detector->tick();
        m_detector->test();
        QFile::remove(m_dir->filePath(TIMED_FRAME_FILE));
        m_detector->tick();
        QCOMPARE(count(), 0);
        QCOMPARE(m_failed->size(), 1);
        QVERIFY(lastFailure().contains(m_dir->filePath(TIMED_FRAME_FILE)));
        QCOMPARE(timedSurface().readPixel(0, 0), 0x00FFFFFFu); // the frame before stays

        // A half-written frame is refused the same way.
        writeFrame(TIMED_FRAME_FILE, blockFrame(0xFFFFFF00).left(30000));
        m_detector->tick();
        QCOMPARE(m_failed->size(), 2);
        QVERIFY2(lastFailure().startsWith("481: "), qPrintable(lastFailure()));
        QCOMPARE(timedSurface().readPixel(0, 0), 0x00FFFFFFu);

        // Once the writer has finished, the next tick picks the frame up.
        writeFrame(TIMED_FRAME_FILE, blockFrame(0xFFFFFF00));
        m_detector->tick();
        QCOMPARE(timedSurface().readPixel(0, 0), 0x0000FFFFu);
    }

    void missingColourLibraryShowsAtTheFirstTest()
    {
        cleanup();
        createDetector(false);
        m_detector->tick();
        m_detector->test();
        QCOMPARE(m_failed->size(), 1);
        QVERIFY(lastFailure().contains(ColSumLibrary::fileName()));
        QCOMPARE(count(), 0);
        QVERIFY(m_tested->isEmpty()); // the decision never ran

        QVERIFY(
            QFile::copy(QStringLiteral(COLORSUM_PATH), m_dir->filePath(ColSumLibrary::fileName())));
        m_detector->test();
        QCOMPARE(outcome(m_tested->last()), (QVariantList {POINTS_PER_TEST, false}));
    }

    // A click while a test waits behind a slow read is that test; one while a test runs is the
    // next.
    void clicksWhileATestWaitsAreThatTest()
    {
        QSemaphore reading;
        QSemaphore release;
        std::atomic<int> reads = 0;
        WorkerThread thread(QStringLiteral("detection"));
        auto *detector = thread.adopt(
            new Detector(framePaths(m_dir->path()), QString(), [&](const QString &path) {
                ++reads;
                reading.release();
                release.acquire();
                return loadPicture(path);
            }));
        thread.start();
        detector->requestTest();
        QVERIFY(reading.tryAcquire(1, 5000));
        for (int click = 0; click < 5; ++click)
            detector->requestTest();
        release.release(2);
        QVERIFY(reading.tryAcquire(1, 5000));
        QVERIFY(!reading.tryAcquire(1, 300));
        QCOMPARE(reads.load(), 2);
    }

    void framesWrittenWhileReadAreWholeOrRefused()
    {
        // Three uniform frames; a frame mixing two, or with black rows, would not be uniform.
        const QList<QRgb> colours {0xFFFF0000, 0xFF00FF00, 0xFF0000FF};
        QStringList sources;
        for (QRgb colour : colours) {
            QImage image(160, 120, QImage::Format_RGB32);
            image.fill(colour);
            sources << m_dir->filePath(QStringLiteral("source%1.bmp").arg(sources.size()));
            QVERIFY(saveFile(sources.last(), writeBmp(image)));
        }
        const QString timedPath = m_dir->filePath(TIMED_FRAME_FILE);
        QVERIFY(QFile::remove(timedPath));
        QVERIFY(QFile::copy(sources.first(), timedPath));
        m_detector->tick();

        QProcess rewriter;
        const auto stopRewriter = qScopeGuard([&] {
            rewriter.kill();
            rewriter.waitForFinished();
        });
        // Written and renamed, as the README asks: every tick waits for a frame that holds still.
        rewriter.start(QStringLiteral(FRAME_REWRITER_PATH),
            QStringList {"--rename", "--fps", "30", timedPath, "100000"} + sources);
        QVERIFY(rewriter.waitForStarted());

        const QSize interior = timedSurface().interiorSize();
        for (int round = 0; round < 60; ++round) {
            m_detector->tick();
            const ColourValue now = timedSurface().readPixel(0, 0);
            for (int y = 0; y < interior.height(); ++y) {
                for (int x = 0; x < interior.width(); ++x) {
                    if (timedSurface().readPixel(x, y) != now)
                        QFAIL(qPrintable(
                            QStringLiteral("round %1: the frame is not whole at (%2, %3)")
                                .arg(round)
                                .arg(x)
                                .arg(y)));
                }
            }
            QVERIFY2(m_failed->isEmpty(), qPrintable(lastFailure()));
            QVERIFY(std::any_of(
                colours.begin(), colours.end(), [&](QRgb c) { return colourFromRgb32(c) == now; }));
            QThread::usleep(700);
        }
    }
};

TIRVEL_TEST_MAIN(TestDetector)
#include "tst_detector.moc"
