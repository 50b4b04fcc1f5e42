// Runs the detector and the window showing it for many cycles of test and tick, with frames read
// from disk, the real colour library, and a missing or half-written frame every hundredth cycle,
// and checks that memory stays flat once warmed up. Under AddressSanitizer the leak check at exit
// does that job instead.
//   soak_window [CYCLES]

#include "bmp_writer.h"
#include "colsum_library.h"
#include "detector.h"
#include "fake_capture_view.h"
#include "frame_files.h"
#include "main_window.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QMessageBox>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

using namespace tirvel;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool SANITIZED = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool SANITIZED = true;
#else
constexpr bool SANITIZED = false;
#endif
#else
constexpr bool SANITIZED = false;
#endif

constexpr long MAX_GROWTH_BYTES = 1024L * 1024;

long residentBytes()
{
    long pages = 0;
    long resident = 0;
    if (FILE *statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

// A grey room with a block in it.
QByteArray room(QRgb ground, QRgb object)
{
    QImage image(160, 120, QImage::Format_RGB32);
    image.fill(ground);
    for (int y = 30; y < 70; ++y) {
        for (int x = 40; x < 90; ++x)
            image.setPixel(x, y, object);
    }
    return testing::writeBmp(image);
}

// The headless platform says, for every report shown, what it cannot do; that is not news here.
void quietHeadlessPlatform(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (!message.startsWith(QLatin1String("This plugin does not support")))
        std::fprintf(stderr, "%s\n", qPrintable(message));
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quietHeadlessPlatform);
    QApplication app(argc, argv);
    const long cycles = argc > 1 ? std::atol(argv[1]) : 100000;
    const long warmUp = std::max(1L, cycles / 10);

    QTemporaryDir directory;
    const QString timedPath = directory.filePath(QStringLiteral("5.bmp"));
    const QString testPath = directory.filePath(QStringLiteral("6.bmp"));
    const QByteArray timed = room(qRgb(90, 90, 90), qRgb(250, 250, 250));
    const QByteArray test = room(qRgb(90, 90, 90), qRgb(90, 90, 90));
    if (!testing::saveFile(timedPath, timed) || !testing::saveFile(testPath, test)) {
        std::fprintf(stderr, "soak: cannot prepare %s\n", qPrintable(directory.path()));
        return 1;
    }

    // A view with no camera behind it, so the soak measures the window and not a camera stack.
    Detector detector(framePaths(directory.path()), QStringLiteral(COLORSUM_PATH));
    MainWindow window(&detector, new testing::FakeCaptureView, [] {});
    window.show();
    long baseline = 0;
    for (long cycle = 0; cycle < cycles; ++cycle) {
        // Every hundredth cycle a frame is missing or caught half-written.
        const bool broken = cycle % 100 == 99;
        if (broken) {
            if (cycle % 200 == 99)
                QFile::remove(testPath);
            else
                testing::saveFile(timedPath, timed.left(timed.size() / 2));
        }
        window.test();
        detector.tick();
        if (broken) {
            testing::saveFile(testPath, test);
            testing::saveFile(timedPath, timed);
        }
        if (cycle % 1000 == 999) {
            // Now and then the user closes the report, so it is made afresh too.
            if (auto *report = window.findChild<QMessageBox *>())
                report->close();
        }
        if (cycle % 100 == 0)
            QCoreApplication::processEvents();
        if (cycle + 1 == warmUp)
            baseline = residentBytes();
    }
    QCoreApplication::processEvents();
    const long growth = residentBytes() - baseline;
    std::printf("soak: %ld cycles, resident memory %ld kB after warm-up, grew by %ld kB\n", cycles,
        baseline / 1024, growth / 1024);
    if (!SANITIZED && growth >= MAX_GROWTH_BYTES) {
        std::printf("soak: memory grew by 1 MB or more\n");
        return 1;
    }
    std::printf("1 passed, 0 failed\n");
    return 0;
}
