#include "support/SaidLines.h"

#include "platform/Diagnostics.h"

#include <algorithm>

namespace testsupport {

SaidLines::SaidLines() {
    platform::SetDiagnosticSinkForTesting([this](std::string_view line) {
        const std::lock_guard lock(mutex_);
        lines_.emplace_back(line);
    });
}

SaidLines::~SaidLines() {
    platform::SetDiagnosticSinkForTesting({});
}

int SaidLines::Count(const std::string& part) {
    const std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(lines_.begin(), lines_.end(), [&](const auto& l) {
        return l.find(part) != std::string::npos;
    }));
}

} // namespace testsupport
