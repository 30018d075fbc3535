// Tests of the running program on the private sound server of
// scripts/test.sh: the forms created, the first activation done (the views
// shown, the test microphone captured), everything torn down afterwards.
#pragma once

#include "common/app_support.h"
#include "common/pulse_support.h"

#include "capture/WaveIn.h"
#include "platform/soundserver.h"
#include "state/global.h"

#include <gtest/gtest.h>

#include <memory>

class LiveProgram : public ::testing::Test {
protected:
    std::unique_ptr<AppHarness> app;

    void SetUp() override
    {
        if (!testsupport::HavePrivateServer())
            GTEST_SKIP() << "needs the private sound server of scripts/test.sh";
        app = std::make_unique<AppHarness>(false);
        IsInstalled = true;
        ASSERT_TRUE(WaitFor([] { return Started && InOpen; }, 3000)) << "first activation";
    }

    void TearDown() override
    {
        app.reset();
        platform::ResetServer();
    }

    // The derived fixtures' own set-up goes on only when this one got through.
    bool Running() const { return app && !IsSkipped() && !HasFatalFailure(); }
};
