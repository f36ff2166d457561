// Which PRNDATA rows have been counted, by their ids, so that each row is
// counted once whether it comes from this service's own accounting or from
// a catch-up that reads the rows other servers wrote.
//
// The catch-up reads the rows whose id is above a low-water mark. The mark
// cannot simply be the highest id seen: on PostgreSQL an id is drawn from
// the sequence when the insert runs and becomes visible when its
// transaction commits, so a row with a lower id can appear after one with a
// higher id (two servers, or a replayed journal job whose transaction
// holds its row while it adds the key). So the mark stays below every id
// not seen yet, and the catch-up reads again the rows above it, skipping
// those it has counted. An id that never appears (a rolled-back insert, a
// sequence that jumped) would hold the mark for ever: a hole is given up
// once it has held the mark for the grace time. A transaction that holds
// its id longer than that is the one case in which a row is missed.
#pragma once

#include <stdint.h>

#include <map>
#include <vector>

namespace page_quota {

class CRowIds {
 public:
  // tGrace: how long a hole may hold the mark; tRetain: how long an id
  // below the mark is remembered, for this service's own report of a row
  // that a catch-up has already counted.
  CRowIds(int64_t tGrace, int64_t tRetain) : m_tGrace(tGrace), m_tRetain(tRetain) {}

  // After a load that counted the rows `counted` (ids), with nothing known
  // below `lowWater`: the next catch-up reads the ids above it.
  void Start(int32_t lowWater, const std::vector<int32_t>& counted, int64_t tNow);
  // The catch-up reads the ids above this.
  int32_t LowWater() const { return m_lowWater; }
  // True when the row is to be counted: the first time its id is offered.
  bool Take(int32_t id, int64_t tNow);
  // After a catch-up: the mark moves over the ids counted, and over a hole
  // that has held it for the grace time; old ids are forgotten.
  void Advance(int64_t tNow);
  // Ids remembered (for tests and diagnostics).
  size_t Remembered() const { return m_counted.size(); }

 private:
  int64_t m_tGrace;
  int64_t m_tRetain;
  int32_t m_lowWater = 0;
  std::map<int32_t, int64_t> m_counted;   // id -> when it was counted
  int64_t m_tHeldSince = 0;               // the mark has waited at its hole since
  int32_t m_heldAt = -1;                  // the mark at which it waits
};

}  // namespace page_quota
