// The real camera supervisor and Qt backend on Qt's own GStreamer camera stack, with fake webcams
// standing in for hardware.

#include "camera_supervisor.h"
#include "fake_gst_camera.h"
#include "qt_camera_backend.h"
#include "test_main.h"

#include <QElapsedTimer>
#include <QTimer>

using namespace tirvel;
using namespace tirvel::fakecam;

Q_DECLARE_METATYPE(FakeCameraMode)

namespace {

// Quick enough for a test, slow enough for a loaded machine to start a pipeline.
constexpr CameraSupervisor::Timing TIMING {2000, 1200, 1000};
constexpr int WAIT_MS = 10000;

// A camera that Qt listed at start stays listed, silent, once pulled out; each test names the
// cameras it watches, as --camera does, so that none sees another's leftovers.
std::unique_ptr<CameraSupervisor> makeCamera(const QString &cameraName, QSize size = {160, 120})
{
    auto camera = std::make_unique<CameraSupervisor>(
        std::make_unique<QtCameraBackend>(), [] { return QDateTime::currentMSecsSinceEpoch(); },
        TIMING);
    camera->setViewSize(size);
    camera->setCameraName(cameraName);
    return camera;
}

bool isShowing(const CameraSupervisor &camera)
{
    return camera.status() == CameraStatus::Showing;
}

// The test pattern moves, so a live picture changes between two looks.
bool pictureMoves(CameraSupervisor &camera)
{
    // A copy: the camera replaces its picture while the test waits.
    const QImage before = camera.picture(); // NOLINT(performance-unnecessary-copy-initialization)
    QTest::qWait(300);
    return isShowing(camera) && camera.picture() != before;
}

} // namespace

