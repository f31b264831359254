#include "ui/qt/soundplayer.h"

#include "ui/qt/programfiles.h"

#include <QApplication>
#include <QAudioDevice>
#include <QFileInfo>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QTimer>
#include <QUrl>

namespace ui {
namespace {

// No cue lasts longer; an effect still loading after this is given up.
constexpr int kLongestCueMs = 30000;

} // namespace

SoundPlayer::SoundPlayer(QObject* parent) : QObject(parent) {}

void SoundPlayer::play(const QString& file) {
    // The person's own file in the current directory first, else the program's.
    const QFileInfo info(programfiles::find(QStringLiteral("sounds"), file));
    if (!info.isFile() || !info.isReadable()) {
        QApplication::beep();
        return;
    }
    if (QMediaDevices::audioOutputs().isEmpty()) return;
    auto* effect = new QSoundEffect(this);
    ++m_playing;
    auto done = [this, effect] {
        if (effect->property("done").toBool()) return;
        effect->setProperty("done", true);
        --m_playing;
        effect->deleteLater();
    };
    connect(effect, &QSoundEffect::statusChanged, this, [effect, done] {
        if (effect->status() == QSoundEffect::Error) {
            QApplication::beep();
            done();
        }
    });
    connect(effect, &QSoundEffect::playingChanged, this, [effect, done] {
        if (!effect->isPlaying() && effect->status() == QSoundEffect::Ready) done();
    });
    QTimer::singleShot(kLongestCueMs, effect, done);
    effect->setSource(QUrl::fromLocalFile(info.absoluteFilePath()));
    effect->play();
}

} // namespace ui
