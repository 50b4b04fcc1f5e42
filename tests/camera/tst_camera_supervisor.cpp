#include "camera_supervisor.h"
#include "camera_view.h"
#include "fake_camera_backend.h"
#include "format_candidate.h"
#include "frame_throttle.h"
#include "qt_camera_backend.h"
#include "shrink.h"
#include "test_main.h"

#include <QMediaDevices>
#include <QRandomGenerator>
#include <QSignalSpy>

using tirvel::CameraStatus;
using tirvel::CameraSupervisor;
using tirvel::CameraView;
using tirvel::FormatCandidate;
using tirvel::FrameThrottle;

namespace {

constexpr auto YUYV = QVideoFrameFormat::Format_YUYV;
constexpr auto MJPEG = QVideoFrameFormat::Format_Jpeg;
constexpr auto NV12 = QVideoFrameFormat::Format_NV12;

FormatCandidate format(int width, int height, QVideoFrameFormat::PixelFormat pixelFormat,
    float minRate = 30.0f, float maxRate = 30.0f)
{
    return {QSize(width, height), pixelFormat, minRate, maxRate};
}

bool isDark(QRgb pixel)
{
    return qRed(pixel) < 60 && qGreen(pixel) < 60 && qBlue(pixel) < 60;
}

bool isLight(QRgb pixel)
{
    return qRed(pixel) > 150 && qGreen(pixel) > 150 && qBlue(pixel) > 150;
}

bool isRed(QRgb pixel)
{
    return qRed(pixel) > 200 && qGreen(pixel) < 60 && qBlue(pixel) < 60;
}

QImage solid(QSize size, Qt::GlobalColor colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QString describe(QRgb pixel)
{
    return QStringLiteral("rgb(%1, %2, %3)").arg(qRed(pixel)).arg(qGreen(pixel)).arg(qBlue(pixel));
}

// The bounding box of the light pixels, empty when there are none.
QRect lightArea(const QImage &image)
{
    QRect area;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (isLight(image.pixel(x, y)))
                area |= QRect(x, y, 1, 1);
        }
    }
    return area;
}

bool isShowing(const CameraSupervisor &camera)
{
    return camera.status() == CameraStatus::Showing;
}

void verifyPlaceholder(CameraView &view)
{
    const QImage shot = view.grab().toImage();
    const QRect inner = shot.rect().adjusted(0, 0, -1, -1);
    for (QPoint corner :
        {inner.topLeft(), inner.topRight(), inner.bottomLeft(), inner.bottomRight()})
        QVERIFY2(isDark(shot.pixel(corner)), qPrintable(describe(shot.pixel(corner))));
    const QRect text = lightArea(shot);
    QVERIFY2(text.width() > 20 && text.height() > 4, "no light text on the placeholder");
    const QPoint offset = text.center() - shot.rect().center();
    QVERIFY2(qAbs(offset.x()) <= 3 && qAbs(offset.y()) <= 3, "the placeholder text is not centred");
}

FakeCameraBackend::Device camera(
    const QString &id, std::optional<tirvel::CameraFault> diagnosis = std::nullopt)
{
    // As Qt 6.4 lists a webcam: every range starts at 0.
    const QList<FormatCandidate> formats {
        format(1280, 720, MJPEG, 0, 30),
        format(640, 480, YUYV, 0, 30),
        format(160, 120, MJPEG, 0, 30),
        format(160, 120, YUYV, 0, 30),
        format(160, 120, YUYV, 0, 15),
        format(320, 240, YUYV, 0, 30),
    };
    return {id, formats, diagnosis};
}

// What a view of another size (320 x 240) starts a camera() in, against the design size's 3.
constexpr qsizetype LARGER_VIEW_START = 5;

enum class Command { FrameSize, FrameRate };
enum class CameraLoss { UnplugActive, UnplugLeavingStale, GoSilent, UnplugOther };

