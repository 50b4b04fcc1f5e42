#pragma once

#include <QObject>

class QSoundEffect;

namespace tirvel {

// The sound of a detection, played through the desktop's sound system; where there is no sound
// output it rings the platform's bell instead. An alert that comes while the last one still plays
// starts it again from the beginning: each detection is heard to begin, and alerts in quick
// succession never queue up into a train of sounds.
class AlertSound : public QObject
{
    Q_OBJECT

public:
    explicit AlertSound(QObject *parent = nullptr);

    void play();

private:
    QSoundEffect *m_effect = nullptr;
    // An alert asked for while the sound was still being read is played once it is ready.
    bool m_playWhenReady = false;
};

} // namespace tirvel
