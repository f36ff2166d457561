// Quota periods on the local calendar of a zone with daylight saving
// (Central Europe): where each period begins and ends, to the second.
#include <gtest/gtest.h>

#include "central_europe.h"
#include "page_quota/quota_period.h"

using namespace page_quota;

namespace {

const TIME_ZONE_INFORMATION kZone = CentralEurope();
const calendar::CLocalDays kDays(&kZone);

Period Parsed(const char* text) {
  Period p;
  EXPECT_TRUE(ParsePeriod(text, p)) << text;
  return p;
}

int64_t Midnight(const char* date) {
  calendar::CalendarDate d;
  EXPECT_TRUE(calendar::ParseDate(date, d)) << date;
  return kDays.StartOf(d);
}

TEST(QuotaPeriod, TheLastSecondOfAMonthIsInItAndTheFirstOfTheNextBeginsANewOne) {
  const Period month = Parsed("month");
  const int64_t tMarch = Midnight("2026-03-01");   // 2026-02-28 23:00 UTC
  const Window february = WindowAt(month, tMarch - 1, kDays);
  EXPECT_EQ(february.tBegin, Midnight("2026-02-01"));
  EXPECT_EQ(february.tEnd, tMarch);
  const Window march = WindowAt(month, tMarch, kDays);
  EXPECT_EQ(march.tBegin, tMarch);
  // March loses an hour to summer time: its end is 31 days less an hour on.
  EXPECT_EQ(march.tEnd - march.tBegin, 31 * 86400 - 3600);
  EXPECT_EQ(march.tEnd, Midnight("2026-04-01"));
}

TEST(QuotaPeriod, AWeekRunsFromMondayAndADayIsALocalDay) {
  const Period week = Parsed("week");
  // 2026-01-01 is a Thursday; its week began on Monday 2025-12-29.
  const Window w = WindowAt(week, Midnight("2026-01-01") + 12 * 3600, kDays);
  EXPECT_EQ(w.tBegin, Midnight("2025-12-29"));
  EXPECT_EQ(w.tEnd, Midnight("2026-01-05"));
  // The last second of Sunday is in the week; Monday's first is not.
  EXPECT_EQ(WindowAt(week, Midnight("2026-01-05") - 1, kDays).tBegin, Midnight("2025-12-29"));
  EXPECT_EQ(WindowAt(week, Midnight("2026-01-05"), kDays).tBegin, Midnight("2026-01-05"));
  // The Sunday summer time ends has 25 hours.
  const Window day = WindowAt(Parsed("day"), Midnight("2026-10-25") + 3600, kDays);
  EXPECT_EQ(day.tEnd - day.tBegin, 25 * 3600);
}

TEST(QuotaPeriod, ATermSpanAppliesOnlyFromItsFirstDayToTheEndOfItsLast) {
  const Period term = Parsed("2026-09-01..2027-01-31");
  const int64_t tFirst = Midnight("2026-09-01"), tAfter = Midnight("2027-02-01");
  EXPECT_FALSE(WindowAt(term, tFirst - 1, kDays).bApplies);
  const Window during = WindowAt(term, tFirst, kDays);
  EXPECT_TRUE(during.bApplies);
  EXPECT_EQ(during.tBegin, tFirst);
  EXPECT_EQ(during.tEnd, tAfter);
  EXPECT_TRUE(WindowAt(term, tAfter - 1, kDays).bApplies);
  EXPECT_FALSE(WindowAt(term, tAfter, kDays).bApplies);
}

TEST(QuotaPeriod, YearAndNoneCoverWhatTheySay) {
  const Window year = WindowAt(Parsed("year"), Midnight("2026-12-31"), kDays);
  EXPECT_EQ(year.tBegin, Midnight("2026-01-01"));
  EXPECT_EQ(year.tEnd, Midnight("2027-01-01"));
  const Window none = WindowAt(Parsed("none"), 0, kDays);
  EXPECT_TRUE(none.bApplies);
  EXPECT_EQ(none.tBegin, -kNoBound);
  EXPECT_EQ(none.tEnd, kNoBound);
}

TEST(QuotaPeriod, OnlyTheWordsAndWellFormedSpansAreRead) {
  for (const char* text : {"day", "week", "month", "year", "none", "2026-09-01..2026-09-01"}) {
    Period p;
    ASSERT_TRUE(ParsePeriod(text, p)) << text;
    EXPECT_EQ(PeriodText(p), text);
  }
  for (const char* text : {"", "Month", "days", "2026-09-02..2026-09-01", "2026-09-01..",
                           "2026-02-30..2026-03-01", "2026-09-01...2026-09-02",
                           "2026-09-01..2026-09-0x"}) {
    Period p;
    EXPECT_FALSE(ParsePeriod(text, p)) << text;
  }
}

}  // namespace