// Short enough to keep the suite quick, long enough that a frame sent at once always beats it.
constexpr CameraSupervisor::Timing FAST {300, 300, 400};
constexpr int WAIT_MS = 3000;

} // namespace

Q_DECLARE_METATYPE(tirvel::FormatCandidate)
Q_DECLARE_METATYPE(Command)
Q_DECLARE_METATYPE(CameraLoss)
Q_DECLARE_METATYPE(std::optional<tirvel::CameraFault>)

class TestCameraSupervisor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A camera's noise falls with the scale: a 4 x 4 block averages it to a quarter, where
    // sampling between neighbours keeps about half; a flat colour stays exactly itself.
    void shrinkingAveragesNoiseAway_data()
    {
        QTest::addColumn<QSize>("from");
        QTest::addColumn<QSize>("to");
        QTest::addColumn<double>("deviationAtMost");
        QTest::newRow("640 x 480 to the design size") << QSize(640, 480) << QSize(160, 120) << 2.3;
        QTest::newRow("1280 x 720, not a whole ratio") << QSize(1280, 720) << QSize(156, 88) << 1.2;
        QTest::newRow("one pixel more") << QSize(161, 121) << QSize(160, 120) << 8.5;
    }

    void shrinkingAveragesNoiseAway()
    {
        QFETCH(QSize, from);
        QFETCH(QSize, to);
        QFETCH(double, deviationAtMost);
        QImage noisy(from, QImage::Format_RGB32);
        QRandomGenerator random(7);
        for (int y = 0; y < from.height(); ++y) {
            for (int x = 0; x < from.width(); ++x) {
                // Uniform over 128 - 13 … 128 + 14: a deviation of about 8.
                const int grey = 128 + int(random.bounded(28)) - 13;
                noisy.setPixel(x, y, qRgb(grey, 100, 60));
            }
        }
        const QImage shrunk = tirvel::shrinkByAveraging(noisy, to);
        QCOMPARE(shrunk.size(), to);
        double sum = 0;
        double squares = 0;
        for (int y = 0; y < to.height(); ++y) {
            for (int x = 0; x < to.width(); ++x) {
                const QRgb pixel = shrunk.pixel(x, y);
                QCOMPARE(qGreen(pixel), 100);
                QCOMPARE(qBlue(pixel), 60);
                sum += qRed(pixel);
                squares += qRed(pixel) * qRed(pixel);
            }
        }
        const double count = to.width() * to.height();
        const double mean = sum / count;
        QVERIFY2(std::abs(mean - 128.5) < 1, qPrintable(QString::number(mean)));
        const double deviation = std::sqrt(squares / count - mean * mean);
        QVERIFY2(deviation <= deviationAtMost, qPrintable(QString::number(deviation)));
    }

    void startFormatChoice_data();
    void startFormatChoice();
    void frameSizeChoice_data();
    void frameSizeChoice();
    void frameRateChoice_data();
    void frameRateChoice();

    void throttle_data();
    void throttle();
    void throttleHoldsRateUnderJitter();

    void viewPaintsPictureOrReason();
    void hotPlugStartsCameraAndShowsFrames_data();
    void hotPlugStartsCameraAndShowsFrames();
    void cameraLoss_data();
    void cameraLoss();
    void silentCameraDiagnosedAndPassedOver_data();
    void silentCameraDiagnosedAndPassedOver();
    void failedCameraTriedAgain();
    void commandsChooseStartFormat_data();
    void commandsChooseStartFormat();
    void commandRestartsRunningCameraOnlyWhenFormatChanges();
    void frameRateCommandThrottlesPicture();
    void realBackendWithoutCamera();

private:
    struct Fixture
    {
        FakeCameraBackend *fake = nullptr;
        std::unique_ptr<CameraSupervisor> camera;
    };

    Fixture makeCamera();

    qint64 m_now = 0;
};

