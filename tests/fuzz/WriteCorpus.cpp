// Writes the window's four property lists into a folder, as the fuzzer's seed corpus: the
// fuzzer starts from the very bytes the program ships.
#include "window/PropertyLists.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <span>
#include <utility>

namespace {

bool Write(const std::filesystem::path& file, std::span<const std::uint8_t> bytes) {
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    const std::pair<const char*, std::span<const std::uint8_t>> lists[] = {
        {"MainWindowList", kMainWindowList},
        {"StartStopButtonList", kStartStopButtonList},
        {"CheckPlayMusicThreadList", kCheckPlayMusicThreadList},
        {"SampleTimerList", kSampleTimerList},
    };
    for (const auto& [name, bytes] : lists) {
        if (!Write(folder / name, bytes)) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], (folder / name).c_str());
            return 1;
        }
    }
    return 0;
}
