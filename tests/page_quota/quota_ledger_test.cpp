// The rule of quotas and the use they count, in memory: which quota
// applies, what a job is judged against, and how rows, resets and periods
// move the use.
#include <gtest/gtest.h>

#include "central_europe.h"
#include "page_quota/quota_ledger.h"

using namespace page_quota;

namespace {

const TIME_ZONE_INFORMATION kZone = CentralEurope();
const calendar::CLocalDays kDays(&kZone);

constexpr int32_t kAnn = 7, kBob = 8, kLaser = 3, kPlotter = 4;
constexpr int32_t kPause = 1, kCancel = 3, kDelete = 5;

int64_t Midnight(const char* date) {
  calendar::CalendarDate d;
  EXPECT_TRUE(calendar::ParseDate(date, d)) << date;
  return kDays.StartOf(d);
}

const int64_t kNow = Midnight("2026-03-18") + 10 * 3600;

QUOTA Quota(int32_t user, int32_t printer, int64_t pages, const char* period, int32_t action,
            bool bColour = false) {
  QUOTA q;
  q.idUser = user;
  q.idPrinter = printer;
  q.pages = pages;
  q.bColourOnly = bColour;
  EXPECT_TRUE(ParsePeriod(period, q.period)) << period;
  q.action = action;
  return q;
}

USE_ROW Row(int64_t t, int32_t printer, int32_t pages, int16_t color = 1) {
  return {t, printer, pages, color};
}

JOB_PAGES Job(int64_t pages, int16_t color = 1) { return {pages, color}; }

TEST(QuotaRule, TheMostSpecificQuotaInForceApplies) {
  // Every level holds a quota with its own action, so the action tells
  // which one judged the job; each limit is 0, so each stops every job.
  CQuotaLedger ledger(CQuotaRules({Quota(kEvery, kEvery, 0, "month", 9),
                                   Quota(kEvery, kLaser, 0, "month", kDelete),
                                   Quota(kAnn, kEvery, 0, "month", kCancel),
                                   Quota(kAnn, kLaser, 0, "month", kPause),
                                   Quota(kBob, kLaser, 0, "2020-01-01..2020-12-31", 2)}),
                      {}, kDays, kNow);
  EXPECT_EQ(ledger.Judge(kAnn, kLaser, Job(1), kNow).action, kPause);
  EXPECT_EQ(ledger.Judge(kAnn, kPlotter, Job(1), kNow).action, kCancel)
      << "a user's own quota beats the quota for everyone on that printer";
  EXPECT_EQ(ledger.Judge(kBob, kLaser, Job(1), kNow).action, kDelete)
      << "a span that is over is not in force";
  EXPECT_EQ(ledger.Judge(kBob, kPlotter, Job(1), kNow).action, 9);
}

TEST(QuotaRule, AJobIsJudgedOnTheUseAndItsPagesOrOnTheUseAloneWhenTheyAreNotKnown) {
  CQuotaLedger ledger(CQuotaRules({Quota(kAnn, kEvery, 10, "month", kPause)}), {}, kDays, kNow);
  ledger.Add(kAnn, Row(kNow - 3600, kLaser, 9));
  ledger.Add(kBob, Row(kNow - 3600, kLaser, 50));   // no quota of bob's: not kept
  const VERDICT over = ledger.Judge(kAnn, kLaser, Job(3), kNow);
  EXPECT_EQ(over.action, kPause);
  EXPECT_EQ(over.use, 9);
  EXPECT_EQ(over.limit, 10);
  EXPECT_EQ(ledger.Judge(kAnn, kLaser, Job(1), kNow).action, 0) << "exactly the limit fits";
  EXPECT_EQ(ledger.Judge(kAnn, kLaser, Job(0), kNow).action, 0) << "9 used, pages not known";
  ledger.Add(kAnn, Row(kNow - 60, kPlotter, 1));
  EXPECT_EQ(ledger.Judge(kAnn, kLaser, Job(0), kNow).action, kPause) << "10 used";
  EXPECT_EQ(ledger.Judge(kBob, kLaser, Job(1000), kNow).action, 0);
  EXPECT_EQ(ledger.Rows(), 2u);
}

TEST(QuotaRule, UseCountsTheQuotasPrinterAndPeriodAndStartsAgainAtAResetOrANewPeriod) {
  const int64_t tApril = Midnight("2026-04-01");
  CQuotaLedger ledger(CQuotaRules({Quota(kAnn, kLaser, 10, "month", kPause)}), {}, kDays, kNow);
  ledger.Add(kAnn, Row(Midnight("2026-02-28"), kLaser, 100));   // last month: not even kept
  ledger.Add(kAnn, Row(Midnight("2026-03-01"), kLaser, 4));
  ledger.Add(kAnn, Row(kNow - 10, kPlotter, 100));              // another printer
  ledger.Add(kAnn, Row(tApril - 1, kLaser, 2));                 // late in the month, told early
  EXPECT_EQ(ledger.Use(0, kAnn, kNow), 6);
  ledger.Add(kAnn, Row(tApril, kLaser, 3));                     // next month's
  EXPECT_EQ(ledger.Use(0, kAnn, tApril - 1), 6);
  EXPECT_EQ(ledger.Use(0, kAnn, tApril), 3) << "the first second of April counts April's";
  // A reset on every printer, then one on another printer: only the first
  // moves this quota's start.
  ledger.SetResets({{{kAnn, kEvery}, kNow}});
  EXPECT_EQ(ledger.Use(0, kAnn, kNow), 2);
  ledger.SetResets({{{kAnn, kEvery}, kNow}, {{kAnn, kPlotter}, tApril}});
  EXPECT_EQ(ledger.Use(0, kAnn, kNow), 2);
  ledger.SetResets({{{kAnn, kLaser}, tApril - 1}});
  EXPECT_EQ(ledger.Use(0, kAnn, kNow), 2);
  EXPECT_EQ(ledger.Judge(kAnn, kLaser, Job(8), kNow).action, 0);
  EXPECT_EQ(ledger.Judge(kAnn, kLaser, Job(9), kNow).action, kPause);
}

TEST(QuotaRule, AColourOnlyQuotaCountsAndJudgesColourJobsOnly) {
  CQuotaLedger ledger(CQuotaRules({Quota(kEvery, kLaser, 5, "month", kPause, true),
                                   Quota(kEvery, kLaser, 100, "month", kCancel)}),
                      {}, kDays, kNow);
  ledger.Add(kAnn, Row(kNow - 100, kLaser, 4, 2));
  ledger.Add(kAnn, Row(kNow - 90, kLaser, 50, 1));
  EXPECT_EQ(ledger.Use(0, kAnn, kNow), 4);
  EXPECT_EQ(ledger.Use(1, kAnn, kNow), 54);
  EXPECT_EQ(ledger.Judge(kAnn, kLaser, Job(2, 2), kNow).action, kPause) << "4 + 2 colour > 5";
  EXPECT_EQ(ledger.Judge(kAnn, kLaser, Job(40, 1), kNow).action, 0)
      << "black and white: only the total of 100 judges it";
  EXPECT_EQ(ledger.Judge(kAnn, kLaser, Job(47, 1), kNow).action, kCancel);
}

TEST(QuotaRule, EveryQuotaOfTheLevelMustFitADayAndATerm) {
  const int64_t tTermStart = Midnight("2026-03-02");
  CQuotaLedger ledger(CQuotaRules({Quota(kEvery, kEvery, 20, "day", kPause),
                                   Quota(kEvery, kEvery, 30, "2026-03-02..2026-06-30", kDelete)}),
                      {}, kDays, kNow);
  EXPECT_EQ(ledger.Horizon(), tTermStart) << "rows are kept from the term's first day";
  ledger.Add(kAnn, Row(tTermStart + 10, kLaser, 25));
  EXPECT_EQ(ledger.Judge(kAnn, kLaser, Job(5), kNow).action, 0);
  EXPECT_EQ(ledger.Judge(kAnn, kLaser, Job(6), kNow).action, kDelete) << "the term's 30";
  ledger.Add(kAnn, Row(kNow - 1, kLaser, 2));
  const VERDICT term = ledger.Judge(kAnn, kLaser, Job(4), kNow);
  EXPECT_EQ(term.action, kDelete);
  EXPECT_EQ(term.use, 27);
  const VERDICT day = ledger.Judge(kAnn, kLaser, Job(19), kNow);
  EXPECT_EQ(day.action, kPause) << "both are passed; the day's quota is the first";
  EXPECT_EQ(day.use, 2);
}

}  // namespace