TestCameraSupervisor::Fixture TestCameraSupervisor::makeCamera()
{
    m_now = 0;
    auto fake = std::make_unique<FakeCameraBackend>();
    Fixture fixture;
    fixture.fake = fake.get();
    fixture.camera = std::make_unique<CameraSupervisor>(
        std::move(fake), [this] { return m_now; }, FAST);
    return fixture;
}

void TestCameraSupervisor::startFormatChoice_data()
{
    QTest::addColumn<QList<FormatCandidate>>("formats");
    QTest::addColumn<QSize>("view");
    QTest::addColumn<int>("expected");

    const QSize design(160, 120);
    QTest::newRow("empty list") << QList<FormatCandidate> {} << design << -1;
    QTest::newRow("YUYV before JPEG")
        << QList {format(160, 120, MJPEG), format(160, 120, YUYV)} << design << 1;
    QTest::newRow("any uncompressed before JPEG")
        << QList {format(160, 120, MJPEG), format(160, 120, NV12)} << design << 1;
    QTest::newRow("size before pixel format")
        << QList {format(640, 480, YUYV), format(176, 144, MJPEG)} << design << 1;
    QTest::newRow("follows the view")
        << QList {format(160, 120, YUYV), format(320, 240, YUYV), format(640, 480, YUYV)}
        << QSize(200, 150) << 1;
    QTest::newRow("largest when none covers")
        << QList {format(80, 60, YUYV), format(120, 90, YUYV)} << design << 1;
}

void TestCameraSupervisor::startFormatChoice()
{
    QFETCH(QList<FormatCandidate>, formats);
    QFETCH(QSize, view);
    QFETCH(int, expected);
    QCOMPARE(tirvel::chooseStartFormat(formats, view).value_or(-1), expected);
}

void TestCameraSupervisor::frameSizeChoice_data()
{
    QTest::addColumn<QList<FormatCandidate>>("formats");
    QTest::addColumn<FormatCandidate>("current");
    QTest::addColumn<int>("expected");

    const FormatCandidate yuyv = format(640, 480, YUYV);
    QTest::newRow("empty list") << QList<FormatCandidate> {} << yuyv << -1;
    QTest::newRow("exact size among larger")
        << QList {format(640, 480, YUYV), format(176, 144, YUYV), format(160, 120, YUYV)} << yuyv
        << 2;
    QTest::newRow("smallest covering") << QList {format(640, 480, YUYV), format(176, 144, YUYV),
        format(320, 240, YUYV)} << yuyv << 1;
    QTest::newRow("covering needs both dimensions")
        << QList {format(320, 119, YUYV), format(640, 480, YUYV)} << yuyv << 1;
    QTest::newRow("one pixel short is below, one over covers") << QList {format(160, 119, YUYV),
        format(161, 120, YUYV), format(320, 240, YUYV)} << yuyv << 1;
    QTest::newRow("largest below")
        << QList {format(80, 60, YUYV), format(128, 96, YUYV), format(120, 90, YUYV)} << yuyv << 1;
    QTest::newRow("pixel format kept")
        << QList {format(160, 120, YUYV), format(160, 120, MJPEG)} << format(640, 480, MJPEG) << 1;
    QTest::newRow("pixel format not offered, uncompressed of the size")
        << QList {format(640, 480, NV12), format(160, 120, MJPEG), format(160, 120, YUYV)}
        << format(640, 480, NV12) << 2;
    QTest::newRow("size before pixel format")
        << QList {format(320, 240, MJPEG), format(160, 120, YUYV)} << format(640, 480, MJPEG) << 1;
    QTest::newRow("empty resolution skipped")
        << QList {format(0, 0, YUYV), format(640, 480, YUYV)} << yuyv << 1;
    QTest::newRow("only empty resolutions") << QList {format(0, 0, YUYV)} << yuyv << -1;
}

