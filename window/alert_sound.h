#pragma once

#include <QElapsedTimer>
#include <QObject>

#include <chrono>

class QSoundEffect;

namespace tirvel {

// The sound of a detection, played through the desktop's sound system; where there is no sound
// output it rings the platform's bell instead. An alert that comes within one sound's length of
// the last is heard in that sound, so alerts in quick succession never queue up into a train of
// sounds.
class AlertSound : public QObject
{
    Q_OBJECT

public:
    explicit AlertSound(QObject *parent = nullptr);

    void play();

private:
    QSoundEffect *m_effect = nullptr;
    std::chrono::milliseconds m_length {0};
    QElapsedTimer m_sinceLast;
    // An alert asked for while the sound was still being read is played once it is ready.
    bool m_playWhenReady = false;
};

} // namespace tirvel
