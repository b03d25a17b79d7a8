#pragma once

#include <filesystem>
#include <memory>
#include <string_view>

namespace platform {

class Sound;

class FolderItem {
public:
    explicit FolderItem(std::filesystem::path path);

    // The child item of that name, or nil when no such file or folder exists.
    // followAliases: symbolic links are followed when true.
    std::shared_ptr<FolderItem> Child(std::string_view name, bool followAliases = true) const;
    // nil when the file cannot be decoded as a sound; stderr says once why, naming the file.
    std::shared_ptr<Sound> OpenAsSound() const;

    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// The folder "Resources" in the parent of the folder that holds the executable, or nil
// when there is none (said once on stderr).
std::shared_ptr<FolderItem> GetApplicationBundleResources();

// Test hook: resolve the bundle as if the executable were at this path (empty: the real one).
void SetExecutablePathForTesting(const std::filesystem::path& executable);

} // namespace platform