void TestCameraSupervisor::frameSizeChoice()
{
    QFETCH(QList<FormatCandidate>, formats);
    QFETCH(FormatCandidate, current);
    QFETCH(int, expected);
    QCOMPARE(tirvel::chooseFrameSizeFormat(formats, current).value_or(-1), expected);
}

void TestCameraSupervisor::frameRateChoice_data()
{
    QTest::addColumn<QList<FormatCandidate>>("formats");
    QTest::addColumn<FormatCandidate>("current");
    QTest::addColumn<int>("expected");

    const FormatCandidate vga = format(640, 480, YUYV, 30, 30);
    QTest::newRow("empty list") << QList<FormatCandidate> {} << vga << -1;
    QTest::newRow("range holding 5")
        << QList {format(640, 480, YUYV, 15, 30), format(640, 480, YUYV, 5, 30)} << vga << 1;
    QTest::newRow("5 at the top of a range")
        << QList {format(640, 480, YUYV, 10, 30), format(640, 480, YUYV, 1, 5)} << vga << 1;
    QTest::newRow("exactly 5") << QList {format(640, 480, YUYV, 6, 6), format(640, 480, YUYV, 5, 5)}
                               << vga << 1;
    QTest::newRow("other resolutions ignored")
        << QList {format(160, 120, YUYV, 5, 30), format(640, 480, YUYV, 15, 30)} << vga << 1;
    QTest::newRow("lowest rate when none holds 5") << QList {format(640, 480, YUYV, 30, 30),
        format(640, 480, YUYV, 15, 15), format(640, 480, YUYV, 20, 20)}
                                                   << vga << 1;
    QTest::newRow("nearest when all are slower")
        << QList {format(640, 480, YUYV, 1, 2), format(640, 480, YUYV, 3, 3)} << vga << 1;
    QTest::newRow("pixel format kept among those holding 5")
        << QList {format(640, 480, MJPEG, 5, 30), format(640, 480, YUYV, 5, 30)} << vga << 1;
    QTest::newRow("rate before pixel format")
        << QList {format(640, 480, YUYV, 15, 30), format(640, 480, MJPEG, 5, 30)} << vga << 1;
    QTest::newRow("lower top rate preferred")
        << QList {format(640, 480, YUYV, 5, 30), format(640, 480, YUYV, 5, 10)} << vga << 1;
    QTest::newRow("ranges from 0, as Qt 6.4 lists them: lower top rate")
        << QList {format(640, 480, YUYV, 0, 30), format(640, 480, YUYV, 0, 15)} << vga << 1;
    QTest::newRow("ranges from 0: pixel format kept")
        << QList {format(640, 480, MJPEG, 0, 30), format(640, 480, YUYV, 0, 30)} << vga << 1;
    QTest::newRow("unknown resolution keeps the largest") << QList {format(160, 120, YUYV, 5, 30),
        format(640, 480, YUYV, 5, 30), format(320, 240, YUYV, 15, 30)}
                                                          << FormatCandidate {} << 1;
}

void TestCameraSupervisor::frameRateChoice()
{
    QFETCH(QList<FormatCandidate>, formats);
    QFETCH(FormatCandidate, current);
    QFETCH(int, expected);
    QCOMPARE(tirvel::chooseFrameRateFormat(formats, current).value_or(-1), expected);
}

void TestCameraSupervisor::throttle_data()
{
    QTest::addColumn<qint64>("interval");
    QTest::addColumn<QList<qint64>>("arrivals");
    QTest::addColumn<QList<bool>>("admitted");

    QTest::newRow("no interval") << qint64(0) << QList<qint64> {0, 0, 1, 2}
                                 << QList<bool> {true, true, true, true};
    QTest::newRow("one per interval") << qint64(200) << QList<qint64> {0, 100, 199, 200, 399, 400}
                                      << QList<bool> {true, false, false, true, false, true};
    QTest::newRow("late frame forgiven by up to a tenth")
        << qint64(200) << QList<qint64> {0, 215, 399, 400} << QList<bool> {true, true, false, true};
    QTest::newRow("very late frame forgiven only a tenth")
        << qint64(200) << QList<qint64> {0, 500, 679, 680} << QList<bool> {true, true, false, true};
}

