#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

// The project's source folder, the built bundle (bin/zelim, Resources/) and the private
// audio server's folder.
std::filesystem::path SourceDir();
std::filesystem::path BundleDir();
std::filesystem::path AudioServerDir();

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
