// How long the window's thread stands still while the detector reads frame files, measured from
// inside: a timer due every 5 ms records how late it comes. The window runs offscreen with the
// detector on a thread of its own, as the program runs it, or on the window's own thread with
// --one-thread, as it ran before; it is tested twice a second for a few seconds, so the tick
// reads 5.bmp every second, with both frames one of the following:
//   camera-4k    a 4096 x 2160 24-bit bitmap, the largest camera frame there is
//   largest      a 24-bit bitmap at the pixel limit
//   huge         an 8192 x 4096 24-bit bitmap, 96 MB
//   rle          an 8192 x 4096 run-length coded bitmap of a few hundred KB
// Prints the longest stall and the peak resident memory. The frames are made first, by the
// program run apart, so that making them does not count.
//   window_stall make FRAMES DIRECTORY
//   window_stall [--one-thread] DIRECTORY [SECONDS]

#include "bmp_writer.h"
#include "capture_view.h"
#include "colsum_library.h"
#include "detector.h"
#include "frame_files.h"
#include "main_window.h"
#include "picture_file.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <cstdio>

using namespace tirvel;

namespace {

class StillView : public CaptureView
{
public:
    StillView() { setFixedSize(160, 120); }
    void frameSizeCommand() override { }
    void frameRateCommand() override { }
};

QByteArray frame(const QString &kind)
{
    QImage picture(kind == "camera-4k" ? QSize(4096, 2160)
            : kind == "largest"        ? QSize(4096, int(MAX_PICTURE_PIXELS / 4096))
                                       : QSize(8192, 4096),
        QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x)
            line[x] = qRgb(x / 64 * 8, y / 64 * 8, 128);
    }
    if (kind == "rle") {
        picture = picture.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
        return testing::writeRle8Bmp(picture);
    }
    return testing::writeBmp(picture);
}

long peakResidentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList arguments = QApplication::arguments().mid(1);
    if (arguments.size() == 3 && arguments.at(0) == QLatin1String("make")) {
        const QByteArray bytes = frame(arguments.at(1));
        for (const QString &name : {TIMED_FRAME_FILE, TEST_FRAME_FILE})
            testing::saveFile(framePath(arguments.at(2), name), bytes);
        return 0;
    }
    const bool oneThread = arguments.removeAll(QStringLiteral("--one-thread")) > 0;
    if (arguments.isEmpty()) {
        std::fprintf(stderr, "usage: window_stall [--one-thread] DIRECTORY [SECONDS]\n");
        return 2;
    }
    const QString directory = arguments.at(0);
    const int seconds = arguments.size() > 1 ? arguments.at(1).toInt() : 5;

    QThread thread;
    auto *detector = new Detector(framePaths(directory), QStringLiteral(COLORSUM_PATH));
    if (!oneThread) {
        detector->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, detector, &QObject::deleteLater);
        thread.start();
    }
    int failures = 0;
    QString lastFailure;
    QObject::connect(detector, &Detector::failed, [&](int, const QString &description) {
        ++failures;
        lastFailure = description;
    });
    MainWindow window(detector, new StillView, [] {});
    window.show();
    auto *test = window.findChild<QPushButton *>(QStringLiteral("Command1"));

    QElapsedTimer clock;
    clock.start();
    qint64 due = 5;
    qint64 longest = 0;
    QTimer watch;
    watch.setTimerType(Qt::PreciseTimer);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        longest = std::max(longest, clock.elapsed() - due);
        due = clock.elapsed() + 5;
    });
    watch.start(5);
    QTimer tests;
    QObject::connect(&tests, &QTimer::timeout, test, &QPushButton::click);
    tests.start(500);
    QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    QApplication::exec();

    std::printf("detector on %s: longest stall of the window's thread %lld ms, peak resident "
                "memory %ld MB, %d failed loads%s%s\n",
        oneThread ? "the window's thread" : "its own thread", static_cast<long long>(longest),
        peakResidentKb() / 1024, failures, failures > 0 ? ", the last: " : "",
        qPrintable(lastFailure));
    thread.quit();
    thread.wait();
    if (oneThread)
        delete detector;
    return 0;
}