void TestCameraSupervisor::throttle()
{
    QFETCH(qint64, interval);
    QFETCH(QList<qint64>, arrivals);
    QFETCH(QList<bool>, admitted);

    FrameThrottle throttle;
    throttle.setInterval(interval);
    for (qsizetype i = 0; i < arrivals.size(); ++i) {
        QVERIFY2(throttle.admit(arrivals[i]) == admitted[i],
            qPrintable(QStringLiteral("frame at %1 ms").arg(arrivals[i])));
    }
}

void TestCameraSupervisor::throttleHoldsRateUnderJitter()
{
    // A 30 frames a second camera whose frames come up to 4 ms early or late, for 60 seconds.
    FrameThrottle throttle;
    throttle.setInterval(200);
    quint32 seed = 12345;
    int admitted = 0;
    for (int i = 0; i < 1800; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const qint64 jitter = qint64(seed >> 29) - 4;
        if (throttle.admit(i * 1000 / 30 + jitter))
            ++admitted;
    }
    QVERIFY2(admitted >= 295 && admitted <= 301, qPrintable(QString::number(admitted)));
}

void TestCameraSupervisor::viewPaintsPictureOrReason()
{
    Fixture fixture = makeCamera();
    CameraView view(*fixture.camera);
    QVERIFY(fixture.fake->starts().isEmpty());
    QCOMPARE(view.placeholderText(), QStringLiteral("Ingen kamera"));
    verifyPlaceholder(view);

    fixture.camera->setCameraName(QStringLiteral("Later"));
    QCOMPARE(view.placeholderText(), QStringLiteral("Väntar på kameran \u201CLater\u201D"));
    fixture.fake->plug(camera("Later"));
    QTRY_COMPARE_WITH_TIMEOUT(view.placeholderText(), QStringLiteral("Startar kameran …"), WAIT_MS);
    fixture.fake->sendFrame(solid({320, 120}, Qt::red));
    QCOMPARE(view.placeholderText(), QString());
    const QImage shot = view.grab().toImage();
    QVERIFY2(isRed(shot.pixel(80, 60)), qPrintable(describe(shot.pixel(80, 60))));
    QVERIFY2(isDark(shot.pixel(80, 10)), qPrintable(describe(shot.pixel(80, 10))));
}

void TestCameraSupervisor::hotPlugStartsCameraAndShowsFrames_data()
{
    QTest::addColumn<QSize>("frameSize");
    QTest::addColumn<QPoint>("insidePicture");
    QTest::addColumn<QPoint>("outsidePicture");

    // The view is 160 x 120.
    QTest::newRow("same aspect") << QSize(320, 240) << QPoint(2, 2) << QPoint(-1, -1);
    QTest::newRow("wide, bars above and below")
        << QSize(320, 120) << QPoint(80, 60) << QPoint(80, 10);
    QTest::newRow("tall, bars left and right")
        << QSize(60, 120) << QPoint(80, 60) << QPoint(10, 60);
}

void TestCameraSupervisor::hotPlugStartsCameraAndShowsFrames()
{
    QFETCH(QSize, frameSize);
    QFETCH(QPoint, insidePicture);
    QFETCH(QPoint, outsidePicture);

    Fixture fixture = makeCamera();
    fixture.fake->plug(camera("cam0"));
    QTRY_COMPARE_WITH_TIMEOUT(fixture.fake->activeDeviceId(), QStringLiteral("cam0"), WAIT_MS);

    fixture.fake->sendFrame(solid(frameSize, Qt::red));
    QVERIFY(isShowing(*fixture.camera));
    const QImage shot = fixture.camera->picture();
    QVERIFY2(isRed(shot.pixel(insidePicture)), qPrintable(describe(shot.pixel(insidePicture))));
    if (shot.rect().contains(outsidePicture)) {
        QVERIFY2(
            isDark(shot.pixel(outsidePicture)), qPrintable(describe(shot.pixel(outsidePicture))));
    }
}

