#pragma once

#include "platform/Object.h"

#include <cstdint>
#include <string>

namespace platform {

struct VersionData {
    std::int64_t major = 0, minor = 0, bug = 0, nonRelease = 0, stageCode = 0;
    std::string longVersion, shortVersion, packageInfo;
    bool operator==(const VersionData&) const = default;
};

// The framework's application object; the system derives its one App from it.
class Application : public Object {
public:
    Application();

    static const ClassRecord& ClassInfo();
    const ClassRecord& Class() const override { return ClassInfo(); }

    // Declares high-resolution display support; must come before the object exists.
    static void SetSupportsHiDPI(bool supports);
    static bool SupportsHiDPI();
    // Whether support had been declared when this object was made.
    bool HiDPIDeclaredAtCreation() const { return hiDPIAtCreation_; }

    void x_SetVersionData(std::int64_t major, std::int64_t minor, std::int64_t bug,
                          std::int64_t nonRelease, std::int64_t stageCode, std::string longVersion,
                          std::string shortVersion, std::string packageInfo);
    const VersionData& Version() const { return version_; }

private:
    bool hiDPIAtCreation_;
    VersionData version_;
};

} // namespace platform
