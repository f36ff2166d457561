#include "page_quota/quota_rules.h"

#include <utility>

namespace page_quota {

bool SameKey(const QUOTA& a, const QUOTA& b) {
  return a.idUser == b.idUser && a.idPrinter == b.idPrinter && a.bColourOnly == b.bColourOnly &&
         a.period == b.period;
}

bool Counts(const QUOTA& quota, int32_t idPrinter, int16_t nColor) {
  if (quota.idPrinter != kEvery && quota.idPrinter != idPrinter) return false;
  return !quota.bColourOnly || nColor == 2;
}

Level LevelOf(const QUOTA& quota) {
  if (quota.idUser != kEvery) return quota.idPrinter != kEvery ? Level::UserPrinter : Level::User;
  return quota.idPrinter != kEvery ? Level::Printer : Level::Everyone;
}

CQuotaRules::CQuotaRules(std::vector<QUOTA> quotas) : m_quotas(std::move(quotas)) {
  for (size_t i = 0; i < m_quotas.size(); ++i) {
    if (m_quotas[i].idUser == kEvery) {
      m_everyone.push_back(i);
    } else {
      m_byUser[m_quotas[i].idUser].push_back(i);
    }
  }
}

}  // namespace page_quota
