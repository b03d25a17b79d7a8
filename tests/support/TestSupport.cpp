#include "support/TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>

namespace testsupport {

std::filesystem::path SourceDir() {
    return ZELIM_SOURCE_DIR;
}

std::filesystem::path BundleDir() {
    return ZELIM_BUNDLE_DIR;
}

namespace {

// The folder travels in the environment, which the process has anyway.
constexpr const char* kAudioServerVariable = "ZELIM_TEST_AUDIO_SERVER";

// NAME and value of a line `export NAME=WORD`, WORD in the shell's quoting: '...' and \c.
std::pair<std::string, std::string> ParseExport(const std::string& line) {
    const std::string prefix = "export ";
    const auto equals = line.find('=');
    if (line.rfind(prefix, 0) != 0 || equals == std::string::npos || equals <= prefix.size()) {
        throw std::runtime_error("not an `export NAME=value` line: " + line);
    }
    std::string value;
    for (std::size_t i = equals + 1; i < line.size(); ++i) {
        if (line[i] == '\'') {
            const auto end = line.find('\'', i + 1);
            if (end == std::string::npos) {
                throw std::runtime_error("unterminated quote in: " + line);
            }
            value.append(line, i + 1, end - i - 1);
            i = end;
        } else if (line[i] == '\\' && i + 1 < line.size()) {
            value += line[++i];
        } else {
            value += line[i];
        }
    }
    return {line.substr(prefix.size(), equals - prefix.size()), value};
}

} // namespace

std::filesystem::path AudioServerDir() {
    const char* dir = std::getenv(kAudioServerVariable);
    if (dir == nullptr) {
        throw std::runtime_error("this test needs an audio server: run it with --audio-server=DIR");
    }
    return dir;
}

void UseAudioServer(const std::filesystem::path& dir) {
    const auto file = dir / "env";
    std::ifstream in(file);
    if (!in) {
        throw std::runtime_error("no audio server environment in " + file.string() +
                                 " (tools/audio-test-server start " + dir.string() +
                                 " [pulseaudio|pipewire])");
    }
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            const auto [name, value] = ParseExport(line);
            setenv(name.c_str(), value.c_str(), 1);
        }
    }
    setenv(kAudioServerVariable, dir.c_str(), 1);
}

void UseNoAudioServer() {
    setenv("PULSE_SERVER", "unix:/nonexistent/zelim-test-no-sound-server", 1);
    setenv("PIPEWIRE_REMOTE", "zelim-test-no-sound-server", 1);
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
