#pragma once

#include <filesystem>
#include <memory>

namespace platform {

// A playable sound file. It keeps only what it needs to play the file again, never a
// decoded copy, so memory stays flat whatever the track's length.
class Sound {
public:
    // nil when libsndfile cannot decode the file.
    static std::shared_ptr<Sound> Open(const std::filesystem::path& file);

    ~Sound();
    Sound(const Sound&) = delete;
    Sound& operator=(const Sound&) = delete;

    // Returns at once; a playback thread decodes block by block into a PortAudio output
    // stream on the default output device. Playing while already playing restarts
    // nothing: the current play goes on. With no output device it reports once on
    // stderr and IsPlaying stays false.
    void Play();
    // True until the last frame has been played.
    bool IsPlaying() const;

    const std::filesystem::path& File() const;

private:
    struct Impl;
    // Only Open makes a Sound; the token lets it use make_shared.
    struct Token {
        explicit Token() = default;
    };

public:
    Sound(Token, std::unique_ptr<Impl> impl);

private:
    std::unique_ptr<Impl> impl_;
};

// Returns once no Sound is playing: the runtime's exit lets every track play to its end.
void WaitForSoundsToEnd();

} // namespace platform
