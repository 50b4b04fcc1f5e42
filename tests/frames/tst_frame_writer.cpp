#include "camera_supervisor.h"
#include "demo_scene.h"
#include "detection_state.h"
#include "fake_camera_backend.h"
#include "frame_writer.h"
#include "mount_namespace.h"
#include "picture_file.h"
#include "picture_surface.h"
#include "test_main.h"
#include "tirvel_error.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <QScopeGuard>

#include <sys/mount.h>
#include <unistd.h>

#include <cstring>

#include <atomic>
#include <thread>

using namespace tirvel;

namespace {

struct Stored
{
    QString name;
    qint64 at;
    QRgb colour;
};

FakeCameraBackend::Device fakeCamera()
{
    return {QStringLiteral("cam0"),
        {FormatCandidate {QSize(160, 120), QVideoFrameFormat::Format_YUYV, 0, 30}}, {}};
}

QImage solid(QRgb colour)
{
    QImage image(160, 120, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// Not the program's, so that the writer is seen to keep the lag it is given.
constexpr qint64 LAG_ALLOWED_MS = 40;

} // namespace

class TestFrameWriter : public QObject
{
    Q_OBJECT

private:
    qint64 m_now = 0;
    QList<Stored> m_stored;
    QStringList m_failingFiles;

    std::unique_ptr<FrameWriter> m_writer;

    // A fake camera feeding a writer that records instead of writing, failing when told, wired
    // as the program wires them, on one clock.
    std::unique_ptr<CameraSupervisor> makeCamera(FakeCameraBackend *&fake)
    {
        m_now = 0;
        m_stored.clear();
        auto backend = std::make_unique<FakeCameraBackend>();
        fake = backend.get();
        const Clock clock = [this] { return m_now; };
        auto camera = std::make_unique<CameraSupervisor>(std::move(backend), clock);
        m_writer = std::make_unique<FrameWriter>(
            QStringLiteral("/frames"), clock, [this](const QString &path, const QByteArray &bytes) {
                if (m_failingFiles.contains(QFileInfo(path).fileName()))
                    return QStringLiteral("No space left on device");
                const QImage image = QImage::fromData(bytes, "BMP");
                m_stored.append({QFileInfo(path).fileName(), m_now, image.pixel(80, 60)});
                return QString();
            });
        connect(
            camera.get(), &CameraSupervisor::pictureChanged, m_writer.get(), &FrameWriter::write);
        fake->plug(fakeCamera());
        return camera;
    }

    QList<qint64> times(const QString &name) const
    {
        QList<qint64> at;
        for (const Stored &stored : m_stored) {
            if (stored.name == name)
                at << stored.at;
        }
        return at;
    }

private Q_SLOTS:
    void writesAtTheirRates_data()
    {
        QTest::addColumn<bool>("fiveFramesASecond");
        QTest::newRow("camera at full rate") << false;
        QTest::newRow("after 5 bild/sek") << true;
    }

    void writesAtTheirRates()
    {
        QFETCH(bool, fiveFramesASecond);
        FakeCameraBackend *fake = nullptr;
        const auto camera = makeCamera(fake);
        QTRY_VERIFY_WITH_TIMEOUT(!fake->activeDeviceId().isEmpty(), 2000);
        if (fiveFramesASecond)
            camera->frameRateCommand();

        // Ten seconds of a camera at 30 frames a second, each frame its own colour.
        QList<QRgb> shown;
        for (m_now = 0; m_now < 10'000; m_now += 33) {
            const QRgb colour = qRgb(int(m_now / 33 % 256), 40, 90);
            fake->sendFrame(solid(colour));
            if (camera->picture().pixel(80, 60) == colour)
                shown << colour;
        }
        const QList<qint64> test = times("6.bmp");
        const QList<qint64> timed = times("5.bmp");
        QVERIFY2(test.size() >= 45 && test.size() <= 51, qPrintable(QString::number(test.size())));
        QVERIFY2(timed.size() == 10, qPrintable(QString::number(timed.size())));
        for (qsizetype i = 5; i < test.size(); ++i)
            QVERIFY2(test[i] - test[i - 5] >= 950, "more than five test frames in a second");
        if (fiveFramesASecond) {
            QList<QRgb> written;
            for (const Stored &stored : std::as_const(m_stored)) {
                if (stored.name == "6.bmp")
                    written << stored.colour;
            }
            QCOMPARE(written, shown);
        }
    }

    void eachFailingFileReportedOnceUntilWritten_data()
    {
        QTest::addColumn<QStringList>("failing");
        QTest::newRow("5.bmp, while 6.bmp is written") << QStringList {"5.bmp"};
        QTest::newRow("6.bmp, while 5.bmp is written") << QStringList {"6.bmp"};
        QTest::newRow("both") << QStringList {"5.bmp", "6.bmp"};
    }

    void eachFailingFileReportedOnceUntilWritten()
    {
        QFETCH(QStringList, failing);
        FakeCameraBackend *fake = nullptr;
        const auto camera = makeCamera(fake);
        QTRY_VERIFY_WITH_TIMEOUT(!fake->activeDeviceId().isEmpty(), 2000);
        QSignalSpy reports(m_writer.get(), &FrameWriter::failed);

        // Five seconds of a camera at 30 frames a second.
        m_failingFiles = failing;
        for (m_now = 0; m_now <= 5000; m_now += 33)
            fake->sendFrame(solid(qRgb(1, 2, 3)));
        QCOMPARE(reports.size(), failing.size());
        for (const QString &file : failing) {
            QVERIFY(std::any_of(reports.cbegin(), reports.cend(), [&](const QVariantList &report) {
                return report.first().toString().contains("/frames/" + file + "': No space");
            }));
        }

        // Written once, a file that fails again is reported again.
        m_failingFiles.clear();
        m_now += 1000;
        fake->sendFrame(solid(qRgb(1, 2, 3)));
        m_failingFiles = failing;
        m_now += 1000;
        fake->sendFrame(solid(qRgb(1, 2, 3)));
        QCOMPARE(reports.size(), 2 * failing.size());
    }

    void passesOverPicturesThatWaitedTooLong_data()
    {
        QTest::addColumn<qint64>("lagMs");
        QTest::addColumn<bool>("written");
        QTest::newRow("just within the lag allowed") << LAG_ALLOWED_MS - 1 << true;
        QTest::newRow("at the lag allowed") << LAG_ALLOWED_MS << true;
        QTest::newRow("just past the lag allowed") << LAG_ALLOWED_MS + 1 << false;
    }

    void passesOverPicturesThatWaitedTooLong()
    {
        QFETCH(qint64, lagMs);
        bool written = false;
        FrameWriter writer(
            QStringLiteral("/frames"), [] { return qint64(5000); },
            [&written](const QString &, const QByteArray &) {
                written = true;
                return QString();
            },
            LAG_ALLOWED_MS);
        writer.writeTaken(solid(qRgb(1, 2, 3)), 5000 - lagMs);
        QTEST(written, "written");
    }

    void nothingWrittenWithoutACamera()
    {
        FakeCameraBackend *fake = nullptr;
        const auto camera = makeCamera(fake);
        QTRY_VERIFY_WITH_TIMEOUT(!fake->activeDeviceId().isEmpty(), 2000);
        fake->unplug(QStringLiteral("cam0"));
        QTRY_VERIFY_WITH_TIMEOUT(fake->activeDeviceId().isEmpty(), 2000);
        m_now = 5000;
        fake->sendFrame(solid(qRgb(1, 2, 3)));
        QVERIFY(m_stored.isEmpty());
    }

    void readersNeverSeeHalfAFrame()
    {
        QTemporaryDir dir;
        QElapsedTimer clock;
        clock.start();
        FrameWriter writer(dir.path(), [&] { return clock.elapsed() * 10; });
        const QString path = dir.filePath("6.bmp");
        // What a crash left of a write goes before the first frame.
        QVERIFY(QFile(dir.filePath(".6.bmp.k2j3ab")).open(QIODevice::WriteOnly));
        writer.write(solid(qRgb(200, 0, 0)));

        std::atomic<bool> done = false;
        std::atomic<int> loads = 0;
        QString problem;
        std::thread reader([&] {
            while (!done && problem.isEmpty()) {
                try {
                    const QImage image = decodePicture(readPictureFile(path), path);
                    const QRgb corner = image.pixel(0, 0);
                    if (image.pixel(159, 119) != corner || image.pixel(80, 60) != corner)
                        problem = QStringLiteral("a frame mixing two pictures");
                    ++loads;
                } catch (const TirvelError &error) {
                    problem = error.description();
                }
            }
        });
        // Frames as fast as they come, ten times the real clock, so every write is a test frame.
        for (int i = 0; clock.elapsed() < 1500 && problem.isEmpty(); ++i)
            writer.write(solid(qRgb(200, i % 256, 0)));
        done = true;
        reader.join();
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QVERIFY(loads > 10);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
            (QStringList {"5.bmp", "6.bmp"}));
    }

    void realFailuresNameTheReason_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("reason");
        QTest::newRow("6.bmp is a folder") << "folder"
                                           << "Is a directory";
        QTest::newRow("full disk") << "full"
                                   << "No space left on device";
        QTest::newRow("read-only file system") << "read-only"
                                               << "Read-only file system";
    }

