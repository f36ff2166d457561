#include "page_quota/quota_ledger.h"

#include <algorithm>

namespace page_quota {

CQuotaLedger::CQuotaLedger(CQuotaRules rules, RESETS resets, calendar::CLocalDays days,
                           int64_t tNow)
    : m_rules(std::move(rules)), m_resets(std::move(resets)), m_days(days) {
  m_windows.resize(m_rules.All().size());
  for (size_t i = 0; i < m_rules.All().size(); ++i) {
    if (m_rules.All()[i].idUser == kEvery) m_bEveryone = true;
    const Window& w = WindowOf(i, tNow);
    // A span that is over counts nothing any more.
    if (w.bApplies || tNow < w.tBegin) m_tHorizon = std::min(m_tHorizon, w.tBegin);
  }
}

bool CQuotaLedger::Tracks(int32_t idUser) const {
  if (m_bEveryone) return true;
  for (const QUOTA& q : m_rules.All()) {
    if (q.idUser == idUser) return true;
  }
  return false;
}

void CQuotaLedger::Add(int32_t idUser, const USE_ROW& row) {
  if (row.tSubmitted < m_tHorizon || row.pages <= 0) return;
  auto found = m_users.find(idUser);
  if (found == m_users.end()) {
    if (!Tracks(idUser)) return;
    found = m_users.emplace(idUser, USER_USE()).first;
  }
  USER_USE& user = found->second;
  // Rows mostly come in submission order; a late one is put in its place.
  auto at = std::upper_bound(user.rows.begin(), user.rows.end(), row.tSubmitted,
                             [](int64_t t, const USE_ROW& r) { return t < r.tSubmitted; });
  user.rows.insert(at, row);
  ++m_nRows;
  for (ACCOUNT& account : user.accounts) {
    if (row.tSubmitted >= account.tFrom && row.tSubmitted < account.tEnd &&
        Counts(m_rules.All()[account.quota], row.idPrinter, row.nColor)) {
      account.use += row.pages;
    }
  }
}

void CQuotaLedger::SetResets(RESETS resets) {
  for (auto& user : m_users) {
    const int32_t id = user.first;
    auto changed = [&](const RESETS& a, const RESETS& b) {
      auto from = a.lower_bound({id, INT32_MIN});
      for (auto it = from; it != a.end() && it->first.first == id; ++it) {
        auto other = b.find(it->first);
        if (other == b.end() || other->second != it->second) return true;
      }
      return false;
    };
    if (changed(m_resets, resets) || changed(resets, m_resets)) user.second.accounts.clear();
  }
  m_resets = std::move(resets);
}

int64_t CountsFrom(const QUOTA& quota, int32_t idUser, const RESETS& resets,
                   const Window& window) {
  auto resetOf = [&](int32_t idPrinter) {
    auto it = resets.find({idUser, idPrinter});
    return it == resets.end() ? -kNoBound : it->second;
  };
  int64_t tFrom = std::max(window.tBegin, resetOf(kEvery));
  if (quota.idPrinter != kEvery) tFrom = std::max(tFrom, resetOf(quota.idPrinter));
  return tFrom;
}

const Window& CQuotaLedger::WindowOf(size_t quota, int64_t tNow) {
  QUOTA_WINDOW& cached = m_windows[quota];
  if (tNow >= cached.tRecheck || tNow < cached.window.tBegin) {
    cached.window = WindowAt(m_rules.All()[quota].period, tNow, m_days);
    const Window& w = cached.window;
    cached.tRecheck = w.bApplies ? w.tEnd : (tNow < w.tBegin ? w.tBegin : kNoBound);
  }
  return cached.window;
}

CQuotaLedger::ACCOUNT& CQuotaLedger::AccountOf(USER_USE& user, int32_t idUser, size_t quota,
                                               int64_t tNow) {
  const Window& w = WindowOf(quota, tNow);
  for (ACCOUNT& account : user.accounts) {
    if (account.quota == quota && account.tEnd == w.tEnd) return account;
  }
  // Counted afresh: a new period, a new reset, or the first question.
  const QUOTA& q = m_rules.All()[quota];
  const int64_t tFrom = CountsFrom(q, idUser, m_resets, w);
  ACCOUNT fresh;
  fresh.quota = quota;
  fresh.tFrom = tFrom;
  fresh.tEnd = w.tEnd;
  auto from = std::lower_bound(user.rows.begin(), user.rows.end(), tFrom,
                               [](const USE_ROW& r, int64_t t) { return r.tSubmitted < t; });
  for (auto it = from; it != user.rows.end() && it->tSubmitted < w.tEnd; ++it) {
    if (Counts(q, it->idPrinter, it->nColor)) fresh.use += it->pages;
  }
  user.accounts.erase(std::remove_if(user.accounts.begin(), user.accounts.end(),
                                     [&](const ACCOUNT& a) { return a.quota == quota; }),
                      user.accounts.end());
  user.accounts.push_back(fresh);
  return user.accounts.back();
}

VERDICT CQuotaLedger::Judge(int32_t idUser, int32_t idPrinter, const JOB_PAGES& job,
                            int64_t tNow) {
  VERDICT verdict;
  if (m_rules.Empty()) return verdict;
  const std::vector<size_t> applying = m_rules.Applying(
      idUser, idPrinter, [&](size_t i) { return WindowOf(i, tNow).bApplies; });
  if (applying.empty()) return verdict;
  USER_USE& user = m_users[idUser];
  int64_t leastLeft = kNoBound;
  for (size_t i : applying) {
    const QUOTA& q = m_rules.All()[i];
    // A colour-only quota judges colour jobs only.
    if (!Counts(q, idPrinter, job.nColor)) continue;
    const ACCOUNT& account = AccountOf(user, idUser, i, tNow);
    const bool bStop = job.pages > 0 ? account.use + job.pages > q.pages : account.use >= q.pages;
    const int64_t left = q.pages - account.use;
    if (bStop || (verdict.action == 0 && left < leastLeft)) {
      verdict.bQuota = true;
      verdict.use = account.use;
      verdict.limit = q.pages;
      verdict.tEnd = account.tEnd;
      leastLeft = left;
    }
    if (bStop) {
      verdict.action = q.action;
      // A quota whose action is "none" (0) stops nothing; the next may.
      if (q.action != 0) break;
    }
  }
  return verdict;
}

int64_t CQuotaLedger::Use(size_t quota, int32_t idUser, int64_t tNow) {
  if (quota >= m_rules.All().size()) return 0;
  return AccountOf(m_users[idUser], idUser, quota, tNow).use;
}

}  // namespace page_quota
