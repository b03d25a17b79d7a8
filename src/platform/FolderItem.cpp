#include "platform/FolderItem.h"

#include "platform/Diagnostics.h"
#include "platform/Sound.h"
#include "platform/StackGuard.h"

#include <mutex>
#include <system_error>

namespace platform {
namespace {

std::mutex executableMutex;
std::filesystem::path executableForTesting; // test hook; empty: the real executable

std::filesystem::path Executable() {
    {
        const std::lock_guard lock(executableMutex);
        if (!executableForTesting.empty()) {
            return executableForTesting;
        }
    }
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : path;
}

} // namespace

FolderItem::FolderItem(std::filesystem::path path) : path_(std::move(path)) {
    CheckStack();
}

std::shared_ptr<FolderItem> FolderItem::Child(std::string_view name, bool followAliases) const {
    CheckStack();
    // Only a plain name: a path or ".." would reach outside this folder.
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos) {
        return nullptr;
    }
    const std::filesystem::path child = path_ / std::filesystem::path(name);
    std::error_code error;
    if (!followAliases) {
        return std::filesystem::exists(std::filesystem::symlink_status(child, error))
                   ? std::make_shared<FolderItem>(child)
                   : nullptr;
    }
    if (!std::filesystem::exists(child, error)) {
        return nullptr; // also a dangling link
    }
    if (!std::filesystem::is_symlink(child, error)) {
        return std::make_shared<FolderItem>(child);
    }
    auto target = std::filesystem::canonical(child, error);
    return error ? nullptr : std::make_shared<FolderItem>(std::move(target));
}

std::shared_ptr<Sound> FolderItem::OpenAsSound() const {
    CheckStack();
    return Sound::Open(path_);
}

std::shared_ptr<FolderItem> GetApplicationBundleResources() {
    CheckStack();
    const std::filesystem::path executable = Executable();
    if (executable.empty()) {
        return nullptr;
    }
    auto resources = executable.parent_path().parent_path() / "Resources";
    std::error_code error;
    if (!std::filesystem::is_directory(resources, error)) {
        SayOnce("no Resources folder next to " + executable.parent_path().string());
        return nullptr;
    }
    return std::make_shared<FolderItem>(std::move(resources));
}

void SetExecutablePathForTesting(const std::filesystem::path& executable) {
    const std::lock_guard lock(executableMutex);
    executableForTesting = executable;
}

} // namespace platform
