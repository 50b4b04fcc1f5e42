// Another program's frames, as a test's outside writer: plays a rendered scene in real time into
// DIR, 6.bmp five times a second and 5.bmp once a second, each written beside its place and
// renamed over it.
//   scene_writer DIR LIGHT MOVER NOISE SECONDS [MOVER_START]

#include "scenes.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QThread>

#include <cstdio>

namespace {

bool put(const QImage &frame, const QString &path)
{
    const QString temporary = path + QStringLiteral(".new");
    return frame.save(temporary, "BMP")
        && ::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData())
        == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QGuiApplication app(argc, argv);
    const QStringList arguments = QGuiApplication::arguments();
    if (arguments.size() < 6) {
        std::fprintf(stderr, "usage: scene_writer DIR LIGHT MOVER NOISE SECONDS [MOVER_START]\n");
        return 2;
    }
    const QDir dir(arguments.at(1));
    tirvel::testing::Scene scene;
    scene.light = arguments.at(2);
    scene.mover = arguments.at(3) == QLatin1String("-") ? QString() : arguments.at(3);
    scene.noise = arguments.at(4).toDouble();
    scene.moverStart = arguments.value(6, QStringLiteral("1")).toDouble();
    const double seconds = arguments.at(5).toDouble();
    QElapsedTimer clock;
    clock.start();
    for (int frame = 0; frame * 0.2 <= seconds; ++frame) {
        const double now = frame * 0.2;
        const QImage picture = tirvel::testing::sceneFrame(scene, now, frame);
        if (!put(picture, dir.filePath(QStringLiteral("6.bmp")))
            || (frame % 5 == 0 && !put(picture, dir.filePath(QStringLiteral("5.bmp"))))) {
            std::fprintf(stderr, "scene_writer: cannot write into %s\n", qPrintable(dir.path()));
            return 1;
        }
        QThread::msleep(std::max<qint64>(0, qint64((now + 0.2) * 1000) - clock.elapsed()));
    }
    return 0;
}
