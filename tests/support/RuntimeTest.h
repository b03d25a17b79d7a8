#pragma once

#include "platform/Runtime.h"
#include "platform/StackGuard.h"

#include <gtest/gtest.h>

namespace testsupport {

// A test with the framework's runtime up, as at the start of a run, and torn down after;
// the stack check's test hook is reset both ways.
class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::ResetStackCheckForTesting();
        platform::RuntimeInit();
    }
    void TearDown() override {
        platform::ResetStackCheckForTesting();
        platform::RuntimeExit();
    }
};

} // namespace testsupport
