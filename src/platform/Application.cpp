#include "platform/Application.h"

#include "platform/ClassRecord.h"
#include "platform/StackGuard.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<bool> supportsHiDPI{false};
}

const ClassRecord& Application::ClassInfo() {
    static const ClassRecord record{
        .name = "Application",
        .events = {"Activate", "AppearanceChanged", "CancelClose", "Close", "Deactivate",
                   "EnableMenuItems", "HandleAppleEvent", "NewDocument", "Open", "OpenDocument",
                   "UnhandledException"},
    };
    return record;
}

Application::Application() : hiDPIAtCreation_(supportsHiDPI.load()) {}

void Application::SetSupportsHiDPI(bool supports) {
    CheckStack();
    supportsHiDPI.store(supports);
}

bool Application::SupportsHiDPI() {
    return supportsHiDPI.load();
}

void Application::x_SetVersionData(std::int64_t major, std::int64_t minor, std::int64_t bug,
                                   std::int64_t nonRelease, std::int64_t stageCode,
                                   std::string longVersion, std::string shortVersion,
                                   std::string packageInfo) {
    CheckStack();
    version_ = VersionData{major,
                           minor,
                           bug,
                           nonRelease,
                           stageCode,
                           std::move(longVersion),
                           std::move(shortVersion),
                           std::move(packageInfo)};
}

} // namespace platform