    // The file systems come from a mount namespace that ctest's `unshare -m` made for this run.
    void realFailuresNameTheReason()
    {
        QFETCH(QString, fault);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QByteArray mountPoint = QFile::encodeName(dir.path());
        if (fault == "folder") {
            QVERIFY(QDir(dir.path()).mkdir("6.bmp"));
        } else {
            // Never the machine's: only a namespace that the launcher made for this run.
            if (!tirvel::testing::inOwnMountNamespace())
                QSKIP("not in a mount namespace of its own");
            QVERIFY(::mount("tirvel-test", mountPoint, "tmpfs", 0, "size=64k,mode=0700") == 0);
            if (fault == "read-only")
                QVERIFY(
                    ::mount(nullptr, mountPoint, nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0);
        }
        const auto unmount = qScopeGuard([&] { ::umount2(mountPoint, MNT_DETACH); });
        FrameWriter writer(dir.path(), [] { return 0; });
        QSignalSpy reports(&writer, &FrameWriter::failed);
        writer.write(solid(qRgb(1, 2, 3)));
        // 6.bmp is written first, and fits on the small disk where 5.bmp does not.
        const QString failing = dir.filePath(fault == "full" ? "5.bmp" : "6.bmp");
        QVERIFY(!reports.isEmpty());
        QCOMPARE(reports.first().first().toString(),
            QStringLiteral("Cannot write '%1': %2").arg(failing, reason));
        // A failed write leaves nothing behind.
        const QStringList written = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        QVERIFY2(written.isEmpty() || written == QStringList {fault == "full" ? "6.bmp" : "5.bmp"},
            qPrintable(written.join(' ')));
    }

    void writtenAsTwentyFourBitBitmaps()
    {
        const QByteArray bytes = FrameWriter::encode(solid(qRgb(10, 20, 30)));
        QVERIFY(bytes.startsWith("BM"));
        QCOMPARE(quint8(bytes[28]), quint8(24));
        QCOMPARE(QImage::fromData(bytes).pixel(5, 5), qRgb(10, 20, 30));
    }

    // Any two pictures of the demo scene between 0.2 and 3 seconds apart, the earlier as timed
    // frame, show movement at the starting sensitivity with room to spare.
    void demoSceneAlwaysShowsMovement()
    {
        QTemporaryDir dir;
        const auto surface = [&](qint64 at, int border) {
            const QString path = dir.filePath(QStringLiteral("%1.bmp").arg(at));
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly))
                qFatal("cannot write %s", qPrintable(path));
            file.write(FrameWriter::encode(drawDemoScene({160, 120}, at)));
            // Dated back, so the loader sees a frame at rest and takes it at once.
            file.setFileTime(
                QDateTime::currentDateTime().addSecs(-5), QFileDevice::FileModificationTime);
            file.close();
            PictureSurface picture(0);
            picture.setInteriorSize({160 - 2 * border, 120 - 2 * border});
            picture.load(path);
            return picture;
        };
        const auto rgbSum = [](ColourValue colour) {
            return colour == INVALID_COLOUR
                ? -1
                : std::int32_t((colour & 0xFF) + (colour >> 8 & 0xFF) + (colour >> 16 & 0xFF));
        };
        std::int32_t fewest = INT32_MAX;
        for (qint64 start = 0; start < 4000; start += 170) {
            const PictureSurface timed = surface(start, 2);
            for (qint64 gap : {200, 230, 500, 1000, 1400, 2000, 3000}) {
                PictureSurface test = surface(start + gap, 1);
                DetectionState state;
                state.setScanBounds(timed.interiorSize());
                state.scan(timed, test, rgbSum);
                fewest = std::min(fewest, state.changeCount());
            }
        }
        QVERIFY2(fewest > 150, qPrintable(QString::number(fewest)));
    }
};

TIRVEL_TEST_MAIN(TestFrameWriter)
#include "tst_frame_writer.moc"
