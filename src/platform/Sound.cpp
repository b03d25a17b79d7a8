#include "platform/Sound.h"

#include "platform/PortAudioSystem.h"
#include "platform/StackGuard.h"

#include <algorithm>
#include <chrono>
#include <portaudio.h>
#include <sndfile.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace {

// A track plays for a minute or more and nothing waits on its timing, so playback favours
// few wake-ups over latency: a four-second buffer that the host drains a second at a time,
// refilled a whole period at a time. Every call into the output stream costs a round trip
// through the host's plugin and the sound server, and every period the server's wake-ups;
// with small ones those, not the decoding, were most of playback's CPU time.
constexpr double kOutputLatency = 4.0; // seconds
constexpr int kPeriodsPerSecond = 1;
constexpr int kBlocksPerPeriod = 1;

// The frames that Open decodes to see that the file is a sound at all.
constexpr sf_count_t kProbeFrames = 2048;

using Clock = std::chrono::steady_clock;

Clock::duration DurationOf(long frames, int rate) {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(frames) / rate));
}

struct SndfileCloser {
    void operator()(SNDFILE* file) const {
        if (const int error = sf_close(file); error != 0) {
            std::fprintf(stderr, "Sound: closing a sound file failed: %s\n",
                         sf_error_number(error));
        }
    }
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

SndfilePtr OpenFile(const std::filesystem::path& file, SF_INFO& info) {
    info = SF_INFO{};
    return SndfilePtr(sf_open(file.c_str(), SFM_READ, &info));
}

// A sound that cannot play is usually asked to play again and again: each distinct
// complaint is made once per process.
void ReportOnce(const std::string& message) {
    static std::mutex mutex;
    static std::set<std::string> reported;
    const std::lock_guard lock(mutex);
    if (reported.insert(message).second) {
        std::fprintf(stderr, "%s\n", message.c_str());
    }
}

// An output stream with the lease that keeps PortAudio initialised while it exists.
struct OutputStream {
    std::shared_ptr<detail::PortAudioSystem> system;
    PaStream* stream = nullptr;

    OutputStream() = default;
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;
    ~OutputStream() {
        if (stream != nullptr) {
            const std::lock_guard lock(system->StreamMutex());
            if (const PaError error = Pa_CloseStream(stream); error != paNoError) {
                std::fprintf(stderr, "Sound: closing the output stream failed: %s\n",
                             Pa_GetErrorText(error));
            }
        }
    }
};

} // namespace

struct Sound::Impl {
    std::filesystem::path file;

    std::mutex mutex; // Play against Play and the destructor
    std::thread player;
    std::atomic<bool> playing{false};

    // The destructor's request to end a play at once; the playback thread waits on it.
    std::mutex stopMutex;
    std::condition_variable stopSignal;
    bool stopRequested = false; // guarded by stopMutex

    // The error message of a failed start, or empty with output ready to play.
    std::string OpenOutput(OutputStream& output, const SF_INFO& info) const;
    // One play on the playback thread, in its three steps.
    struct PlayState {
        PaStream* stream;
        int rate;
        long periodFrames;
        long blockFrames;
        std::vector<float> block;
        long capacity = 0;  // frames the empty buffer takes
        long written = 0;   // frames of the sound
        long padding = 0;   // frames of silence behind them
        bool ended = false; // the decoder has given its last frame
        bool stopped = false;
        Clock::time_point start{};
    };
    void PlayToEnd(SndfilePtr decoder, SF_INFO info, std::unique_ptr<OutputStream> output);
    void WriteSound(PlayState& play, SNDFILE* decoder);
    static void StartShortSound(PlayState& play);
    void WaitForEnd(PlayState& play);
    void RequestStop();
    // Waits until the time or a stop request; true when the stop was requested.
    bool StopRequestedBy(Clock::time_point time);
};

void Sound::Impl::RequestStop() {
    {
        const std::lock_guard lock(stopMutex);
        stopRequested = true;
    }
    stopSignal.notify_all();
}

bool Sound::Impl::StopRequestedBy(Clock::time_point time) {
    std::unique_lock lock(stopMutex);
    return stopSignal.wait_until(lock, time, [this] { return stopRequested; });
}

