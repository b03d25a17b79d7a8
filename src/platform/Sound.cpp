#include "platform/Sound.h"

#include "platform/Diagnostics.h"
#include "platform/PortAudioSystem.h"
#include "platform/StackGuard.h"

#include <algorithm>
#include <chrono>
#include <dlfcn.h>
#include <fcntl.h>
#include <mpg123.h>
#include <portaudio.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// libsndfile decodes MP3 through libmpg123, which prints its complaints about a damaged
// stream on stderr unless its handle is quiet, and libsndfile offers no way to ask for
// that. So every handle is made quiet as it is made: this definition stands in front of
// libmpg123's own for libsndfile's calls, and hands on to it.
extern "C" mpg123_handle* mpg123_new(const char* decoder, int* error) {
    using New = mpg123_handle* (*)(const char*, int*);
    using Param = int (*)(mpg123_handle*, enum mpg123_parms, long, double);
    // The library itself, loaded already as libsndfile's: RTLD_NEXT would depend on the
    // load order, which the sanitizers' runtimes change.
    static void* const library = dlopen("libmpg123.so.0", RTLD_LAZY | RTLD_NOLOAD);
    static const auto real =
        reinterpret_cast<New>(library != nullptr ? dlsym(library, "mpg123_new") : nullptr);
    static const auto param =
        reinterpret_cast<Param>(library != nullptr ? dlsym(library, "mpg123_param2") : nullptr);
    if (real == nullptr) {
        if (error != nullptr) {
            *error = MPG123_ERR;
        }
        return nullptr;
    }
    mpg123_handle* handle = real(decoder, error);
    if (handle != nullptr && param != nullptr) {
        param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    }
    return handle;
}

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
            Say(std::string("closing a sound file failed: ") + sf_error_number(error));
        }
    }
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

// Why the file cannot be read at all, in a user's words; empty when it can. libsndfile's
// own errors do not tell these apart (a missing file and random bytes read alike).
std::string WhyUnreadable(const std::filesystem::path& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return "the file is missing";
        }
        return errno == EACCES ? "Zelim may not read it (permission denied)"
                               : std::string("it cannot be read: ") + std::strerror(errno);
    }
    if (!S_ISREG(status.st_mode)) {
        return "it is not a file";
    }
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno == EACCES ? "Zelim may not read it (permission denied)"
                               : std::string("it cannot be read: ") + std::strerror(errno);
    }
    ::close(fd);
    if (status.st_size == 0) {
        return "the file is empty";
    }
    return {};
}

constexpr const char* kNotASound = "it is not a sound file that Zelim can decode";

// The file opened for decoding, or nil with the reason, in a user's words.
SndfilePtr OpenFile(const std::filesystem::path& file, SF_INFO& info, std::string& why) {
    info = SF_INFO{};
    why = WhyUnreadable(file);
    if (!why.empty()) {
        return nullptr;
    }
    SndfilePtr decoder(sf_open(file.c_str(), SFM_READ, &info));
    if (!decoder || info.channels <= 0 || info.samplerate <= 0) {
        why = kNotASound;
        return nullptr;
    }
    return decoder;
}

// A sound that cannot play is usually asked to play again and again: each distinct
// complaint is made once per process.
void ReportOnce(const std::string& message) {
    SayOnce(message);
}

std::string CannotPlay(const std::filesystem::path& file, const std::string& why) {
    return "cannot play " + file.string() + ": " + why;
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
            const detail::StreamList::Hold hold(system->Streams(), detail::StreamList::Use::Close);
            if (const PaError error = Pa_CloseStream(stream); error != paNoError) {
                Say(std::string("closing a sound's output stream failed: ") +
                    Pa_GetErrorText(error));
            }
        }
    }
};

// Plays in flight, in every Sound: the runtime's exit waits for them.
struct Plays {
    std::mutex mutex;
    std::condition_variable ended;
    int count = 0; // guarded by mutex
};

Plays& PlaysInFlight() {
    static Plays plays;
    return plays;
}

} // namespace

