#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

// A folder from the test environment, set by CTest (ZELIM_SOURCE_DIR, ZELIM_BUNDLE_DIR).
std::filesystem::path EnvPath(const char* name);

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
