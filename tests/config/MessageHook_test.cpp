#include "config/MessageHook.h"

#include <gtest/gtest.h>

#include <vector>

TEST(ErrorMessageHook, InstalledHookReceivesMessagesAndCanBeRemoved) {
    std::vector<std::string> seen;
    ErrorMessageHook previous = SetErrorMessageHook(
        [&](const std::string& text, const std::string& caption) { seen.push_back(caption + "|" + text); });
    ShowErrorMessage("first", "Error");
    ErrorMessageHook mine = SetErrorMessageHook(previous);
    ASSERT_TRUE(mine);
    ::testing::internal::CaptureStderr();
    ShowErrorMessage("second", "Title");
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(seen, std::vector<std::string>{"Error|first"});
    // Without a hook the message goes to standard error (and syslog).
    EXPECT_EQ(err, "Title: second\n");
}