void TestCameraSupervisor::cameraLoss_data()
{
    QTest::addColumn<CameraLoss>("loss");
    QTest::addColumn<bool>("secondCamera");
    QTest::addColumn<QString>("activeAfter");
    QTest::addColumn<CameraStatus>("status");

    const CameraStatus silent = CameraStatus::Silent;
    const CameraStatus showing = CameraStatus::Showing;
    QTest::newRow("unplugged") << CameraLoss::UnplugActive << false << "" << CameraStatus::NoCamera;
    QTest::newRow("unplugged, a stale entry stays")
        << CameraLoss::UnplugLeavingStale << false << "" << silent;
    QTest::newRow("goes silent") << CameraLoss::GoSilent << false << "" << silent;
    QTest::newRow("unplugged, another takes over")
        << CameraLoss::UnplugActive << true << "cam1" << showing;
    QTest::newRow("goes silent, another takes over")
        << CameraLoss::GoSilent << true << "cam1" << showing;
    QTest::newRow("another unplugged") << CameraLoss::UnplugOther << true << "cam0" << showing;
}

void TestCameraSupervisor::cameraLoss()
{
    QFETCH(CameraLoss, loss);
    QFETCH(bool, secondCamera);
    QFETCH(QString, activeAfter);
    QFETCH(CameraStatus, status);

    Fixture fixture = makeCamera();
    QSignalSpy statuses(fixture.camera.get(), &CameraSupervisor::statusChanged);
    fixture.fake->plug(camera("cam0"));
    if (secondCamera)
        fixture.fake->plug(camera("cam1"));
    QTRY_COMPARE_WITH_TIMEOUT(fixture.fake->activeDeviceId(), QStringLiteral("cam0"), WAIT_MS);
    fixture.fake->sendFrame(solid({160, 120}, Qt::red));
    QVERIFY(isShowing(*fixture.camera));

    if (loss == CameraLoss::UnplugActive || loss == CameraLoss::UnplugLeavingStale)
        fixture.fake->unplug("cam0", loss == CameraLoss::UnplugLeavingStale);
    else if (loss == CameraLoss::UnplugOther)
        fixture.fake->unplug("cam1");
    // Nothing more is sent from cam0 in any case; only the watchdog can tell a silent camera.
    QTRY_COMPARE_WITH_TIMEOUT(fixture.fake->activeDeviceId(), activeAfter, WAIT_MS);
    if (activeAfter.isEmpty()) {
        QTRY_VERIFY_WITH_TIMEOUT(!isShowing(*fixture.camera), WAIT_MS);
        QVERIFY(fixture.camera->picture().isNull());
    } else if (activeAfter == QStringLiteral("cam0")) {
        // Kept alive past the watchdog by its frames.
        for (int i = 0; i < 8; ++i) {
            QTest::qWait(FAST.stallMs / 3);
            fixture.fake->sendFrame(solid({160, 120}, Qt::red));
        }
        QCOMPARE(fixture.fake->starts().size(), 1);
        QVERIFY(isShowing(*fixture.camera));
    } else {
        fixture.fake->sendFrame(solid({160, 120}, Qt::blue));
        QVERIFY(fixture.camera->picture().pixel(80, 60) == QColor(Qt::blue).rgb());
    }
    QCOMPARE(fixture.camera->status(), status);
    // Every change was said, and the last thing said is how it stands.
    QVERIFY(!statuses.isEmpty());
    QCOMPARE(statuses.last().first().value<CameraStatus>(), status);
}

