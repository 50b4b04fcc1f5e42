#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace tirvel::testing {

// Rooms at 640 x 480 as a cheap webcam delivers them at 5 frames a second: noise that grows in
// the dark, then JPEG at quality 50 in the dark and 75 in daylight. The scenes that should stay
// quiet, the one that may give a camera-mode note ("night"), those that should give one event, and
// those that only a high sensitivity should catch; and a camera knocked to one side and later to
// another, each once an event.
QStringList webcamQuietScenes();
QStringList webcamEventScenes();
QStringList webcamTwoEventScenes();
QStringList webcamSmallScenes();

// Every frame of the named scene as JPEG, the same each time.
QList<QByteArray> webcamSceneFrames(const QString &name);

} // namespace tirvel::testing
