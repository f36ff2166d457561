#include "page_quota/row_ids.h"

#include <iterator>

namespace page_quota {

void CRowIds::Start(int32_t lowWater, const std::vector<int32_t>& counted, int64_t tNow) {
  m_lowWater = lowWater;
  m_counted.clear();
  for (int32_t id : counted) {
    if (id > lowWater) m_counted.emplace(id, tNow);
  }
  m_heldAt = -1;
  Advance(tNow);
}

bool CRowIds::Take(int32_t id, int64_t tNow) {
  // Below the mark and not remembered: a hole given up, whose row this
  // service wrote itself after all. It is counted now.
  return m_counted.emplace(id, tNow).second;
}

void CRowIds::Advance(int64_t tNow) {
  for (;;) {
    auto next = m_counted.upper_bound(m_lowWater);
    if (next == m_counted.end()) break;
    if (next->first == m_lowWater + 1) {
      m_lowWater = next->first;
      continue;
    }
    // A hole below the next id counted.
    if (m_heldAt != m_lowWater) {
      m_heldAt = m_lowWater;
      m_tHeldSince = tNow;
    }
    if (tNow - m_tHeldSince < m_tGrace) break;
    m_lowWater = next->first - 1;   // the hole is given up, whole
  }
  for (auto it = m_counted.begin(); it != m_counted.end() && it->first <= m_lowWater;) {
    it = tNow - it->second >= m_tRetain ? m_counted.erase(it) : std::next(it);
  }
}

}  // namespace page_quota