void TestCameraSupervisor::silentCameraDiagnosedAndPassedOver_data()
{
    QTest::addColumn<std::optional<tirvel::CameraFault>>("diagnosis");
    QTest::addColumn<CameraStatus>("status");

    QTest::newRow("nothing found") << std::optional<tirvel::CameraFault> {} << CameraStatus::Silent;
    QTest::newRow("busy") << std::optional(tirvel::CameraFault::Busy) << CameraStatus::Busy;
    QTest::newRow("access refused")
        << std::optional(tirvel::CameraFault::AccessDenied) << CameraStatus::AccessDenied;
}

void TestCameraSupervisor::silentCameraDiagnosedAndPassedOver()
{
    QFETCH(std::optional<tirvel::CameraFault>, diagnosis);
    QFETCH(CameraStatus, status);

    Fixture fixture = makeCamera();
    fixture.fake->plug(camera("cam0", diagnosis));
    QTRY_VERIFY_WITH_TIMEOUT(!fixture.fake->diagnoses().isEmpty(), WAIT_MS);
    QCOMPARE(fixture.fake->diagnoses().constFirst(), QStringLiteral("cam0"));
    QTRY_COMPARE_WITH_TIMEOUT(fixture.camera->status(), status, WAIT_MS);
    QVERIFY(fixture.fake->activeDeviceId().isEmpty());

    fixture.fake->plug(camera("cam1"));
    QTRY_COMPARE_WITH_TIMEOUT(fixture.fake->activeDeviceId(), QStringLiteral("cam1"), WAIT_MS);
    fixture.fake->sendFrame(solid({160, 120}, Qt::red));
    QVERIFY(isShowing(*fixture.camera));
}

void TestCameraSupervisor::failedCameraTriedAgain()
{
    // A camera stuck on its first frame only recovers when started again.
    Fixture fixture = makeCamera();
    fixture.fake->plug(camera("cam0"));
    QTRY_COMPARE_WITH_TIMEOUT(fixture.fake->activeDeviceId(), QStringLiteral("cam0"), WAIT_MS);
    fixture.fake->sendFrame(solid({160, 120}, Qt::red));
    QTRY_VERIFY_WITH_TIMEOUT(!isShowing(*fixture.camera), WAIT_MS);
    QTRY_COMPARE_WITH_TIMEOUT(fixture.fake->starts().size(), 2, WAIT_MS);
    fixture.fake->sendFrame(solid({160, 120}, Qt::blue));
    QVERIFY(isShowing(*fixture.camera));
}

void TestCameraSupervisor::commandsChooseStartFormat_data()
{
    QTest::addColumn<QSize>("viewSize");
    QTest::addColumn<QList<Command>>("commands");
    QTest::addColumn<qsizetype>("started");

    // Positions as in camera(): 3 is 160 x 120 YUYV, the smallest uncompressed cover.
    const QSize design(160, 120);
    QTest::newRow("none") << design << QList<Command> {} << qsizetype(3);
    QTest::newRow("size") << design << QList {Command::FrameSize} << qsizetype(3);
    QTest::newRow("rate") << design << QList {Command::FrameRate} << qsizetype(4);
    QTest::newRow("size then rate")
        << design << QList {Command::FrameSize, Command::FrameRate} << qsizetype(4);
    QTest::newRow("larger view") << QSize(320, 240) << QList<Command> {} << LARGER_VIEW_START;
    QTest::newRow("larger view, size")
        << QSize(320, 240) << QList {Command::FrameSize} << qsizetype(3);
    QTest::newRow("larger view, rate")
        << QSize(320, 240) << QList {Command::FrameRate} << LARGER_VIEW_START;
    QTest::newRow("larger view, rate then size")
        << QSize(320, 240) << QList {Command::FrameRate, Command::FrameSize} << qsizetype(3);
}

