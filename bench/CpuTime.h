#pragma once

#include <sys/resource.h>

// What this process has used so far, all its threads: CPU time (user and system) in
// seconds, a finer count than GNU time's hundredths, and wake-ups (context switches,
// voluntary and not). Both can be taken in the middle of a run.
struct ProcessUsage {
    double cpuSeconds = 0.0;
    long wakeups = 0;
};

inline ProcessUsage Usage() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return {seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_nvcsw + usage.ru_nivcsw};
}
