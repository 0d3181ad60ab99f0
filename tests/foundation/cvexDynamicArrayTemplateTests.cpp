#include "foundation/cvexDynamicArrayTemplate.h"

#include <gtest/gtest.h>

#include <new>

namespace {

using Bytes = cvexDynamicArrayTemplate<unsigned char>;

void Fill(Bytes &a) {
  for (int i = 0; i < a.count; ++i)
    a.data[i] = static_cast<unsigned char>(i + 1);
}

TEST(DynamicArray, ResizeToZeroFrees) {
  Bytes a;
  a.Resize(8, false);
  EXPECT_TRUE(a.Resize(0, true));
  EXPECT_EQ(a.Count(), 0);
  EXPECT_EQ(a.data, nullptr);
}

TEST(DynamicArray, KeepRetainsTheCommonPrefix) {
  struct Case {
    int from, to;
  };
  for (const Case c : {Case{10, 4}, Case{4, 10}, Case{1, 1}}) {
    Bytes a;
    a.Resize(c.from, false);
    Fill(a);
    a.Resize(c.to, true);
    ASSERT_EQ(a.count, c.to);
    for (int i = 0; i < std::min(c.from, c.to); ++i)
      EXPECT_EQ(a.data[i], i + 1) << c.from << "->" << c.to << " at " << i;
  }
}

// The token reader scans up to data[count] without a bounds test.
TEST(DynamicArray, SentinelPastTheEndIsZero) {
  for (const bool keep : {false, true}) {
    Bytes a;
    a.Resize(3, keep);
    Fill(a);
    a.Resize(5, keep);
    EXPECT_EQ(a.data[5], 0) << keep;
    a.Resize(2, keep);
    EXPECT_EQ(a.data[2], 0) << keep;
  }
}

TEST(DynamicArray, NegativeCountThrows) {
  Bytes kept;
  kept.Resize(4, false);
  Fill(kept);
  EXPECT_THROW(kept.Resize(-1, true), std::bad_alloc);
  ASSERT_EQ(kept.count, 4);
  EXPECT_EQ(kept.data[3], 4);

  Bytes dropped;
  dropped.Resize(4, false);
  EXPECT_THROW(dropped.Resize(-1, false), std::bad_alloc);
  EXPECT_EQ(dropped.count, 0);
  EXPECT_EQ(dropped.data, nullptr);
}

} // namespace