void TestCameraSupervisor::commandsChooseStartFormat()
{
    QFETCH(QSize, viewSize);
    QFETCH(QList<Command>, commands);
    QFETCH(qsizetype, started);

    Fixture fixture = makeCamera();
    fixture.camera->setViewSize(viewSize);
    for (Command command : commands) {
        if (command == Command::FrameSize)
            fixture.camera->frameSizeCommand();
        else
            fixture.camera->frameRateCommand();
    }
    QVERIFY(fixture.fake->starts().isEmpty());

    fixture.fake->plug(camera("cam0"));
    QTRY_COMPARE_WITH_TIMEOUT(fixture.fake->starts().size(), 1, WAIT_MS);
    QCOMPARE(fixture.fake->starts().constFirst().second, started);
}

void TestCameraSupervisor::commandRestartsRunningCameraOnlyWhenFormatChanges()
{
    Fixture fixture = makeCamera();
    fixture.camera->setViewSize({320, 240});
    fixture.fake->plug(camera("cam0"));
    QTRY_COMPARE_WITH_TIMEOUT(fixture.fake->starts().size(), 1, WAIT_MS);
    fixture.fake->sendFrame(solid({160, 120}, Qt::red));

    fixture.camera->frameRateCommand();
    QCOMPARE(fixture.fake->starts().size(), 1);
    fixture.camera->frameSizeCommand();
    QCOMPARE(fixture.fake->starts().size(), 2);
    QCOMPARE(
        fixture.fake->starts().constLast(), std::make_pair(QStringLiteral("cam0"), qsizetype(3)));
    // The last picture stays up until the restarted camera sends its first.
    QVERIFY(isShowing(*fixture.camera));
    fixture.camera->frameSizeCommand();
    QCOMPARE(fixture.fake->starts().size(), 2);
}

void TestCameraSupervisor::frameRateCommandThrottlesPicture()
{
    Fixture fixture = makeCamera();
    fixture.fake->plug(camera("cam0"));
    QTRY_COMPARE_WITH_TIMEOUT(fixture.fake->activeDeviceId(), QStringLiteral("cam0"), WAIT_MS);
    auto centre = [&] { return fixture.camera->picture().pixel(80, 60); };

    const struct
    {
        qint64 at;
        Qt::GlobalColor colour;
        bool rateCommandBefore;
        Qt::GlobalColor shown;
    } steps[] = {
        {0, Qt::red, false, Qt::red},
        {40, Qt::blue, false, Qt::blue}, // every frame shows before the command
        {80, Qt::green, true, Qt::green}, // the first one after it shows
        {200, Qt::red, false, Qt::green}, // 120 ms later: dropped
        {279, Qt::blue, false, Qt::green}, // 199 ms later: dropped
        {280, Qt::red, false, Qt::red},
    };
    for (const auto &step : steps) {
        if (step.rateCommandBefore)
            fixture.camera->frameRateCommand();
        m_now = step.at;
        fixture.fake->sendFrame(solid({160, 120}, step.colour));
        QVERIFY2(centre() == QColor(step.shown).rgb(),
            qPrintable(QStringLiteral("at %1 ms: %2").arg(step.at).arg(describe(centre()))));
    }
}

void TestCameraSupervisor::realBackendWithoutCamera()
{
    if (!QMediaDevices::videoInputs().isEmpty())
        QSKIP("a camera is present");

    CameraSupervisor supervisor(std::make_unique<tirvel::QtCameraBackend>(), [] { return 0; });
    supervisor.frameSizeCommand();
    supervisor.frameRateCommand();
    QTest::qWait(100);
    QCOMPARE(supervisor.status(), CameraStatus::NoCamera);

    tirvel::QtCameraBackend backend;
    QSignalSpy failures(&backend, &tirvel::CameraBackend::failed);
    backend.start(QStringLiteral("no-such-camera"), 0);
    QVERIFY(failures.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(failures.size(), 1, WAIT_MS);
    QVERIFY(backend.formats(QStringLiteral("no-such-camera")).isEmpty());
    backend.stop();
}

TIRVEL_TEST_MAIN(TestCameraSupervisor)

#include "tst_camera_supervisor.moc"
