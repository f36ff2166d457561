// Which page quotas apply to a job, by the rule:
// - A quota is set for a user or for every user (-1), on a printer or on
//   every printer (-1). Of the quotas in force at the moment (a span that
//   is over or not begun is not in force), those of the most specific
//   level apply: the user's own on this printer, else the user's own on
//   every printer, else every user's on this printer, else every user's
//   on every printer. So a user's own quota beats the quota for everyone,
//   and a printer's quota beats the quota for every printer.
// - Several quotas may share a level (20 pages a day and 200 a term, or a
//   total beside a colour-only limit): the job must fit every one of them.
// - A colour-only quota counts colour pages only, and judges colour jobs
//   only: a black-and-white job neither uses nor is stopped by it.
#pragma once

#include <stdint.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "page_quota/quota_period.h"

namespace page_quota {

constexpr int32_t kEvery = -1;   // every user, or every printer

struct QUOTA {
  int32_t idUser = kEvery;
  int32_t idPrinter = kEvery;
  int64_t pages = 0;          // the limit
  bool bColourOnly = false;
  Period period;
  int32_t action = 0;         // the SetJob command for a job that does not fit
};

// The same quota slot: a second quota of the same key replaces the first.
bool SameKey(const QUOTA& a, const QUOTA& b);

// Whether a PRNDATA row (its printer and colour) counts toward the quota.
// Colour is the row's Color column: 2 (DMCOLOR_COLOR) is a colour job.
bool Counts(const QUOTA& quota, int32_t idPrinter, int16_t nColor);

// The four levels, most specific first.
enum class Level { UserPrinter, User, Printer, Everyone };
Level LevelOf(const QUOTA& quota);

class CQuotaRules {
 public:
  CQuotaRules() = default;
  explicit CQuotaRules(std::vector<QUOTA> quotas);

  // The indexes of the quotas that apply to a job of the user on the
  // printer, by the rule above; `inForce(i)` tells whether quota i is in
  // force now (a span is not, outside its days).
  template <class InForce>
  std::vector<size_t> Applying(int32_t idUser, int32_t idPrinter, InForce inForce) const;

  const std::vector<QUOTA>& All() const { return m_quotas; }
  bool Empty() const { return m_quotas.empty(); }

 private:
  std::vector<QUOTA> m_quotas;
  // Indexes of the quotas of each user, and of those for every user, so
  // that a decision looks at no other user's quotas.
  std::unordered_map<int32_t, std::vector<size_t>> m_byUser;
  std::vector<size_t> m_everyone;
};

template <class InForce>
std::vector<size_t> CQuotaRules::Applying(int32_t idUser, int32_t idPrinter,
                                          InForce inForce) const {
  std::vector<size_t> found[4];
  auto consider = [&](size_t i) {
    const QUOTA& q = m_quotas[i];
    if (q.idPrinter != kEvery && q.idPrinter != idPrinter) return;
    if (inForce(i)) found[static_cast<int>(LevelOf(q))].push_back(i);
  };
  auto own = m_byUser.find(idUser);
  if (idUser != kEvery && own != m_byUser.end()) {
    for (size_t i : own->second) consider(i);
  }
  for (size_t i : m_everyone) consider(i);
  for (std::vector<size_t>& level : found) {
    if (!level.empty()) return level;
  }
  return {};
}

}  // namespace page_quota
