#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

// The project's source folder and the built bundle (bin/zelim, Resources/).
std::filesystem::path SourceDir();
std::filesystem::path BundleDir();

// The private audio server's folder, as tools/audio-test-server knows it; throws when the
// test binary was given none.
std::filesystem::path AudioServerDir();

// Makes the server in `dir` this process's sound server: sets the client environment that
// the server wrote to dir/env (lines `export NAME='value'`). Throws when it cannot be read.
// Must run before PortAudio initialises.
void UseAudioServer(const std::filesystem::path& dir);

// Points every sound client of this process at a server that does not exist, so that tests
// without a server never reach the user's.
void UseNoAudioServer();

// A fresh temporary directory, removed when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A short stereo MP3 tone made with SoX; throws when SoX fails.
void MakeToneMp3(const std::filesystem::path& file, double seconds, int hertz);

// Runs a shell command; throws with the command when it fails.
void Shell(const std::string& command);

} // namespace testsupport
