// Writes a rendered webcam scene as the JPEG files a replaying fake camera plays and a peer reads:
// DIR/00000.jpg and on, 5 a second, then the last frame again for the seconds asked, so that the
// scene ends still.
//   webcam_frames SCENE DIR [SECONDS_STILL_AFTER]
// With no arguments, prints the scenes' names, one kind a line: quiet, event, small.
#include "webcam_scenes.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <cstdio>

using namespace tirvel::testing;

int main(int argc, char *argv[])
{
    const QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    QTextStream out(stdout);
    if (arguments.size() == 1) {
        out << webcamQuietScenes().join(',') << '\n'
            << webcamEventScenes().join(',') << '\n'
            << webcamSmallScenes().join(',') << '\n';
        return 0;
    }
    if (arguments.size() < 3) {
        std::fputs("usage: webcam_frames SCENE DIR [SECONDS_STILL_AFTER]\n", stderr);
        return 2;
    }
    QList<QByteArray> frames = webcamSceneFrames(arguments[1]);
    const int after = arguments.size() > 3 ? arguments[3].toInt() : 0;
    for (int i = 0; i < after * 5 && !frames.isEmpty(); ++i)
        frames.append(frames.last());
    for (int i = 0; i < frames.size(); ++i) {
        QFile file(QStringLiteral("%1/%2.jpg").arg(arguments[2]).arg(i, 5, 10, QLatin1Char('0')));
        if (!file.open(QIODevice::WriteOnly) || file.write(frames[i]) != frames[i].size()) {
            std::fprintf(stderr, "webcam_frames: cannot write %s\n", qPrintable(file.fileName()));
            return 1;
        }
    }
    out << frames.size() << '\n';
    return 0;
}
