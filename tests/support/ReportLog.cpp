#include "support/ReportLog.h"

#include <mutex>

namespace testsupport {

ReportLog::ReportLog() {
    platform::SetExceptionReportSinkForTesting([this](const platform::ExceptionReport& r) {
        std::lock_guard lock(mutex_);
        reports_.push_back(r);
    });
}

ReportLog::~ReportLog() {
    platform::SetExceptionReportSinkForTesting({});
}

std::vector<platform::ExceptionReport> ReportLog::Reports() const {
    std::lock_guard lock(mutex_);
    return reports_;
}

std::size_t ReportLog::Count() const {
    std::lock_guard lock(mutex_);
    return reports_.size();
}

} // namespace testsupport