class TestCameraGStreamer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        registerFakeCameraPlugin();
        // Announced while Qt's device monitor starts, as the V4L2 provider does for a webcam
        // plugged in before the program.
        addFakeCamera("Present");
    }

    void cleanup()
    {
        for (const char *name :
            {"Present", "Freezer", "Later", "Pair Quiet", "Pair Good", "Held", "Refusing"}) {
            try {
                removeFakeCamera(name);
            } catch (const std::invalid_argument &) {
            }
        }
    }

    void cameraPresentAtStartShows()
    {
        const auto camera = makeCamera("Present");
        QTRY_VERIFY_WITH_TIMEOUT(isShowing(*camera), WAIT_MS);
        QVERIFY(pictureMoves(*camera));
    }

    void frozenCameraIsRestarted()
    {
        addFakeCamera("Freezer", FakeCameraMode::FreezeFirst);
        const auto camera = makeCamera("Freezer");
        QTRY_COMPARE_WITH_TIMEOUT(fakeCameraElementCount("Freezer"), 2, WAIT_MS);
        QTRY_VERIFY_WITH_TIMEOUT(pictureMoves(*camera), WAIT_MS);
    }

    void cameraComesGoesAndReturns()
    {
        const auto camera = makeCamera("Later");
        QTest::qWait(200);
        QCOMPARE(camera->status(), CameraStatus::Waiting);

        addFakeCamera("Later");
        QTRY_VERIFY_WITH_TIMEOUT(isShowing(*camera), WAIT_MS);
        removeFakeCamera("Later");
        QElapsedTimer gone;
        gone.start();
        QTRY_VERIFY_WITH_TIMEOUT(!isShowing(*camera), WAIT_MS);
        QVERIFY2(
            gone.elapsed() < TIMING.stallMs + 1000, qPrintable(QString::number(gone.elapsed())));

        addFakeCamera("Later");
        QTRY_VERIFY_WITH_TIMEOUT(isShowing(*camera), WAIT_MS);
        QVERIFY(pictureMoves(*camera));
    }

    void silentCameraPassedOver()
    {
        addFakeCamera("Pair Quiet", FakeCameraMode::Silent);
        addFakeCamera("Pair Good");
        const auto camera = makeCamera("pair");
        QTRY_VERIFY_WITH_TIMEOUT(isShowing(*camera), WAIT_MS);
        QVERIFY(fakeCameraFrameCount("Pair Good") > 0);
        QCOMPARE(fakeCameraFrameCount("Pair Quiet"), std::uint64_t(0));
    }

    void refusingCameraSaysWhy_data()
    {
        QTest::addColumn<FakeCameraMode>("mode");
        QTest::addColumn<CameraStatus>("status");
        QTest::newRow("busy") << FakeCameraMode::Busy << CameraStatus::Busy;
        QTest::newRow("access refused") << FakeCameraMode::Denied << CameraStatus::AccessDenied;
    }

    void refusingCameraSaysWhy()
    {
        QFETCH(FakeCameraMode, mode);
        QFETCH(CameraStatus, status);
        addFakeCamera("Refusing", mode);
        const auto camera = makeCamera("Refusing");
        QTRY_COMPARE_WITH_TIMEOUT(camera->status(), status, WAIT_MS);
        QVERIFY(!isShowing(*camera));
    }

    void picturesHaveTheLevelsMeant_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("fullRange");
        // JPEG's colorimetry: a webcam's full range, and frames decoded from its JPEG.
        QTest::newRow("YUY2 full range") << "YUY2,colorimetry=(string)1:4:0:0" << true;
        QTest::newRow("I420 full range") << "I420,colorimetry=(string)1:4:0:0" << true;
        QTest::newRow("YUY2 video range") << "YUY2,colorimetry=bt601" << false;
    }

    void picturesHaveTheLevelsMeant()
    {
        QFETCH(QString, format);
        QFETCH(bool, fullRange);
        // A camera of its own for each row: Qt keeps listing one pulled out, with its formats.
        const char *name = QTest::currentDataTag();
        addFakeCamera(name, FakeCameraMode::GreyRamp,
            {"video/x-raw,width=160,height=120,framerate=30/1,format=" + format.toStdString()});
        const auto camera = makeCamera(name);
        QTRY_VERIFY_WITH_TIMEOUT(isShowing(*camera), WAIT_MS);
        for (int band = 0; band < int(GREY_RAMP_LEVELS.size()); ++band) {
            const int level = GREY_RAMP_LEVELS.at(band);
            const int meant = fullRange ? level : std::clamp((level - 16) * 255 / 219, 0, 255);
            // The middle of each band: eight across the 160 pixels.
            const int shown = qGreen(camera->picture().pixel(band * 20 + 10, 60));
            QVERIFY2(std::abs(shown - meant) <= 2,
                qPrintable(QStringLiteral("%1 shown as %2").arg(level).arg(shown)));
        }
        removeFakeCamera(name);
    }

    void commandsNeverStallTheWindow()
    {
#ifdef __SANITIZE_ADDRESS__
        QSKIP("The sanitizer slows every call several times over; the plain build measures the "
              "window's stalls.");
#endif
        addFakeCamera("Held");
        // Larger than the command's size, so the frame-size command restarts the camera.
        const auto camera = makeCamera("Held", {320, 240});
        QTRY_VERIFY_WITH_TIMEOUT(isShowing(*camera), WAIT_MS);
        const int elements = fakeCameraElementCount("Held");

        QElapsedTimer clock;
        qint64 last = 0;
        qint64 longestGap = 0;
        QTimer ticker;
        ticker.setInterval(10);
        connect(&ticker, &QTimer::timeout, [&] {
            longestGap = std::max(longestGap, clock.elapsed() - last);
            last = clock.elapsed();
        });
        clock.start();
        ticker.start();
        QTest::qWait(100);
        camera->frameSizeCommand();
        QTest::qWait(300);
        camera->frameRateCommand();
        QTest::qWait(500);
        ticker.stop();

        QVERIFY2(longestGap < 200, qPrintable(QStringLiteral("stalled %1 ms").arg(longestGap)));
        QCOMPARE(fakeCameraElementCount("Held"), elements + 1);
        QTRY_VERIFY_WITH_TIMEOUT(pictureMoves(*camera), WAIT_MS);
    }
};

TIRVEL_TEST_MAIN(TestCameraGStreamer)
#include "tst_camera_gstreamer.moc"
