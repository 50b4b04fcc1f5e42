#include "block_frames.h"
#include "bmp_writer.h"
#include "camera_supervisor.h"
#include "camera_view.h"
#include "colsum_library.h"
#include "demo_scene_camera.h"
#include "detection_state.h"
#include "detector.h"
#include "fake_capture_view.h"
#include "frame_files.h"
#include "main_window.h"
#include "picture_box.h"
#include "test_main.h"
#include "tirvel_error.h"

#include <QAccessible>
#include <QAction>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

using namespace tirvel;
using namespace tirvel::testing;

namespace {

const QString MESSAGE = QStringLiteral("Rörelse har detekterats !");

} // namespace

class TestMainWindowBehaviour : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Detector> m_detector;
    std::unique_ptr<MainWindow> m_form;
    FakeCaptureView *m_view = nullptr;
    int m_beeps = 0;

    template <typename T = QWidget> T *control(const char *name)
    {
        return m_form->findChild<T *>(QLatin1String(name));
    }
    QTimer *timer() { return m_detector->findChild<QTimer *>(QStringLiteral("Timer1")); }
    QString result() { return control<QLabel>("lblTirvelDe")->text(); }
    int count() const { return m_detector->changeCount(); }
    // What a box shows inside its border.
    QImage shown(const char *box)
    {
        const int border = QByteArray(box) == "picBild" ? 2 : 1;
        return control(box)->grab().toImage().copy(
            control(box)->rect().adjusted(border, border, -border, -border));
    }

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
        writeFrame(QStringLiteral("5.bmp"), blockFrame());
        writeFrame(QStringLiteral("6.bmp"), greyFrame());
        if (withLibrary)
            QVERIFY(QFile::copy(
                QStringLiteral(COLORSUM_PATH), m_dir->filePath(ColSumLibrary::fileName())));
        m_view = new FakeCaptureView(viewSize);
        m_beeps = 0;
        m_detector = std::make_unique<Detector>(
            framePaths(m_dir->path()), m_dir->filePath(ColSumLibrary::fileName()));
        m_form = std::make_unique<MainWindow>(m_detector.get(), m_view, [this] { ++m_beeps; });
        connect(m_detector.get(), &Detector::failed, m_form.get(), &MainWindow::reportError);
        m_form->show();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    }

    void clickTest() { QTest::mouseClick(control("Command1"), Qt::LeftButton); }

