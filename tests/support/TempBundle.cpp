#include "support/TempBundle.h"

#include "platform/FolderItem.h"

#include <fstream>

namespace testsupport {

TempBundle::TempBundle(Resources resources) {
    std::filesystem::create_directories(root_.Path() / "bin");
    std::ofstream(root_.Path() / "bin" / "zelim").flush();
    if (resources == Resources::Made) {
        std::filesystem::create_directories(ResourcesFolder());
    }
    platform::SetExecutablePathForTesting(root_.Path() / "bin" / "zelim");
}

TempBundle::~TempBundle() {
    platform::SetExecutablePathForTesting({});
}

} // namespace testsupport
