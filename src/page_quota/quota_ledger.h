// The page use that quotas judge, kept in memory: the PRNDATA rows that any
// quota may count (its users, since the earliest period start in force),
// and the use of each quota for each user, kept up to date as rows are
// added, so that a decision about a known user costs a few lookups.
//
// Use is the pages of the user's rows that the quota counts (its printer,
// colour only or not), submitted since the later of the period's start and
// the user's last reset, and before the period's end. It is counted from
// the rows, never kept as a counter of its own, so it is right whoever
// wrote the rows and whenever they came.
//
// Not thread-safe: CPageQuotas holds it under its lock.
#pragma once

#include <stdint.h>

#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

#include "calendar/local_days.h"
#include "page_quota/quota_rules.h"

namespace page_quota {

// What a quota counts of one PRNDATA row.
struct USE_ROW {
  int64_t tSubmitted = 0;   // UTC seconds
  int32_t idPrinter = 0;
  int32_t pages = 0;
  int16_t nColor = 0;       // 2: colour
};

// The latest reset of a user's use: on one printer, or on every printer
// (kEvery), at UTC seconds.
using RESETS = std::map<std::pair<int32_t, int32_t>, int64_t>;   // (user, printer) -> time

// When a user's use of the quota begins to count in the window: the later
// of its start and the user's latest reset on every printer or, for a
// printer's quota, on that printer.
int64_t CountsFrom(const QUOTA& quota, int32_t idUser, const RESETS& resets, const Window& window);

// A job as the decision knows it.
struct JOB_PAGES {
  int64_t pages = 0;     // copies included; 0 when not known yet
  int16_t nColor = 0;    // 2: colour
};

struct VERDICT {
  int32_t action = 0;   // 0: the job fits every quota that applies
  // The quota that stopped the job (or, when it fits, the one with the
  // fewest pages left), if any applies: its limit and the use before the job.
  bool bQuota = false;
  int64_t use = 0;
  int64_t limit = 0;
  int64_t tEnd = 0;     // when the quota's period ends (kNoBound: never)
};

class CQuotaLedger {
 public:
  // The horizon is fixed here: the earliest submission time that a quota
  // in force at tNow (or a span still to come) counts. Rows before it are
  // neither loaded nor kept. Raises std::runtime_error when the system
  // cannot convert a local day.
  CQuotaLedger(CQuotaRules rules, RESETS resets, calendar::CLocalDays days, int64_t tNow);

  int64_t Horizon() const { return m_tHorizon; }
  // Whether rows of the user are kept (a quota of theirs, or one for every
  // user).
  bool Tracks(int32_t idUser) const;

  // Adds one row of the user (ignored when it counts for no quota).
  void Add(int32_t idUser, const USE_ROW& row);
  // Replaces the resets; the use of users whose resets changed is counted
  // again when next asked for.
  void SetResets(RESETS resets);

  // Judges a job of the user on the printer at tNow by the rule of
  // quota_rules.h: a job whose pages are known is stopped when the use and
  // its pages would pass a limit; one whose pages are not known yet, when
  // the use has reached it.
  VERDICT Judge(int32_t idUser, int32_t idPrinter, const JOB_PAGES& job, int64_t tNow);
  // The use of quota i (of All()) by the user at tNow.
  int64_t Use(size_t quota, int32_t idUser, int64_t tNow);

  const CQuotaRules& Rules() const { return m_rules; }
  const RESETS& Resets() const { return m_resets; }
  size_t Rows() const { return m_nRows; }

 private:
  // The use of one quota by one user over [tFrom, tEnd), kept up to date.
  struct ACCOUNT {
    size_t quota = 0;
    int64_t tFrom = 0;
    int64_t tEnd = 0;
    int64_t use = 0;
  };
  struct USER_USE {
    std::vector<USE_ROW> rows;        // in submission order
    std::vector<ACCOUNT> accounts;
  };
  // A quota's window, computed again when the moment leaves it.
  struct QUOTA_WINDOW {
    Window window;
    int64_t tRecheck = -kNoBound;     // compute again at or after this
  };

  const Window& WindowOf(size_t quota, int64_t tNow);
  ACCOUNT& AccountOf(USER_USE& user, int32_t idUser, size_t quota, int64_t tNow);

  CQuotaRules m_rules;
  RESETS m_resets;
  calendar::CLocalDays m_days;
  std::vector<QUOTA_WINDOW> m_windows;   // one per quota
  bool m_bEveryone = false;              // a quota for every user exists
  std::unordered_map<int32_t, USER_USE> m_users;
  size_t m_nRows = 0;
  int64_t m_tHorizon = kNoBound;
};

}  // namespace page_quota
