#include "support/TestSupport.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace testsupport {

std::filesystem::path SourceDir() {
    return ZELIM_SOURCE_DIR;
}

std::filesystem::path BundleDir() {
    return ZELIM_BUNDLE_DIR;
}

std::filesystem::path AudioServerDir() {
    return ZELIM_AUDIO_DIR;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zelim-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void Shell(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("command failed: " + command);
    }
}

void MakeToneMp3(const std::filesystem::path& file, double seconds, int hertz) {
    Shell("sox -D -R -n -r 44100 -c 2 -C 128 '" + file.string() + "' synth " +
          std::to_string(seconds) + " sine " + std::to_string(hertz) + " gain -12");
}

} // namespace testsupport
