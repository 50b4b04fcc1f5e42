#pragma once

#include <QImage>
#include <QJsonObject>
#include <QMetaType>
#include <QString>

namespace tirvel {

// What the window shows, and a notification says, when a test detects.
inline const QString DETECTION_MESSAGE = QStringLiteral("Rörelse har detekterats !");

// What one test found, whole, so that whoever hears of it needs nothing else: the count and the
// decision, and the pictures it was made from.
struct TestResult
{
    int count = 0;
    bool detected = false;
    // The timed frame compared against, and the test frame with its marks.
    QImage timed;
    QImage marked;
    // The whole picture read from 6.bmp, before its marks.
    QImage read;
    // How the rule decided, as fields a log line can carry; empty when the rule says nothing more.
    QJsonObject explanation;
    // The camera changed its picture as a whole since the last test (night mode, exposure), as
    // the scene rule tells it from motion.
    bool cameraMode = false;
    // Watching one's own camera, a detection's frame at the camera's own size, with the region
    // that changed outlined; null otherwise.
    QImage snapshot {};
};

} // namespace tirvel

Q_DECLARE_METATYPE(tirvel::TestResult)
