// The seam behind the message boxes, file dialogs and the desktop opener.

#include "platform/win32/ReplaceableHandler.h"

#include <functional>
#include <string>

#include <gtest/gtest.h>

namespace {

using Handler = std::function<std::string(int)>;

TEST(ReplaceableHandlerTest, SetHandsBackThePreviousOneAndARunningHandlerMayReplaceItself) {
    ReplaceableHandler<Handler> seam;
    EXPECT_FALSE(seam.Get());
    EXPECT_FALSE(seam.Set([](int n) { return "first " + std::to_string(n); }));

    // Like a fixture's handler that puts the previous one back while it
    // runs: neither a lock nor the handler's own captures may be lost then.
    const std::string name = "second";
    const Handler first = seam.Set([&seam, name](int n) {
        seam.Set({});
        return name + " " + std::to_string(n);
    });
    ASSERT_TRUE(first);
    EXPECT_EQ(first(1), "first 1");
    EXPECT_EQ(seam.Get()(2), "second 2");
    EXPECT_FALSE(seam.Get());
}

} // namespace
