#include "support/TestSupport.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace testsupport {

std::filesystem::path EnvPath(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        throw std::runtime_error(std::string(name) + " is not set; run the tests through ctest");
    }
    return value;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zelim-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

} // namespace testsupport
