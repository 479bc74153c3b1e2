#pragma once
// The detail program's sounds: one plays at a time, and the end of each play is reported, so that the
// settings page can give its test buttons back. Nothing here ever blocks or complains: a machine without
// a sound device, a missing file or one that is not a sound simply plays nothing.

#include <functional>
#include <memory>
#include <string>

namespace watchpanel {

class Sound {
public:
    virtual ~Sound() = default;
    // Stops the sound that plays (its end is reported) and starts the file at `path`; false when it
    // cannot be played (nothing is reported then).
    virtual bool play(const std::string& path) = 0;
    // Stops the sound that plays, if any; its end is reported.
    virtual void stop() = 0;
    virtual bool playing() const = 0;
    // Called on the GUI thread when a play ends, finished or stopped.
    void onFinished(std::function<void()> finished) { m_finished = std::move(finished); }

protected:
    void reportFinished()
    {
        if (m_finished) m_finished();
    }

private:
    std::function<void()> m_finished;
};

// The desktop's sound output.
std::unique_ptr<Sound> makeDesktopSound();

// Copies each default sound ("01READY.WAV" ..) that is missing into the root's media folder; never over
// a file that is there.
void installDefaultSounds();

// The settings page's format picture for a sound file: 312 for no file (empty path), else 300 + the
// code of its "fmt " chunk (channels, rate, bits), 300 when it cannot be read or is not a wave file.
int waveFormatPicture(const std::string& path);

}  // namespace watchpanel
