#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    // GUI tests run on Qt's offscreen platform unless the caller chose one (Xvfb).
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
