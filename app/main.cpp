#include "camera_view.h"
#include "form1.h"
#include "qt_camera_backend.h"

#include <QApplication>
#include <QDir>
#include <QIcon>

using namespace tirvel;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tirvel"));
    // The desktop finds the window's menu entry, and so its icon and name, by this id.
    QGuiApplication::setDesktopFileName(QStringLiteral(TIRVEL_APP_ID));
    QIcon icon(QStringLiteral(":/icons/48.png"));
    icon.addFile(QStringLiteral(":/icons/256.png"));
    QApplication::setWindowIcon(icon);

    auto *camera = new CameraView(CaptureSettings {}, std::make_unique<QtCameraBackend>());
    Form1 window(QDir::toNativeSeparators(QCoreApplication::applicationDirPath()), camera,
        [] { QApplication::beep(); });
    window.show();
    return QApplication::exec();
}