void WaitForSoundsToEnd() {
    Plays& plays = PlaysInFlight();
    std::unique_lock lock(plays.mutex);
    plays.ended.wait(lock, [&plays] { return plays.count == 0; });
}

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
    std::string why;
    SndfilePtr decoder = OpenFile(file, info, why);
    if (!decoder) {
        ReportOnce(CannotPlay(file, why));
        return nullptr;
    }
    // A header alone is not a sound: the first block must decode.
    std::vector<float> block(static_cast<std::size_t>(kProbeFrames) *
                             static_cast<std::size_t>(info.channels));
    if (sf_readf_float(decoder.get(), block.data(), kProbeFrames) <= 0 ||
        sf_error(decoder.get()) != SF_ERR_NO_ERROR) {
        ReportOnce(CannotPlay(file, kNotASound));
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
    std::string why;
    SndfilePtr decoder = OpenFile(impl.file, info, why);
    if (!decoder) {
        ReportOnce(CannotPlay(impl.file, why));
        return;
    }
    auto output = std::make_unique<OutputStream>();
    if (const std::string error = impl.OpenOutput(*output, info); !error.empty()) {
        ReportOnce(error);
        return;
    }
    impl.playing = true;
    {
        const std::lock_guard count(PlaysInFlight().mutex);
        ++PlaysInFlight().count;
    }
    impl.player = std::thread(&Impl::PlayToEnd, &impl, std::move(decoder), info, std::move(output));
}

std::string Sound::Impl::OpenOutput(OutputStream& output, const SF_INFO& info) const {
    const std::string cannot = CannotPlay(file, "");
    int initError = paNoError;
    output.system = detail::PortAudioSystem::Acquire(initError);
    if (!output.system) {
        return cannot + "PortAudio cannot initialise: " + Pa_GetErrorText(initError);
    }
    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    const PaDeviceInfo* deviceInfo = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
    if (deviceInfo == nullptr) {
        // Not per file: without a device no sound plays, and one line says so.
        return "no audio output device: PortAudio found no default output device "
               "(is a sound server or sound card available?); sounds stay silent";
    }
    if (!detail::PortAudioSystem::CanOpen(device, false)) {
        return cannot + "the sound server is not running";
    }
    PaStreamParameters parameters{};
    parameters.device = device;
    parameters.channelCount = info.channels;
    parameters.sampleFormat = paFloat32;
    parameters.suggestedLatency = std::max(deviceInfo->defaultHighOutputLatency, kOutputLatency);
    parameters.hostApiSpecificStreamInfo = nullptr;
    {
        const detail::StreamList::Hold hold(output.system->Streams(),
                                            detail::StreamList::Use::Open);
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
        ReportOnce("ending the play of " + file.string() + " failed: " + Pa_GetErrorText(error));
    }
    output.reset();
    decoder.reset();
    playing = false;
    Plays& plays = PlaysInFlight();
    {
        const std::lock_guard count(plays.mutex);
        --plays.count;
    }
    plays.ended.notify_all();
}

// A block is written only once it fits, so no write blocks and a stop request is answered
// at once.
void Sound::Impl::WriteSound(PlayState& play, SNDFILE* decoder) {
    const auto failed = [this](const std::string& why) {
        ReportOnce("playing " + file.string() + " failed: " + why);
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
            // The host tells of freed room late and a period at a time: a block never fits
            // sooner than a block's time after the last write, so no wake-up comes before.
            play.stopped = StopRequestedBy(
                std::max(Clock::now() + DurationOf(play.blockFrames - space, play.rate),
                         lastWrite + DurationOf(play.blockFrames, play.rate)));
            continue;
        }
        const sf_count_t frames = sf_readf_float(decoder, play.block.data(), play.blockFrames);
        if (frames <= 0) {
            if (sf_error(decoder) != SF_ERR_NO_ERROR) {
                ReportOnce("decoding " + file.string() +
                           " failed part-way: " + sf_strerror(decoder));
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
