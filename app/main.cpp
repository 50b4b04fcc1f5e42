#include "camera_view.h"
#include "colsum_library.h"
#include "main_window.h"
#include "qt_camera_backend.h"

#include <QApplication>
#include <QDir>

using namespace tirvel;

namespace {

// GStreamer's device monitor, which Qt 6.4 runs over every kind of device, frees memory still in
// use when an audio device goes; the camera needs none of them.
void keepAudioDeviceProvidersOut()
{
    QByteArray ranks = qgetenv("GST_PLUGIN_FEATURE_RANK");
    if (!ranks.isEmpty())
        ranks += ',';
    ranks += "pulsedeviceprovider:NONE,pipewiredeviceprovider:NONE";
    qputenv("GST_PLUGIN_FEATURE_RANK", ranks);
}

} // namespace

int main(int argc, char *argv[])
{
    keepAudioDeviceProvidersOut();
    // Qt 6.4 converts each camera frame on the GPU and reads it back when OpenGL is at hand,
    // which costs several times the CPU path for a picture this small.
    QApplication::setAttribute(Qt::AA_ForceRasterWidgets);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tirvel"));

    const QString programDirectory = QDir::toNativeSeparators(QApplication::applicationDirPath());
    auto *camera = new CameraView(std::make_unique<QtCameraBackend>());
    MainWindow window(programDirectory,
        programDirectory + QDir::separator() + ColSumLibrary::fileName(), camera,
        [] { QApplication::beep(); });
    window.show();
    return QApplication::exec();
}
