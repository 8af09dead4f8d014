#include <windows.h>

#include <gtest/gtest.h>

#include "app/message_loop.h"

namespace {

TEST(MessageLoop, EndsWithTheQuitCodeOrWithOneWhenNoMessageCanBeGot) {
    PostQuitMessage(7);
    EXPECT_EQ(RunMessageLoop(), 7);

    // Getting a message for a handle that names no window fails and fills
    // nothing in: the loop must not take its exit code from the message. (No
    // window is made here: the handle's low word, 0, is one no window gets.)
    const HWND noWindow = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0x10000));
    ASSERT_FALSE(IsWindow(noWindow));
    EXPECT_EQ(RunMessageLoop(noWindow), 1);
}

}  // namespace
