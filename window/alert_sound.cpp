#include "alert_sound.h"

#include <QApplication>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

namespace tirvel {

AlertSound::AlertSound(QObject *parent)
    : QObject(parent)
    , m_effect(new QSoundEffect(this))
{
    connect(m_effect, &QSoundEffect::statusChanged, this, [this] {
        if (m_playWhenReady && m_effect->status() == QSoundEffect::Ready) {
            m_playWhenReady = false;
            m_effect->play();
        }
    });
    // Read now, in the background, so that the first detection does not wait for the file.
    m_effect->setSource(QUrl(QStringLiteral("qrc:/tirvel/alert.wav")));
}

void AlertSound::play()
{
    // QSoundEffect reports itself ready and playing even where no sound server runs.
    if (QMediaDevices::defaultAudioOutput().isNull() || m_effect->status() == QSoundEffect::Error) {
        QApplication::beep();
        return;
    }
    if (m_effect->status() != QSoundEffect::Ready) {
        m_playWhenReady = true;
        return;
    }
    // play() on a playing effect does not reliably start it over; stopping first does.
    m_effect->stop();
    m_effect->play();
}

} // namespace tirvel
