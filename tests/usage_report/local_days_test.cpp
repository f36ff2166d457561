// Local days as UTC ranges: the bounds follow the zone's clock changes, and
// the buckets of a period meet without gaps and are cut to the period.
#include <gtest/gtest.h>

#include "central_europe.h"
#include "calendar/local_days.h"

using namespace calendar;

namespace {

CalendarDate Date(const char* psz) {
  CalendarDate d;
  EXPECT_TRUE(ParseDate(psz, d)) << psz;
  return d;
}

TEST(LocalDays, DaysFollowTheZonesClockChanges) {
  const TIME_ZONE_INFORMATION tz = CentralEurope();
  const CLocalDays days(&tz);
  // 2025-01-01 00:00 CET is 2024-12-31 23:00 UTC.
  EXPECT_EQ(days.StartOf(Date("2025-01-01")), 1735686000);
  // The day summer time begins has 23 hours, the day it ends 25.
  EXPECT_EQ(days.StartOf(Date("2025-03-31")) - days.StartOf(Date("2025-03-30")), 23 * 3600);
  EXPECT_EQ(days.StartOf(Date("2025-10-27")) - days.StartOf(Date("2025-10-26")), 25 * 3600);
  // In summer a local day begins at 22:00 UTC the day before.
  EXPECT_EQ(days.StartOf(Date("2025-07-01")), 1751320800);
}

TEST(LocalDays, BucketsMeetWithoutGapsAndAreCutToThePeriod) {
  const TIME_ZONE_INFORMATION tz = CentralEurope();
  const CLocalDays days(&tz);
  const std::vector<TimeBucket> months = MonthBuckets(days, Date("2024-12-15"), Date("2025-03-30"));
  ASSERT_EQ(months.size(), 4u);
  EXPECT_EQ(months[0].label, "2024-12");
  EXPECT_EQ(months[3].label, "2025-03");
  EXPECT_EQ(months[0].tBegin, days.StartOf(Date("2024-12-15")));
  EXPECT_EQ(months[1].tBegin, days.StartOf(Date("2025-01-01")));
  EXPECT_EQ(months[3].tEnd, days.StartOf(Date("2025-03-31")));
  for (size_t i = 1; i < months.size(); ++i) EXPECT_EQ(months[i].tBegin, months[i - 1].tEnd);

  // Across a year's end and a leap day.
  const std::vector<TimeBucket> d = DayBuckets(days, Date("2024-02-28"), Date("2024-03-01"));
  ASSERT_EQ(d.size(), 3u);
  EXPECT_EQ(d[1].label, "2024-02-29");
  EXPECT_EQ(d[2].tEnd - d[0].tBegin, 3 * 86400);
}

TEST(LocalDays, OnlyDaysThatExistAreParsed) {
  CalendarDate d;
  EXPECT_TRUE(ParseDate("2024-02-29", d));
  for (const char* bad : {"2025-02-29", "2025-13-01", "2025-00-10", "2025-4-01", "2025/04/01",
                          "20250401", "2025-04-01x", "", "1600-12-31", "9999-01-01"}) {
    EXPECT_FALSE(ParseDate(bad, d)) << bad;
  }
}

}  // namespace
