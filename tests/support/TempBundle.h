#pragma once

#include "support/TestSupport.h"

#include <filesystem>

namespace testsupport {

// A temporary bundle laid out as installed, ROOT/bin/zelim beside ROOT/Resources, which the
// platform takes for the running program's while this lives.
class TempBundle {
public:
    enum class Resources { Made, Missing };
    explicit TempBundle(Resources resources = Resources::Made);
    ~TempBundle(); // the platform finds the real executable again
    TempBundle(const TempBundle&) = delete;
    TempBundle& operator=(const TempBundle&) = delete;

    const std::filesystem::path& Root() const { return root_.Path(); }
    std::filesystem::path ResourcesFolder() const { return root_.Path() / "Resources"; }

private:
    TempDir root_;
};

} // namespace testsupport
