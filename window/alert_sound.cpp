#include "alert_sound.h"

#include <QApplication>
#include <QAudioDevice>
#include <QFile>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>
#include <QtEndian>

namespace tirvel {

namespace {

const QString SOUND = QStringLiteral(":/tirvel/alert.wav");

// The length of a plain PCM WAV file, as make_alert_sound writes it: its data's size over its
// bytes a second, both in the 44-byte header.
std::chrono::milliseconds soundLength(const QString &fileName)
{
    constexpr qsizetype HEADER_BYTES = 44;
    constexpr qsizetype BYTE_RATE_AT = 28;
    constexpr qsizetype DATA_SIZE_AT = 40;
    QFile file(fileName);
    const QByteArray header
        = file.open(QIODevice::ReadOnly) ? file.read(HEADER_BYTES) : QByteArray();
    if (header.size() < HEADER_BYTES)
        return {};
    const auto bytesPerSecond = qFromLittleEndian<quint32>(header.constData() + BYTE_RATE_AT);
    const auto dataBytes = qFromLittleEndian<quint32>(header.constData() + DATA_SIZE_AT);
    if (bytesPerSecond == 0)
        return {};
    return std::chrono::milliseconds(1000LL * dataBytes / bytesPerSecond);
}

} // namespace

AlertSound::AlertSound(QObject *parent)
    : QObject(parent)
    , m_effect(new QSoundEffect(this))
    , m_length(soundLength(SOUND))
{
    connect(m_effect, &QSoundEffect::statusChanged, this, [this] {
        if (m_playWhenReady && m_effect->status() == QSoundEffect::Ready) {
            m_playWhenReady = false;
            m_effect->play();
        }
    });
    // Read now, in the background, so that the first detection does not wait for the file.
    m_effect->setSource(QUrl(QLatin1String("qrc") + SOUND));
}

void AlertSound::play()
{
    // QSoundEffect reports itself ready and playing even where no sound server runs.
    if (QMediaDevices::defaultAudioOutput().isNull() || m_effect->status() == QSoundEffect::Error) {
        QApplication::beep();
        return;
    }
    // Qt hands the whole sound to the server at once and calls it finished before it has been
    // heard, so a sound started sooner would queue behind the last one or cut it short.
    if (m_sinceLast.isValid() && m_sinceLast.elapsed() < m_length.count())
        return;
    m_sinceLast.start();
    if (m_effect->status() != QSoundEffect::Ready) {
        m_playWhenReady = true;
        return;
    }
    m_effect->play();
}

} // namespace tirvel
