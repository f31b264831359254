#include "qtsupport.h"

#include "ui/qt/soundplayer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cstdint>

namespace uiqt {
namespace {

// A short mono 8 kHz 8-bit PCM wave file.
void writeWave(const QString& path) {
    const std::uint32_t samples = 400;
    QByteArray data;
    auto u32 = [&data](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) data.append(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    auto u16 = [&data](std::uint16_t v) {
        data.append(static_cast<char>(v & 0xFF));
        data.append(static_cast<char>(v >> 8));
    };
    data.append("RIFF");
    u32(36 + samples);
    data.append("WAVEfmt ");
    u32(16);
    u16(1); // PCM
    u16(1);
    u32(8000);
    u32(8000);
    u16(1);
    u16(8);
    data.append("data");
    u32(samples);
    for (std::uint32_t i = 0; i < samples; ++i) data.append(static_cast<char>(i % 16 < 8 ? 0x60 : 0xA0));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

TEST(SoundPlayer, NeitherAMissingNorAPlayableFileKeepsTheCallerWaitingOrLingers) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString wave = dir.filePath("Click.wav");
    writeWave(wave);
    const QString bogus = dir.filePath("Broken.wav");
    {
        QFile f(bogus);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not a wave file");
    }
    ui::SoundPlayer player;
    for (const QString& file : {dir.filePath("Missing.wav"), wave, bogus}) {
        const auto start = std::chrono::steady_clock::now();
        player.play(file);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << file.toStdString();
    }
    // Played, refused or silent for want of a device: every effect ends.
    EXPECT_TRUE(waitUntil([&] { return player.playing() == 0; }, 35000));
}

} // namespace
} // namespace uiqt
