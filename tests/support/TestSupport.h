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

} // namespace testsupport
