#include <gtest/gtest.h>

#include "platform/sharing.hpp"

namespace glyphound {
namespace {

const FileIdentity kRom{1, 100};
const FileIdentity kOther{1, 101};

TEST(SharingRules, ReadersShareOnlyWithReaders) {
    SharingRegistry sharing;
    EXPECT_TRUE(sharing.acquire(kRom, Access::Read));
    EXPECT_TRUE(sharing.acquire(kRom, Access::Read));
    EXPECT_FALSE(sharing.acquire(kRom, Access::Write));
    EXPECT_TRUE(sharing.acquire(kOther, Access::Write));
    sharing.release(kRom, Access::Read);
    EXPECT_FALSE(sharing.acquire(kRom, Access::Write));
    sharing.release(kRom, Access::Read);
    EXPECT_TRUE(sharing.acquire(kRom, Access::Write));
}

TEST(SharingRules, WriterSharesWithNobody) {
    SharingRegistry sharing;
    EXPECT_TRUE(sharing.acquire(kRom, Access::Write));
    EXPECT_FALSE(sharing.acquire(kRom, Access::Read));
    EXPECT_FALSE(sharing.acquire(kRom, Access::Write));
    sharing.release(kRom, Access::Write);
    EXPECT_TRUE(sharing.acquire(kRom, Access::Read));
}

TEST(SharingRules, SameInodeOnAnotherDeviceIsAnotherFile) {
    SharingRegistry sharing;
    EXPECT_TRUE(sharing.acquire({1, 5}, Access::Write));
    EXPECT_TRUE(sharing.acquire({2, 5}, Access::Write));
}

}  // namespace
}  // namespace glyphound