private Q_SLOTS:
    void init() { createForm(); }

    void cleanup()
    {
        m_form.reset();
        m_detector.reset();
        m_dir.reset();
    }

    void startUpSizesTheFramesFromTheLiveView_data()
    {
        QTest::addColumn<QSize>("view");
        QTest::addColumn<QSize>("timedInterior");
        QTest::addColumn<QSize>("testInterior");
        QTest::newRow("design size") << QSize(160, 120) << QSize(156, 116) << QSize(158, 118);
        QTest::newRow("larger view") << QSize(200, 150) << QSize(196, 146) << QSize(198, 148);
        QTest::newRow("no larger than a border") << QSize(3, 3) << QSize(0, 0) << QSize(1, 1);
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
        QCOMPARE(control<PictureBox>("picBild")->interiorSize(), timedInterior);
        QCOMPARE(control<PictureBox>("picBild2")->interiorSize(), testInterior);
        QCOMPARE(m_detector->timedFrame().interiorSize(), timedInterior);
        QCOMPARE(m_detector->testFrame().interiorSize(), testInterior);
        QCOMPARE(m_detector->scanBounds(), timedInterior);
        QVERIFY(!timer()->isActive());
        QVERIFY(visibleReports().isEmpty());
    }

    void testShowsTheDetectorsFramesAndResult_data()
    {
        QTest::addColumn<int>("sensitivity");
        QTest::addColumn<bool>("detects");
        QTest::newRow("count 30 equals 100 - 70") << 70 << false;
        QTest::newRow("count 30 beats 100 - 71") << 71 << true;
    }

    void testShowsTheDetectorsFramesAndResult()
    {
        QFETCH(int, sensitivity);
        QFETCH(bool, detects);
        QCOMPARE(shown("picBild").pixel(0, 0), rgb32FromColour(START_PICTURE_CORNER));
        m_detector->tick(); // the timed frame from 5.bmp rather than the start picture
        QCOMPARE(shown("picBild").pixel(0, 0), 0xFFFFFFFFu);
        control<QSlider>("Slider1")->setValue(sensitivity);
        clickTest();

        QVERIFY(timer()->isActive());
        QCOMPARE(count(), POINTS_PER_TEST);
        QCOMPARE(result(), detects ? MESSAGE : QString());
        QCOMPARE(m_beeps, detects ? 1 : 0);
        // Green where the block stood, and grey between the marks.
        QCOMPARE(shown("picBild2").pixel(4, 6), 0xFF00C800u);
        QCOMPARE(shown("picBild2").pixel(1, 1), GREY);
    }

    void captureButtonsOnlyCommandTheView()
    {
        m_detector->tick();
        control<QSlider>("Slider1")->setValue(100);
        clickTest();
        const QImage timed = shown("picBild");
        const QImage marked = shown("picBild2");
        m_view->log.clear();

        QTest::mouseClick(control("Command2"), Qt::LeftButton);
        QTest::mouseClick(control("Command3"), Qt::LeftButton);

        QCOMPARE(m_view->log, (QStringList {"frameSizeCommand", "frameRateCommand"}));
        QCOMPARE(count(), POINTS_PER_TEST);
        QCOMPARE(result(), MESSAGE);
        QVERIFY(shown("picBild") == timed);
        QVERIFY(shown("picBild2") == marked);
        QCOMPARE(m_beeps, 1);
    }

    void keyboardPressesTheButtons()
    {
        m_detector->tick();
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
        m_detector->tick();
        clickTest();
        clickTest(); // the count adds up to a detection
        QCOMPARE(result->text(QAccessible::Name), MESSAGE);
        QVERIFY(!result->state().invisible);
        m_detector->tick();
        writeFrame(QStringLiteral("6.bmp"), blockFrame());
        clickTest(); // nothing in the timed frame brighter: no detection
        QCOMPARE(result->text(QAccessible::Name), QString());
        QVERIFY(result->state().invisible);
    }

    void failuresAreReportedInOneReportAndTheWindowStays()
    {
        m_detector->tick();
        control<QSlider>("Slider1")->setValue(100);
        clickTest();
        QFile::remove(m_dir->filePath("6.bmp"));
        clickTest();

        const QList<QMessageBox *> reports = visibleReports();
        QCOMPARE(reports.size(), 1);
        QCOMPARE(reports.first()->windowTitle(), QStringLiteral("Tirvel"));
        QVERIFY2(reports.first()->text().contains("53"), qPrintable(reports.first()->text()));
        QVERIFY(reports.first()->text().contains(m_dir->filePath("6.bmp")));
        // The result and the marks of the earlier test stay.
        QCOMPARE(result(), MESSAGE);
        QCOMPARE(shown("picBild2").pixel(0, 0), 0xFF00C800u);

        // The next failure takes the same report, quietly when there is no display to raise it on.
        QTest::failOnWarning(QRegularExpression("raise"));
        QFile::remove(m_dir->filePath("5.bmp"));
        m_detector->tick();
        QCOMPARE(visibleReports(), reports);
        QVERIFY(reports.first()->text().contains(m_dir->filePath("5.bmp")));
        QVERIFY(m_form->isVisible());
    }

    // The detector on a thread of its own, as the program runs it, with loads of 6.bmp that wait
    // until the test lets each one through.
    void aBlockedLoadHoldsUpOnlyItsResult()
    {
        cleanup();
        createForm();
        m_form.reset();
        QSemaphore letThrough;
        QSemaphore reading;
        auto *detector = new Detector(framePaths(m_dir->path()),
            m_dir->filePath(ColSumLibrary::fileName()), [&](const QString &path) {
                if (path.endsWith(QStringLiteral("6.bmp")))
                    reading.release();
                if (path.endsWith(QStringLiteral("6.bmp")) && !letThrough.tryAcquire(1, 10000))
                    throw TirvelError(ErrorNumber::PathAccessError, QStringLiteral("held"));
                return loadPicture(path);
            });
        QThread thread;
        detector->moveToThread(&thread);
        connect(&thread, &QThread::finished, detector, &QObject::deleteLater);
        thread.start();
        const auto stopThread = qScopeGuard([&] {
            letThrough.release(10);
            thread.quit();
            thread.wait();
        });
        CameraSupervisor camera(std::make_unique<DemoSceneCamera>(), steadyClock());
        MainWindow window(detector, new CameraView(camera), [this] { ++m_beeps; });
        QList<QVariantList> results;
        connect(detector, &Detector::tested, &window, [&results](const TestResult &result) {
            results.append({result.count, result.detected});
        });
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QMetaObject::invokeMethod(detector, &Detector::tick);

        auto *test = window.findChild<QPushButton *>(QStringLiteral("Command1"));
        QTest::mouseClick(test, Qt::LeftButton);
        // A click while the first test reads is a test of its own.
        QVERIFY(reading.tryAcquire(1, 5000));
        QTest::mouseClick(test, Qt::LeftButton);
        QSignalSpy livePictures(&camera, &CameraSupervisor::pictureChanged);
        QTest::qWait(400);
        QVERIFY2(livePictures.size() >= 5, "the live view stood still");
        QVERIFY(results.isEmpty());

        // Both tests run, in the order clicked, on the count of both.
        letThrough.release(2);
        QTRY_COMPARE_WITH_TIMEOUT(results.size(), 2, 5000);
        QCOMPARE(
            results, (QList<QVariantList> {{POINTS_PER_TEST, false}, {2 * POINTS_PER_TEST, true}}));
        QTRY_COMPARE_WITH_TIMEOUT(
            window.findChild<QLabel *>(QStringLiteral("lblTirvelDe"))->text(), MESSAGE, 2000);

        QTest::mouseClick(test, Qt::LeftButton);
        QTest::mouseClick(
            window.findChild<QPushButton *>(QStringLiteral("cmdExit")), Qt::LeftButton);
        QVERIFY(!window.isVisible());
    }

    void watchingIsInTheContextMenuAndTheTitle()
    {
        auto *watch = m_form->findChild<QAction *>(QStringLiteral("watchAction"));
        QVERIFY(watch != nullptr && watch->isCheckable());
        QCOMPARE(m_form->contextMenuPolicy(), Qt::ActionsContextMenu);
        QVERIFY(m_form->actions().contains(watch));
        QSignalSpy requests(m_form.get(), &MainWindow::watchRequested);
        watch->trigger();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first().first().toBool(), true);
        m_form->setWatching(true);
        QCOMPARE(m_form->windowTitle(), QStringLiteral("Tirvel – bevakar"));
        QVERIFY(watch->isChecked());
        m_form->setWatching(false);
        QCOMPARE(m_form->windowTitle(), QStringLiteral("Tirvel"));
        QVERIFY(!watch->isChecked());
    }

    void exitClosesTheWindowAndStopsTheTimer()
    {
        clickTest();
        QFile::remove(m_dir->filePath("5.bmp"));
        m_detector->tick(); // leaves a report open
        QTest::mouseClick(control("cmdExit"), Qt::LeftButton);
        QVERIFY(!m_form->isVisible());
        QVERIFY(!timer()->isActive());
        QVERIFY(visibleReports().isEmpty());
    }
};

TIRVEL_TEST_MAIN(TestMainWindowBehaviour)
#include "tst_main_window_behaviour.moc"