std::shared_ptr<Sound> Sound::Open(const std::filesystem::path& file) {
    CheckStack();
    SF_INFO info;
    SndfilePtr decoder = OpenFile(file, info);
    if (!decoder || info.channels <= 0 || info.samplerate <= 0) {
        return nullptr;
    }
    // A header alone is not a sound: the first block must decode.
    std::vector<float> block(static_cast<std::size_t>(kProbeFrames) *
                             static_cast<std::size_t>(info.channels));
    if (sf_readf_float(decoder.get(), block.data(), kProbeFrames) <= 0 ||
        sf_error(decoder.get()) != SF_ERR_NO_ERROR) {
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->file = file;
    return std::make_shared<Sound>(Token{}, std::move(impl));
}

Sound::Sound(Token, std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Sound::~Sound() {
    const std::lock_guard lock(impl_->mutex);
    impl_->RequestStop();
    if (impl_->player.joinable()) {
        impl_->player.join();
    }
}

const std::filesystem::path& Sound::File() const {
    CheckStack();
    return impl_->file;
}

bool Sound::IsPlaying() const {
    CheckStack();
    return impl_->playing;
}

void Sound::Play() {
    CheckStack();
    Impl& impl = *impl_;
    const std::lock_guard lock(impl.mutex);
    if (impl.playing) {
        return;
    }
    if (impl.player.joinable()) {
        impl.player.join(); // the previous play has ended
    }
    SF_INFO info;
    SndfilePtr decoder = OpenFile(impl.file, info);
    if (!decoder) {
        ReportOnce("Sound: cannot play " + impl.file.string() + ": " + sf_strerror(nullptr));
        return;
    }
    auto output = std::make_unique<OutputStream>();
    if (const std::string error = impl.OpenOutput(*output, info); !error.empty()) {
        ReportOnce(error);
        return;
    }
    impl.playing = true;
    impl.player = std::thread(&Impl::PlayToEnd, &impl, std::move(decoder), info, std::move(output));
}

std::string Sound::Impl::OpenOutput(OutputStream& output, const SF_INFO& info) const {
    const std::string cannot = "Sound: cannot play " + file.string() + ": ";
    int initError = paNoError;
    output.system = detail::PortAudioSystem::Acquire(initError);
    if (!output.system) {
        return cannot + "PortAudio cannot initialise: " + Pa_GetErrorText(initError);
    }
    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    const PaDeviceInfo* deviceInfo = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
    if (deviceInfo == nullptr) {
        // Not per file: without a device no sound plays, and one line says so.
        return "Sound: no audio output device: PortAudio found no default output device "
               "(is a sound server or sound card available?); sounds stay silent";
    }
    PaStreamParameters parameters{};
    parameters.device = device;
    parameters.channelCount = info.channels;
    parameters.sampleFormat = paFloat32;
    parameters.suggestedLatency = std::max(deviceInfo->defaultHighOutputLatency, kOutputLatency);
    parameters.hostApiSpecificStreamInfo = nullptr;
    {
        const std::lock_guard lock(output.system->StreamMutex());
        if (const PaError error =
                Pa_OpenStream(&output.stream, nullptr, &parameters, info.samplerate,
                              static_cast<unsigned long>(info.samplerate / kPeriodsPerSecond),
                              paNoFlag, nullptr, nullptr);
            error != paNoError) {
            output.stream = nullptr;
            return cannot + "opening the output stream failed: " + Pa_GetErrorText(error);
        }
    }
    if (const PaError error = Pa_StartStream(output.stream); error != paNoError) {
        return cannot + "starting the output stream failed: " + Pa_GetErrorText(error);
    }
    return {};
}

void Sound::Impl::PlayToEnd(SndfilePtr decoder, SF_INFO info,
                            std::unique_ptr<OutputStream> output) {
    const long periodFrames = std::max(1, info.samplerate / kPeriodsPerSecond);
    const long blockFrames = std::max(1L, periodFrames / kBlocksPerPeriod);
    PlayState play{output->stream, info.samplerate, periodFrames, blockFrames,
                   std::vector<float>(static_cast<std::size_t>(blockFrames) *
                                      static_cast<std::size_t>(info.channels))};
    // The buffer is empty now: what it holds later is what is still to be played.
    play.capacity = std::max(Pa_GetStreamWriteAvailable(play.stream), 0L);
    play.start = Clock::now();
    WriteSound(play, decoder.get());
    if (play.ended && !play.stopped) {
        StartShortSound(play);
        WaitForEnd(play);
    }
    // Whatever is left of the padding is silence, not worth a drain on hosts that drain.
    const PaError error =
        play.stopped || play.padding > 0 ? Pa_AbortStream(play.stream) : Pa_StopStream(play.stream);
    if (error != paNoError) {
        ReportOnce("Sound: ending playback of " + file.string() +
                   " failed: " + Pa_GetErrorText(error));
    }
    output.reset();
    decoder.reset();
    playing = false;
}

// A block is written only once it fits, so no write blocks and a stop request is answered
// at once.
void Sound::Impl::WriteSound(PlayState& play, SNDFILE* decoder) {
    const auto failed = [this](const std::string& why) {
        ReportOnce("Sound: playing " + file.string() + " failed: " + why);
    };
    // Room for a block frees up in well under this; a stream that gives none for longer
    // has stopped playing (the sound server went away without an error reaching us).
    const auto stalledAfter =
        DurationOf(std::max(play.capacity, play.blockFrames), play.rate) + std::chrono::seconds(2);
    auto lastWrite = play.start;
    while (!play.stopped) {
        const long space = Pa_GetStreamWriteAvailable(play.stream);
        if (space < 0) {
            failed(Pa_GetErrorText(static_cast<PaError>(space)));
            return;
        }
        if (space < play.blockFrames) {
            if (Clock::now() - lastWrite > stalledAfter) {
                failed("the output device stopped taking sound");
                return;
            }
            play.stopped =
                StopRequestedBy(Clock::now() + DurationOf(play.blockFrames - space, play.rate));
            continue;
        }
        const sf_count_t frames = sf_readf_float(decoder, play.block.data(), play.blockFrames);
        if (frames <= 0) {
            if (sf_error(decoder) != SF_ERR_NO_ERROR) {
                ReportOnce("Sound: decoding " + file.string() + " failed: " + sf_strerror(decoder));
            }
            play.ended = true;
            return;
        }
        const PaError error =
            Pa_WriteStream(play.stream, play.block.data(), static_cast<unsigned long>(frames));
        // An underflow is a gap already heard; the frames were still taken.
        if (error != paNoError && error != paOutputUnderflowed) {
            failed(Pa_GetErrorText(error));
            return;
        }
        play.written += static_cast<long>(frames);
        lastWrite = Clock::now();
        play.stopped = StopRequestedBy(lastWrite);
    }
}

// The host starts playing only once its buffer is well filled: a sound shorter than that
// would never be heard. Silence fills the buffer behind it; it is not waited for.
void Sound::Impl::StartShortSound(PlayState& play) {
    if (play.written >= play.capacity) {
        return;
    }
    std::fill(play.block.begin(), play.block.end(), 0.0F);
    while (play.padding < play.capacity - play.written) {
        const long frames = std::min(play.blockFrames, play.capacity - play.written - play.padding);
        if (Pa_WriteStream(play.stream, play.block.data(), static_cast<unsigned long>(frames)) !=
            paNoError) {
            break;
        }
        play.padding += frames;
    }
    play.start = Clock::now();
}

// Not every host plays out its buffer on stop (ALSA's pulse plugin drops it), so the end is
// waited for here. No frame plays sooner than its place in real time. The buffer shows
// whether a gap held the sound back for longer; the server empties it a period at a time
// and tells of it late, so what it reports may lag by up to two periods. The deadline holds
// if the server stops taking frames altogether.
void Sound::Impl::WaitForEnd(PlayState& play) {
    const auto realTimeEnd = play.start + DurationOf(play.written, play.rate);
    const auto deadline =
        realTimeEnd + DurationOf(play.capacity, play.rate) + std::chrono::seconds(1);
    play.stopped = StopRequestedBy(realTimeEnd);
    while (!play.stopped && Clock::now() < deadline) {
        const long space = Pa_GetStreamWriteAvailable(play.stream);
        if (space < 0 || space >= play.capacity - play.padding - 2 * play.periodFrames) {
            return;
        }
        play.stopped = StopRequestedBy(Clock::now() + std::chrono::milliseconds(10));
    }
}

} // namespace platform
