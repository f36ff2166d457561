// Counting each PRNDATA row once by its id, when ids become visible out of
// order and some never do.
#include <gtest/gtest.h>

#include "page_quota/row_ids.h"

using page_quota::CRowIds;

namespace {

TEST(RowIds, ARowCommittedAfterAHigherIdIsStillReadAndNoneIsCountedTwice) {
  CRowIds ids(60, 600);
  ids.Start(100, {101, 102}, 0);
  EXPECT_EQ(ids.LowWater(), 102);
  // 103 is drawn but not committed; 104 and 105 are seen.
  EXPECT_TRUE(ids.Take(104, 1));
  EXPECT_TRUE(ids.Take(105, 1));
  ids.Advance(1);
  EXPECT_EQ(ids.LowWater(), 102) << "the mark waits below the hole";
  // The next catch-up reads 104 and 105 again: not counted twice.
  EXPECT_FALSE(ids.Take(104, 5));
  EXPECT_TRUE(ids.Take(103, 5)) << "the late commit is counted";
  ids.Advance(5);
  EXPECT_EQ(ids.LowWater(), 105);
  // This service's own report of a row the catch-up counted already.
  EXPECT_FALSE(ids.Take(103, 6));
}

TEST(RowIds, AHoleThatNeverFillsIsGivenUpAfterTheGraceTime) {
  CRowIds ids(60, 600);
  ids.Start(0, {}, 0);
  EXPECT_TRUE(ids.Take(1, 0));
  EXPECT_TRUE(ids.Take(5, 10));   // 2 to 4 rolled back
  ids.Advance(10);
  EXPECT_EQ(ids.LowWater(), 1);
  ids.Advance(69);
  EXPECT_EQ(ids.LowWater(), 1);
  ids.Advance(70);
  EXPECT_EQ(ids.LowWater(), 5) << "the whole hole is given up at once";
  // A second hole waits its own grace time from when it is first met.
  EXPECT_TRUE(ids.Take(9, 70));
  ids.Advance(100);
  EXPECT_EQ(ids.LowWater(), 5);
  ids.Advance(159);
  EXPECT_EQ(ids.LowWater(), 5);
  ids.Advance(160);
  EXPECT_EQ(ids.LowWater(), 9);
  // Ids below the mark are forgotten after the retention time.
  ids.Advance(800);
  EXPECT_EQ(ids.Remembered(), 0u);
}

}  // namespace
