#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

// The lines the platform says on stderr, collected while this lives.
class SaidLines {
public:
    SaidLines();
    ~SaidLines();
    SaidLines(const SaidLines&) = delete;
    SaidLines& operator=(const SaidLines&) = delete;

    // How many of the lines hold `part`.
    int Count(const std::string& part);

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

} // namespace testsupport
