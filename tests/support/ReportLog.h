#pragma once

#include "platform/Runtime.h"

#include <cstddef>
#include <mutex>
#include <vector>

namespace testsupport {

// Reports of exceptions that left a handler or reached the top, collected for a scope.
class ReportLog {
public:
    ReportLog();
    ~ReportLog();
    std::vector<platform::ExceptionReport> Reports() const;
    std::size_t Count() const;

private:
    mutable std::mutex mutex_;
    std::vector<platform::ExceptionReport> reports_;
};

} // namespace testsupport
