#include "camera_view.h"
#include "form1.h"
#include "qt_camera_backend.h"

#include <QApplication>
#include <QDir>

using namespace tirvel;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tirvel"));

    auto *camera = new CameraView(CaptureSettings {}, std::make_unique<QtCameraBackend>());
    Form1 window(QDir::toNativeSeparators(QCoreApplication::applicationDirPath()), camera,
        [] { QApplication::beep(); });
    window.show();
    return QApplication::exec();
}
