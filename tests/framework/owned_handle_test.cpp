// The handle owner: every handle closed exactly once, whatever the path.
#include "framework/owned_handle.h"

#include <gtest/gtest.h>

#include <vector>

namespace qv {
namespace {

struct CountingCloser {
    using Handle = int;
    using Result = int;
    static Handle Invalid() { return -1; }
    Result Close(Handle h) const {
        closed->push_back(h);
        return h == 13 ? 5 : 0;  // handle 13 fails to close
    }
    std::vector<int>* closed = nullptr;
};
using Owned = OwnedHandle<CountingCloser>;

TEST(OwnedHandle, EveryHandleClosesOnce) {
    std::vector<int> closed;
    CountingCloser closer{&closed};
    {
        Owned a(1, closer), b(2, closer), c(3, closer);
        Owned moved = std::move(a);              // one owner at a time
        b = std::move(c);                        // b's old handle closes now
        EXPECT_EQ(closed, std::vector<int>{2});
        EXPECT_FALSE(a.Valid());
        EXPECT_EQ(b.Get(), 3);
        EXPECT_EQ(c.Close(), 0);                 // nothing left in c
        Owned kept(4, closer);
        EXPECT_EQ(kept.Release(), 4);            // given up: not closed
        Owned failing(13, closer);
        EXPECT_EQ(failing.Close(), 5);           // the close's own result
        EXPECT_EQ(failing.Close(), 0);
    }
    EXPECT_EQ(closed, (std::vector<int>{2, 13, 1, 3}));  // the rest as their owners go
}

}  // namespace
}  // namespace qv
