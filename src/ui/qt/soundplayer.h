#pragma once
#include <QObject>
#include <QString>

namespace ui {

// Plays wave files on the GUI thread without making anyone wait. A file that is
// missing or cannot be played gives the default beep; a machine without an audio
// output stays silent, which is what Windows does without a sound card.
class SoundPlayer : public QObject {
    Q_OBJECT
public:
    explicit SoundPlayer(QObject* parent = nullptr);
    void play(const QString& file);
    int playing() const { return m_playing; }

private:
    int m_playing = 0;
};

} // namespace ui
