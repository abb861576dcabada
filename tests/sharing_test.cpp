// The process's own sharing rules: a file is shared by readers only, for as
// long as any of them still holds it.
#include <gtest/gtest.h>

#include <vector>

#include "platform/sharing.hpp"

namespace glyphound::testing {
namespace {

struct Step {
    enum { Acquire, Release } what;
    Access access;
};

struct SharingCase {
    const char* what;
    std::vector<Step> steps;
    bool readPermitted, writePermitted;
};

const SharingCase kSharingCases[] = {
    {"nobody holds it", {}, true, true},
    {"a reader", {{Step::Acquire, Access::Read}}, true, false},
    {"a writer", {{Step::Acquire, Access::Write}}, false, false},
    {"one of two readers gone",
     {{Step::Acquire, Access::Read}, {Step::Acquire, Access::Read}, {Step::Release, Access::Read}}, true, false},
    {"both readers gone",
     {{Step::Acquire, Access::Read},
      {Step::Acquire, Access::Read},
      {Step::Release, Access::Read},
      {Step::Release, Access::Read}},
     true, true},
    {"the writer gone", {{Step::Acquire, Access::Write}, {Step::Release, Access::Write}}, true, true},
    {"a reader refused beside the writer", {{Step::Acquire, Access::Write}, {Step::Acquire, Access::Read}}, false, false},
};

TEST(Sharing, AFileIsFreeOnlyOnceEveryHolderIsGone) {
    const FileIdentity file{1, 2}, other{1, 3};
    for (const SharingCase& c : kSharingCases) {
        SCOPED_TRACE(c.what);
        SharingRegistry registry;
        for (const Step& step : c.steps)
            if (step.what == Step::Acquire)
                registry.acquire(file, step.access);
            else
                registry.release(file, step.access);
        EXPECT_EQ(registry.permits(file, Access::Read), c.readPermitted);
        EXPECT_EQ(registry.permits(file, Access::Write), c.writePermitted);
        EXPECT_TRUE(registry.permits(other, Access::Write));
    }
}

}  // namespace
}  // namespace glyphound::testing
