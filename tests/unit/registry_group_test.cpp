// The registry group helper over the fake registry, which counts groups.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "support/fakes.h"
#include "utils/registry_group.h"

namespace {

namespace err = platform::err;
using VkSharemapper::RegistryGroup;

TEST(RegistryGroup, EndsWhatItBeganOnce) {
  fakes::FakeRegistry fake;
  const platform::Override use(&fake);
  {
    RegistryGroup group(true);
    EXPECT_TRUE(fake.lastGroupWrites);
    EXPECT_EQ(err::kSuccess, group.Began());
    EXPECT_EQ(err::kSuccess, group.End());
    EXPECT_EQ(err::kSuccess, group.End());
  }
  { const RegistryGroup reads(false); }  // its end ends it
  EXPECT_FALSE(fake.lastGroupWrites);
  EXPECT_EQ(2, fake.groupsBegun);
  EXPECT_EQ(2, fake.groupsEnded);

  // A group that did not begin is not ended: that would end another.
  fake.beginGroupResult = err::kAccessDenied;
  {
    RegistryGroup refused(true);
    EXPECT_EQ(err::kAccessDenied, refused.Began());
    EXPECT_EQ(err::kSuccess, refused.End());
  }
  EXPECT_EQ(2, fake.groupsEnded);
}

}  // namespace
