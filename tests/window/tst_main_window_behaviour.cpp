#include "bmp_writer.h"
#include "colsum_library.h"
#include "detection_state.h"
#include "fake_capture_view.h"
#include "main_window.h"
#include "picture_box.h"
#include "test_main.h"

#include <QAccessible>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

using namespace tirvel;
using namespace tirvel::testing;

namespace {

const QString MESSAGE = QStringLiteral("Rörelse har detekterats !");
constexpr QRgb GREY = 0xFF646464;

// Grey, with a white block over 5 columns by 6 rows of sample points in the top-left corner.
QByteArray timedFrame(QRgb block = 0xFFFFFFFF)
{
    QImage image(160, 120, QImage::Format_RGB32);
    image.fill(GREY);
    for (int y = 0; y < 12; ++y) {
        for (int x = 0; x < 10; ++x)
            image.setPixel(x, y, block);
    }
    return writeBmp(image);
}

QByteArray testFrame()
{
    QImage image(160, 120, QImage::Format_RGB32);
    image.fill(GREY);
    return writeBmp(image);
}

constexpr int POINTS_PER_TEST = 30;

} // namespace

class TestMainWindowBehaviour : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<MainWindow> m_form;
    FakeCaptureView *m_view = nullptr;
    int m_beeps = 0;

    template <typename T = QWidget> T *control(const char *name)
    {
        return m_form->findChild<T *>(QLatin1String(name));
    }
    QTimer *timer() { return m_form->findChild<QTimer *>(QStringLiteral("Timer1")); }
    QString result() { return control<QLabel>("lblTirvelDe")->text(); }
    PictureSurface &testSurface() { return control<PictureBox>("picBild2")->surface(); }
    PictureSurface &timedSurface() { return control<PictureBox>("picBild")->surface(); }
    int count() const { return m_form->detectionState().changeCount(); }

    QList<QMessageBox *> visibleReports()
    {
        QList<QMessageBox *> reports;
        for (QMessageBox *box : m_form->findChildren<QMessageBox *>()) {
            if (box->isVisible())
                reports << box;
        }
        return reports;
    }

    void writeFrame(const QString &name, const QByteArray &bytes)
    {
        QVERIFY(saveFile(m_dir->filePath(name), bytes));
    }

    void createForm(bool withLibrary = true, QSize viewSize = {160, 120})
    {
        m_dir = std::make_unique<QTemporaryDir>();
        writeFrame(QStringLiteral("5.bmp"), timedFrame());
        writeFrame(QStringLiteral("6.bmp"), testFrame());
        if (withLibrary)
            QVERIFY(QFile::copy(
                QStringLiteral(COLORSUM_PATH), m_dir->filePath(ColSumLibrary::fileName())));
        m_view = new FakeCaptureView(viewSize);
        m_beeps = 0;
        m_form = std::make_unique<MainWindow>(m_dir->path(),
            m_dir->filePath(ColSumLibrary::fileName()), m_view, [this] { ++m_beeps; });
        m_form->show();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    }

    void clickTest() { QTest::mouseClick(control("Command1"), Qt::LeftButton); }

