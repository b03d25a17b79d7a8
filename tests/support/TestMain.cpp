#include <gtest/gtest.h>

#include <cstdlib>

// Sanitizer options of the test binaries: the runtimes ask for these before main.
extern "C" const char* __lsan_default_options() {
    return "suppressions=" ZELIM_LSAN_SUPPRESSIONS;
}
extern "C" const char* __tsan_default_options() {
    return "suppressions=" ZELIM_TSAN_SUPPRESSIONS " second_deadlock_stack=1";
}

int main(int argc, char** argv) {
    // GUI tests run on Qt's offscreen platform unless the caller chose one (Xvfb).
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Every audio client of the tests talks to the private server, never the user's.
    setenv("PULSE_SERVER", "unix:" ZELIM_AUDIO_DIR "/native", 1);
    setenv("PULSE_RUNTIME_PATH", ZELIM_AUDIO_DIR "/runtime", 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
