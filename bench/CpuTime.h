#pragma once

#include <sys/resource.h>

// CPU time (user and system) this process has used so far, in seconds: a finer count than
// GNU time's hundredths, and one that can be taken in the middle of a run.
inline double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}