private slots:
    void init() { createForm(); }

    void cleanup()
    {
        m_form.reset();
        m_dir.reset();
    }

    void startUpSizesTheFramesFromTheLiveView_data()
    {
        QTest::addColumn<QSize>("view");
        QTest::addColumn<QSize>("timedInterior");
        QTest::addColumn<QSize>("testInterior");

        QTest::newRow("design size") << QSize(160, 120) << QSize(156, 116) << QSize(158, 118);
        QTest::newRow("larger view") << QSize(200, 150) << QSize(196, 146) << QSize(198, 148);
    }

    void startUpSizesTheFramesFromTheLiveView()
    {
        QFETCH(QSize, view);
        QFETCH(QSize, timedInterior);
        QFETCH(QSize, testInterior);
        cleanup();
        createForm(true, view);

        QCOMPARE(control("picBild")->size(), view);
        QCOMPARE(control("picBild2")->size(), view);
        QCOMPARE(timedSurface().interiorSize(), timedInterior);
        QCOMPARE(testSurface().interiorSize(), testInterior);
        QCOMPARE(m_form->detectionState().scanBounds(), timedInterior);
        QVERIFY(!timer()->isActive());
        QVERIFY(visibleReports().isEmpty());
    }

    void fileNamesAreAppendedNotNormalised()
    {
        QCOMPARE(m_form->frameFile("5.bmp"), m_dir->path() + QDir::separator() + "5.bmp");
        MainWindow atRoot(QString(QDir::separator()), QString(), new FakeCaptureView, [] {});
        QCOMPARE(
            atRoot.frameFile("6.bmp"), QString(QDir::separator()) + QDir::separator() + "6.bmp");
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
        m_form->tick(); // the timed frame from 5.bmp rather than the start picture
        control<QSlider>("Slider1")->setValue(sensitivity);
        clickTest();

        QVERIFY(timer()->isActive());
        QCOMPARE(count(), POINTS_PER_TEST);
        QCOMPARE(result(), detects ? MESSAGE : QString());
        QCOMPARE(m_beeps, detects ? 1 : 0);
        for (int x = 0; x < 10; x += 2) {
            for (int y = 0; y < 12; y += 2)
                QCOMPARE(testSurface().readPixel(x, y), MARK_COLOUR);
        }
        QCOMPARE(testSurface().readPixel(1, 1), colourFromRgb32(GREY));
        QCOMPARE(testSurface().readPixel(10, 0), colourFromRgb32(GREY));
        // What the user sees: green where the block stood, past the one-pixel border.
        const QImage shown = control("picBild2")->grab().toImage();
        QCOMPARE(shown.pixel(1 + 4, 1 + 6) | 0xFF000000u, 0xFF00C800u);
    }

    void testsWithoutATickAddUpAndATickEmptiesTheCount()
    {
        m_form->tick();
        clickTest();
        QCOMPARE(result(), QString());
        clickTest();
        QCOMPARE(count(), 2 * POINTS_PER_TEST);
        QCOMPARE(result(), MESSAGE);
        QCOMPARE(m_beeps, 1);

        // A tick empties the count and reloads the timed frame, and leaves the result and marks.
        writeFrame(QStringLiteral("5.bmp"), timedFrame(0xFFFFFF00));
        const QImage marked = testSurface().pixelLayer();
        m_form->tick();
        QCOMPARE(count(), 0);
        QCOMPARE(timedSurface().readPixel(0, 0), 0x0000FFFFu);
        QCOMPARE(result(), MESSAGE);
        QVERIFY(testSurface().pixelLayer() == marked);

        // The next test loads the test frame afresh, so old marks go.
        clickTest();
        QCOMPARE(count(), POINTS_PER_TEST);
        QCOMPARE(result(), QString());
    }

    void clickingAgainKeepsTheTimersRhythm()
    {
        clickTest();
        QTest::qWait(600);
        clickTest();
        // A restarted timer would have about a second to go.
        QVERIFY2(
            timer()->remainingTime() < 600, qPrintable(QString::number(timer()->remainingTime())));
    }

    void realTimerRefreshesTheTimedFrame()
    {
        clickTest(); // start picture against the test frame
        QVERIFY(count() > 0);
        QCOMPARE(timedSurface().readPixel(0, 0), 0x00990066u);
        QTRY_COMPARE_WITH_TIMEOUT(count(), 0, 3000);
        QCOMPARE(timedSurface().readPixel(0, 0), 0x00FFFFFFu);
    }

    void captureButtonsOnlyCommandTheView()
    {
        m_form->tick();
        control<QSlider>("Slider1")->setValue(100);
        clickTest();
        const QImage timed = timedSurface().pixelLayer();
        const QImage marked = testSurface().pixelLayer();
        m_view->log.clear();

        QTest::mouseClick(control("Command2"), Qt::LeftButton);
        QTest::mouseClick(control("Command3"), Qt::LeftButton);

        QCOMPARE(m_view->log, (QStringList {"frameSizeCommand", "frameRateCommand"}));
        QCOMPARE(count(), POINTS_PER_TEST);
        QCOMPARE(result(), MESSAGE);
        QVERIFY(timedSurface().pixelLayer() == timed);
        QVERIFY(testSurface().pixelLayer() == marked);
        QCOMPARE(m_beeps, 1);
    }

    void keyboardPressesTheButtons()
    {
        m_form->tick();
        control("Slider1")->setFocus();
        QTest::keyClick(m_form.get(), Qt::Key_Return);
        QCOMPARE(count(), POINTS_PER_TEST);
        // An access key presses its button the way a click would, after a short animation.
        QTest::keyClick(m_form->windowHandle(), Qt::Key_T, Qt::AltModifier);
        QTRY_COMPARE_WITH_TIMEOUT(count(), 2 * POINTS_PER_TEST, 2000);

        // Enter on another button presses that button.
        control("Command2")->setFocus();
        m_view->log.clear();
        QTest::keyClick(control("Command2"), Qt::Key_Return);
        QCOMPARE(m_view->log, QStringList {"frameSizeCommand"});
        QCOMPARE(count(), 2 * POINTS_PER_TEST);

        QTest::keyClick(m_form->windowHandle(), Qt::Key_E, Qt::AltModifier);
        QTRY_VERIFY_WITH_TIMEOUT(!m_form->isVisible(), 2000);
    }

    void theResultIsAnAlertInViewOnlyWithTheMessage()
    {
        // Qt's AT-SPI bridge passes on an alert coming into view, while it drops alert events.
        QAccessibleInterface *result
            = QAccessible::queryAccessibleInterface(control("lblTirvelDe"));
        QCOMPARE(result->role(), QAccessible::AlertMessage);
        QVERIFY(result->state().invisible);
        m_form->tick();
        clickTest();
        clickTest(); // the count adds up to a detection
        QCOMPARE(result->text(QAccessible::Name), MESSAGE);
        QVERIFY(!result->state().invisible);
        m_form->tick();
        writeFrame(QStringLiteral("6.bmp"), timedFrame());
        clickTest(); // nothing in the timed frame brighter: no detection
        QCOMPARE(result->text(QAccessible::Name), QString());
        QVERIFY(result->state().invisible);
    }

    void missingTestFrameIsReportedAndTheWindowStays()
    {
        m_form->tick();
        clickTest();
        QFile::remove(m_dir->filePath("6.bmp"));
        clickTest();

        QVERIFY(timer()->isActive());
        QCOMPARE(count(), POINTS_PER_TEST); // the scan never ran
        const QList<QMessageBox *> reports = visibleReports();
        QCOMPARE(reports.size(), 1);
        QCOMPARE(reports.first()->windowTitle(), QStringLiteral("Tirvel"));
        QVERIFY2(reports.first()->text().contains("53"), qPrintable(reports.first()->text()));
        QVERIFY(reports.first()->text().contains(m_dir->filePath("6.bmp")));
        QVERIFY(m_form->isVisible());
        // The marks of the earlier test stay; the failed load changed nothing.
        QCOMPARE(testSurface().readPixel(0, 0), MARK_COLOUR);
    }

    void missingTimedFrameFailsAfterEmptyingTheCount()
    {
        m_form->tick();
        clickTest();
        QFile::remove(m_dir->filePath("5.bmp"));
        m_form->tick();
        QCOMPARE(count(), 0);
        QCOMPARE(visibleReports().size(), 1);
        QVERIFY(visibleReports().first()->text().contains(m_dir->filePath("5.bmp")));
        QCOMPARE(timedSurface().readPixel(0, 0), 0x00FFFFFFu); // the frame before stays

        // A half-written frame is refused the same way, and the report is not stacked.
        writeFrame(QStringLiteral("5.bmp"), timedFrame(0xFFFFFF00).left(30000));
        m_form->tick();
        QCOMPARE(visibleReports().size(), 1);
        QVERIFY(visibleReports().first()->text().contains("481"));
        QCOMPARE(timedSurface().readPixel(0, 0), 0x00FFFFFFu);

        // Once the writer has finished, the next tick picks the frame up.
        writeFrame(QStringLiteral("5.bmp"), timedFrame(0xFFFFFF00));
        m_form->tick();
        QCOMPARE(timedSurface().readPixel(0, 0), 0x0000FFFFu);
    }

    void missingColourLibraryShowsAtTheFirstTest()
    {
        cleanup();
        createForm(false);
        m_form->tick();
        control<QLabel>("lblTirvelDe")->setText(MESSAGE);
        clickTest();
        QCOMPARE(visibleReports().size(), 1);
        QVERIFY(visibleReports().first()->text().contains(ColSumLibrary::fileName()));
        QCOMPARE(count(), 0);
        QCOMPARE(result(), MESSAGE); // the decision never ran
        QVERIFY(m_form->isVisible());

        QVERIFY(
            QFile::copy(QStringLiteral(COLORSUM_PATH), m_dir->filePath(ColSumLibrary::fileName())));
        clickTest();
        QCOMPARE(count(), POINTS_PER_TEST);
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
        QVERIFY(QFile::remove(m_dir->filePath("5.bmp")));
        QVERIFY(QFile::copy(sources.first(), m_dir->filePath("5.bmp")));
        m_form->tick();

        QProcess writer;
        const auto stopWriter = qScopeGuard([&] {
            writer.kill();
            writer.waitForFinished();
        });
        // Written and renamed, as the README asks: every tick waits for a frame that holds still.
        writer.start(QStringLiteral(FRAME_WRITER_PATH),
            QStringList {"--rename", "--fps", "30", m_dir->filePath("5.bmp"), "100000"} + sources);
        QVERIFY(writer.waitForStarted());

        int shown = 0;
        int refused = 0;
        for (int round = 0; round < 60; ++round) {
            const ColourValue before = timedSurface().readPixel(0, 0);
            m_form->tick();
            const ColourValue now = timedSurface().readPixel(0, 0);
            for (int y = 0; y < timedSurface().interiorSize().height(); ++y) {
                for (int x = 0; x < timedSurface().interiorSize().width(); ++x) {
                    if (timedSurface().readPixel(x, y) != now)
                        QFAIL(qPrintable(
                            QStringLiteral("round %1: the frame is not whole at (%2, %3)")
                                .arg(round)
                                .arg(x)
                                .arg(y)));
                }
            }
            const bool reported = !visibleReports().isEmpty();
            if (reported) {
                QCOMPARE(now, before); // a refused frame leaves the one before
                ++refused;
                visibleReports().first()->close();
                QCoreApplication::processEvents();
            } else {
                QVERIFY(std::any_of(colours.begin(), colours.end(),
                    [&](QRgb c) { return colourFromRgb32(c) == now; }));
                ++shown;
            }
            QThread::usleep(700);
        }
        qInfo("%d frames shown whole, %d refused while being written", shown, refused);
        QCOMPARE(refused, 0);
    }

    void exitClosesTheWindowAndStopsTheTimer()
    {
        clickTest();
        QFile::remove(m_dir->filePath("5.bmp"));
        m_form->tick(); // leaves a report open
        QTest::mouseClick(control("cmdExit"), Qt::LeftButton);
        QVERIFY(!m_form->isVisible());
        QVERIFY(!timer()->isActive());
        QVERIFY(visibleReports().isEmpty());
    }
};

TIRVEL_TEST_MAIN(TestMainWindowBehaviour)
#include "tst_main_window_behaviour.moc"
