#include "camera_supervisor.h"
#include "command_line.h"
#include "detector.h"
#include "event.h"
#include "fake_camera_backend.h"
#include "main_window.h"
#include "mask_editor.h"
#include "picture_file.h"
#include "program.h"
#include "settings.h"
#include "test_main.h"
#include "tirvel_error.h"
#include "watcher.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QSemaphore>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>

#include <atomic>

using namespace tirvel;

namespace {

QImage solid(QRgb colour)
{
    QImage image(160, 120, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// The colour a frame file shows, or 0 while it cannot be read.
QRgb colourOf(const QString &path)
{
    try {
        return loadPicture(path).pixel(80, 60);
    } catch (const TirvelError &) {
        return 0;
    }
}

// Tirvel writing the frames of a camera the test drives, on a clock the test moves.
struct CameraProgram
{
    explicit CameraProgram(const QStringList &arguments, Program::Replacements replacements = {},
        const QString &settingsFile = {})
    {
        CommandLine options
            = parseCommandLine(QStringList {"tirvel", "--frames-from-camera", "--directory",
                                   frames.path(), "--events", events.path()}
                    + arguments,
                QStringLiteral(COLORSUM_DIR));
        options.settingsFile = settingsFile;
        auto backend = std::make_unique<FakeCameraBackend>();
        camera = backend.get();
        replacements.camera = std::move(backend);
        replacements.clock = [this] { return now.load(); };
        replacements.beep = [] {};
        program = std::make_unique<Program>(
            options, QStringLiteral(COLORSUM_DIR), std::move(replacements));
        camera->plug({QStringLiteral("cam0"),
            {FormatCandidate {QSize(160, 120), QVideoFrameFormat::Format_YUYV, 0, 30}}, {}});
    }
    QString frame(const QString &name) const { return QDir(frames.path()).filePath(name); }
    // Sends a picture of the colour at the time given, and waits until 6.bmp shows it.
    bool film(QRgb colour, qint64 atMs)
    {
        now = atMs;
        camera->sendFrame(solid(colour));
        return QTest::qWaitFor([&] { return colourOf(frame("6.bmp")) == colour; }, 5000);
    }

    QSlider &slider() { return *program->window().findChild<QSlider *>("Slider1"); }
    void switchWatching() { program->window().findChild<QAction *>("watchAction")->trigger(); }

    QTemporaryDir frames;
    QTemporaryDir events;
    std::atomic<qint64> now = 0;
    FakeCameraBackend *camera = nullptr;
    std::unique_ptr<Program> program;
};

} // namespace

// Tirvel built whole, as the program builds it, on the moving demo scene: what is checked here is
// that the parts reach each other, across their threads.
class TestProgram : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void watchingTheDemoSceneRecordsAnEventWithItsPicture()
    {
        QTemporaryDir frames;
        QTemporaryDir events;
        const CommandLine options = parseCommandLine(
            {"tirvel", "--camera", "test-scene", "--frames-from-camera", "--watch", "--directory",
                frames.path(), "--events", events.path()},
            QStringLiteral(COLORSUM_DIR));
        QCOMPARE(options.action, CommandLine::Action::Run);
        int beeps = 0;
        Program::Replacements replacements;
        replacements.beep = [&beeps] { ++beeps; };
        Program program(options, QStringLiteral(COLORSUM_DIR), std::move(replacements));
        QSignalSpy recorded(&program.watcher(), &Watcher::recorded);
        program.start();
        QTRY_VERIFY_WITH_TIMEOUT(program.window().windowTitle().contains("bevakar"), 2000);

        QTRY_VERIFY_WITH_TIMEOUT(recorded.size() >= 2, 15000);
        QCOMPARE(eventName(recorded.first().first().value<Event>().kind), "watch-on");
        const auto event = recorded.at(1).first().value<Event>();
        QCOMPARE(eventName(event.kind), "motion-start");
        // Its own camera's pictures are watched in memory by default, and the event says where it
        // moved.
        QCOMPARE(event.fields.value("rule").toString(), "scene");
        QCOMPARE(event.fields.value("where").toArray().size(), 4);
        QVERIFY(beeps > 0);
        // The picture reaches its hearers in memory, and is on disk as the log line names it.
        QFile picture(event.picturePath);
        QVERIFY(picture.open(QIODevice::ReadOnly));
        QCOMPARE(picture.readAll(), event.pictureBytes);
        QFile log(QDir(events.path()).filePath("events.jsonl"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains(event.pictureName.toUtf8()));
        // The scene still moves: the end of the program ends the event, in the log too.
        QVERIFY(program.end());
        QVERIFY(log.readAll().contains(R"("event":"motion-end")"));
    }

    // Watching, each test's picture is the next 5.bmp, however the camera's clock runs; stopped
    // from the window, the camera writes 5.bmp again, so a later Test is not against a frozen one.
    void watchingTakesTheTimedFrameFromTestsUntilItStops()
    {
        CameraProgram tirvel({"--watch"});
        QSignalSpy fromTest(&tirvel.program->watcher(), &Watcher::timedFrameDue);
        tirvel.program->start();
        QTRY_VERIFY_WITH_TIMEOUT(!tirvel.camera->activeDeviceId().isEmpty(), 2000);
        QVERIFY(tirvel.film(qRgb(10, 0, 0), 0));
        QTRY_VERIFY_WITH_TIMEOUT(!fromTest.isEmpty(), 5000);
        QVERIFY(tirvel.film(qRgb(20, 0, 0), 2000));
        QCOMPARE(colourOf(tirvel.frame("5.bmp")), qRgb(10, 0, 0));

        tirvel.switchWatching();
        QVERIFY(!tirvel.program->watcher().isWatching());
        QVERIFY(tirvel.film(qRgb(30, 0, 0), 4000));
        QTRY_COMPARE_WITH_TIMEOUT(colourOf(tirvel.frame("5.bmp")), qRgb(30, 0, 0), 2000);
    }

    // A mask given at start reaches the rule that watches the camera's pictures.
    void aMaskLeavesItsPartOfThePictureUnwatched()
    {
        QTemporaryDir dir;
        QImage mask(4, 3, QImage::Format_RGB32);
        mask.fill(Qt::black);
        const QString maskFile = QDir(dir.path()).filePath("mask.png");
        QVERIFY(mask.save(maskFile));
        CameraProgram tirvel({"--watch", "--detection", "scene", "--mask", maskFile});
        QSignalSpy tested(&tirvel.program->detector(), &Detector::tested);
        tirvel.program->start();
        QTRY_VERIFY_WITH_TIMEOUT(!tirvel.camera->activeDeviceId().isEmpty(), 2000);
        // Pictures come on as a camera's do until a test has seen them with the scene learnt.
        const auto learnt = [&tested] {
            return !tested.isEmpty()
                && !tested.last().first().value<TestResult>().explanation.contains("learning");
        };
        for (int picture = 0; !learnt() && picture < 100; ++picture) {
            QVERIFY(tirvel.film(qRgb(picture % 2, 0, 0), 200LL * picture));
            QTest::qWait(100);
        }
        QVERIFY(learnt());
        const auto explanation = tested.last().first().value<TestResult>().explanation;
        QCOMPARE(explanation.value("rule").toString(), "scene");
        const QSize bounds = tirvel.program->detector().scanBounds();
        QCOMPARE(explanation.value("masked").toInt(),
            (bounds.width() / 2 + 1) * (bounds.height() / 2 + 1));
    }

    // A mask drawn in the window is kept beside the settings and comes back at the next start.
    void aDrawnMaskComesBackAtTheNextStart()
    {
        QTemporaryDir config;
        const QString kept = QDir(config.path()).filePath("tirvel.conf");
        {
            CameraProgram tirvel({"--detection", "scene"}, {}, kept);
            tirvel.program->start();
            QTRY_VERIFY_WITH_TIMEOUT(!tirvel.camera->activeDeviceId().isEmpty(), 2000);
            QVERIFY(tirvel.film(qRgb(50, 50, 50), 0));
            tirvel.program->window().findChild<QAction *>("maskAction")->trigger();
            auto *editor = tirvel.program->window().findChild<MaskEditor *>();
            QVERIFY(editor != nullptr);
            MaskCanvas &canvas = editor->canvas();
            canvas.resize(160, 120);
            QTest::mousePress(&canvas, Qt::LeftButton, {}, {1, 1});
            QTest::mouseRelease(&canvas, Qt::LeftButton, {}, {79, 119});
            editor->accept();
            QVERIFY(tirvel.program->end());
        }
        const CommandLine next
            = parseCommandLine(withKeptOptions({"tirvel", "--frames-from-camera"},
                                   readSettings(kept, QStringLiteral(COLORSUM_DIR))),
                QStringLiteral(COLORSUM_DIR));
        QCOMPARE(next.action, CommandLine::Action::Run);
        QCOMPARE(next.mask.size(), QSize(160, 120));
        QCOMPARE(qGray(next.mask.pixel(10, 60)), 0);
        QCOMPARE(qGray(next.mask.pixel(150, 60)), 255);
    }

    // The slider and watching as the person left them come back at the next start, as main()
    // reads them; a value from the command line holds for its run only.
    void choicesComeBackAtTheNextStart()
    {
        QTemporaryDir config;
        const QString kept = QDir(config.path()).filePath("tirvel.conf");
        const auto keptArguments = [&](const QStringList &commandLine = {}) {
            return withKeptOptions(QStringList {"tirvel"} + commandLine,
                readSettings(kept, QStringLiteral(COLORSUM_DIR)))
                .mid(1);
        };
        {
            CameraProgram tirvel({}, {}, kept);
            tirvel.program->start();
            tirvel.slider().setValue(80);
            tirvel.switchWatching();
            QTRY_VERIFY_WITH_TIMEOUT(tirvel.program->watcher().isWatching(), 2000);
            QVERIFY(tirvel.program->end());
        }
        {
            CameraProgram tirvel(keptArguments({"--sensitivity", "30"}), {}, kept);
            QCOMPARE(tirvel.slider().value(), 30);
            QSignalSpy recorded(&tirvel.program->watcher(), &Watcher::recorded);
            tirvel.program->start();
            QTRY_VERIFY_WITH_TIMEOUT(!recorded.isEmpty(), 2000);
            const auto watchOn = recorded.first().first().value<Event>();
            QCOMPARE(eventName(watchOn.kind), "watch-on");
            QCOMPARE(watchOn.fields.value("by").toString(), "restored");
            QVERIFY(tirvel.program->end());
        }
        CameraProgram tirvel(keptArguments(), {}, kept);
        QCOMPARE(tirvel.slider().value(), 80);
    }

    // On a disk so slow that pictures wait more than a second, those that waited are passed
    // over rather than written one by one, so they never pile up.
    void picturesThatWaitedTooLongArePassedOver()
    {
        QSemaphore diskBack;
        std::atomic<int> writes = 0;
        Program::Replacements replacements;
        replacements.beforeEachWrite = [&] {
            if (writes++ == 0)
                diskBack.acquire();
        };
        CameraProgram tirvel({}, std::move(replacements));
        QSignalSpy shown(&tirvel.program->camera(), &CameraSupervisor::pictureChanged);
        tirvel.program->start();
        QTRY_VERIFY_WITH_TIMEOUT(!tirvel.camera->activeDeviceId().isEmpty(), 2000);
        for (int picture = 0; picture < 6; ++picture) {
            tirvel.now = 250LL * picture;
            tirvel.camera->sendFrame(solid(qRgb(1 + picture, 0, 0)));
            QTRY_COMPARE_WITH_TIMEOUT(int(shown.size()), picture + 1, 2000);
        }
        tirvel.now = 10000;
        diskBack.release();
        // The first picture's two frames, then the fresh one's.
        QVERIFY(tirvel.film(qRgb(99, 0, 0), 10000));
        QTRY_COMPARE_WITH_TIMEOUT(writes.load(), 4, 2000);
    }
};

TIRVEL_TEST_MAIN(TestProgram)
#include "tst_program.moc"
