#include <windows.h>

#include <gtest/gtest.h>

#include "app/message_loop.h"

namespace {

TEST(MessageLoop, EndsWithTheQuitCodeOrWithOneWhenNoMessageCanBeGot) {
    PostQuitMessage(7);
    EXPECT_EQ(RunMessageLoop(), 7);

    // A destroyed window's handle makes getting a message fail, which fills
    // nothing in: the loop must not take its exit code from the message.
    HWND gone = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(gone, nullptr);
    DestroyWindow(gone);
    EXPECT_EQ(RunMessageLoop(gone), 1);
}

}  // namespace
