// A program of the framework that makes no form (a service, a command-line
// tool, the communications stack on its own) runs the application's loop
// without the common controls library: it and what it brings cost a
// download's process several MiB of working set, and only a window with
// controls needs it. This is a program of its own because any form made in
// the same process would load it.
#include <windows.h>

#include <gtest/gtest.h>

#include "framework/application.h"

namespace qv {
namespace {

TEST(ProgramWithoutForms, RunsTheLoopWithoutLoadingTheControlLibraries) {
    Application& app = Application::Instance();
    app.Initialize();
    // A key message goes the way of the dialog keys, where a form would
    // take it; with no form it is dispatched as any other.
    ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_KEYDOWN, VK_TAB, 0));
    ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_USER, 0, 0));
    app.ProcessMessages();
    MSG left;
    EXPECT_FALSE(PeekMessageW(&left, nullptr, 0, 0, PM_NOREMOVE)) << "the loop left message " << left.message;
    // (The theme library is not asked about: the system's window library
    // loads it for every program that shows a window.)
    EXPECT_EQ(GetModuleHandleW(L"comctl32.dll"), nullptr);
}

}  // namespace
}  // namespace qv
