#pragma once
// Every tool of the program, running on its own thread in a scratch directory and
// printing to a captured console.
#include "net/shellstate.h"
#include "platform/scratchdir.h"
#include "support/testwindows.h"
#include "tools/registertools.h"

#include <gtest/gtest.h>

#include <memory>

namespace testing_support {

struct ToolsFixture : ::testing::Test {
    ScratchDir dir;
    CapturedConsole console;
    ui::ProcedureRegistry registry;
    std::unique_ptr<ui::Desktop> desktop;

    ToolsFixture() {
        shell::Sound = 0;
        tools::registerTools(registry);
        desktop = std::make_unique<ui::Desktop>(console.frontEnd, registry);
    }
    ~ToolsFixture() override {
        desktop->closeAll();
        desktop.reset();
        shell::Sound = 0;
    }
};

} // namespace testing_support
