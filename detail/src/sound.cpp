// The desktop's sound output: one QSoundEffect per play, on the GUI thread. Qt loads the file on its own
// thread and plays it through the desktop's sound server, so nothing here waits on a file or a device.
//
// A file is checked before Qt sees it (a wave file with a format, not beyond kMaxSoundFile), and a play
// that neither finishes nor fails by the time the whole file would have played is ended here: without
// a server Qt can report "playing" for a sound that never starts, and the settings page would wait
// for its end forever.

#include <QAudioDevice>
#include <QCoreApplication>
#include <QMediaDevices>
#include <QObject>
#include <QSoundEffect>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>

#include "plat/base/trace.h"
#include "sound.h"
#include "watchpanel/wave_format.h"

namespace watchpanel {
namespace {

// Qt holds the whole sound in memory while it plays; an alert sound is seconds long.
constexpr std::uint64_t kMaxSoundFile = 64 * 1024 * 1024;
// Past the file's own length, how long a play may take before it is given up: the desktop's sound
// server can take a second or two to start a stream and to say that it has drained.
constexpr std::chrono::milliseconds kStartAllowance{5000};
constexpr std::chrono::milliseconds kLongestPlay = std::chrono::hours(6);

// How long the file can play at most: all of it taken as sound, at the slower of the rate its header
// states and the one its channels, samples and bits make (a lying header cuts no play short).
std::chrono::milliseconds longestPlay(const WaveFormat& format, std::uint64_t fileSize)
{
    const std::uint64_t stated = format.byteRate;
    const std::uint64_t made =
        std::uint64_t{format.channels} * format.sampleRate * std::max<std::uint16_t>(format.bitsPerSample, 8) / 8;
    const std::uint64_t bytesPerSecond = stated == 0 ? made : made == 0 ? stated : std::min(stated, made);
    if (bytesPerSecond == 0) return std::chrono::milliseconds::zero();
    const auto playing = std::chrono::milliseconds(fileSize * 1000 / bytesPerSecond);
    return std::min<std::chrono::milliseconds>(playing, kLongestPlay) + kStartAllowance;
}

class DesktopSound final : public Sound {
public:
    DesktopSound()
    {
        m_giveUp.setSingleShot(true);
        QObject::connect(&m_giveUp, &QTimer::timeout, &m_context, [this] { end("given up: it did not end in time"); });
    }

    ~DesktopSound() override { release(); }  // nobody to tell any more

    bool play(const std::string& path) override
    {
        stop();
        if (path.empty() || QCoreApplication::instance() == nullptr) return false;
        const auto header = readWaveHeader(path);
        if (!header || header->fileSize > kMaxSoundFile) return false;
        const auto format = parseWaveFormat(std::as_bytes(std::span(header->bytes)));
        if (!format) {
            plat::trace("sound: not a wave file: " + path);
            return false;
        }
        const auto bound = longestPlay(*format, header->fileSize);
        if (bound == std::chrono::milliseconds::zero()) return false;
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull()) {  // no sound server or card: plays nothing, says nothing
            plat::trace("sound: no audio output");
            return false;
        }

        auto* effect = new QSoundEffect(device);
        // Queued: the end is reported from the event loop, never from inside play() or stop().
        QObject::connect(
            effect, &QSoundEffect::statusChanged, &m_context,
            [this, effect] {
                if (effect == m_effect && effect->status() == QSoundEffect::Error) end("cannot be played");
            },
            Qt::QueuedConnection);
        QObject::connect(
            effect, &QSoundEffect::playingChanged, &m_context,
            [this, effect] {
                if (effect == m_effect && !effect->isPlaying()) end("finished");
            },
            Qt::QueuedConnection);
        effect->setSource(QUrl::fromLocalFile(QString::fromStdString(path)));
        effect->play();
        if (!effect->isPlaying()) {  // refused at once (a source Qt could not take)
            effect->disconnect();
            effect->deleteLater();
            return false;
        }
        m_effect = effect;
        m_giveUp.start(bound);
        return true;
    }

    void stop() override { end("stopped"); }

    bool playing() const override { return m_effect != nullptr; }

private:
    // Ends the current play, if any, and reports it; the callback may start the next one.
    void end(const char* why)
    {
        if (m_effect == nullptr) return;
        plat::trace(std::string("sound: ") + why);
        release();
        reportFinished();
    }

    void release()
    {
        m_giveUp.stop();
        if (m_effect == nullptr) return;
        QSoundEffect* effect = std::exchange(m_effect, nullptr);
        effect->disconnect();
        effect->stop();
        effect->deleteLater();  // it may still have queued work of its own
    }

    QObject m_context;  // receiver of the effects' signals: none arrive after this object is gone
    QTimer m_giveUp;
    QSoundEffect* m_effect = nullptr;  // the current play; owned, freed with deleteLater
};

}  // namespace

std::unique_ptr<Sound> makeDesktopSound() { return std::make_unique<DesktopSound>(); }

}  // namespace watchpanel
