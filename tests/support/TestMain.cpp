#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string_view>

// Sanitizer options of the test binaries: the runtimes ask for these before main.
extern "C" const char* __lsan_default_options() {
    return "suppressions=" ZELIM_LSAN_SUPPRESSIONS;
}
extern "C" const char* __tsan_default_options() {
    return "suppressions=" ZELIM_TSAN_SUPPRESSIONS " second_deadlock_stack=1";
}

// Usage: TEST-BINARY [--audio-server=DIR] [GoogleTest flags]. Every audio client of the
// tests talks to the private server in DIR (tools/audio-test-server), never the user's.
int main(int argc, char** argv) {
    // GUI tests run on Qt's offscreen platform unless the caller chose one (Xvfb).
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    constexpr std::string_view kServerFlag = "--audio-server=";
    int kept = 1;
    bool server = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.starts_with(kServerFlag)) {
            try {
                testsupport::UseAudioServer(arg.substr(kServerFlag.size()));
            } catch (const std::exception& error) {
                std::fprintf(stderr, "%s: %s\n", argv[0], error.what());
                return 1;
            }
            server = true;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    if (!server) {
        testsupport::UseNoAudioServer();
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
