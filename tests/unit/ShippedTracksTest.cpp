// The two tracks that ship in the bundle: they decode, they differ, and they last what
// the README says.
#include "platform/FolderItem.h"
#include "platform/Sound.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace {

std::string Bytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

double Seconds(const std::filesystem::path& file) {
    const std::string command = "soxi -D '" + file.string() + "' 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    double seconds = -1;
    if (!pipe || std::fscanf(pipe.get(), "%lf", &seconds) != 1) {
        return -1;
    }
    return seconds;
}

TEST(ShippedTracks, DecodeDifferAndLastWhatTheReadmeSays) {
    struct Track {
        const char* name;
        double seconds;
    } tracks[] = {{"Local_Forecast_Elevator.mp3", 72}, {"Elevator_Bossa_Nova.mp3", 58}};
    const auto bundled = testsupport::BundleDir() / "Resources";
    for (const auto& track : tracks) {
        SCOPED_TRACE(track.name);
        const auto file = bundled / track.name;
        ASSERT_TRUE(std::filesystem::exists(file));
        EXPECT_EQ(Bytes(file), Bytes(testsupport::SourceDir() / "resources" / track.name))
            << "the build bundles the committed track";
        EXPECT_NE(platform::FolderItem(file).OpenAsSound(), nullptr) << "it must decode";
        EXPECT_NEAR(Seconds(file), track.seconds, 1.0);
    }
    EXPECT_NE(Bytes(bundled / tracks[0].name), Bytes(bundled / tracks[1].name));
}

} // namespace
