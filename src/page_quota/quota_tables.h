// The database side of page quotas: QUOTAS (the limits) and QUOTARESETS
// (when a user's use was set back to nothing), and the PRNDATA rows that
// use is counted from. Every function holds the connection's mutex for its
// statements and raises _com_error when the database fails.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "database/connection.h"
#include "page_quota/quota_ledger.h"
#include "page_quota/quota_rules.h"

namespace page_quota {

// A QUOTAS row whose period the service cannot read.
struct BAD_QUOTA {
  int32_t idQuota = 0;
  std::string period;
};

// Every quota. Rows with a period that is not one of the words or a span
// are left out and listed in *pBad (when given).
std::vector<QUOTA> ReadQuotas(const ConnectionPtr& connection,
                              std::vector<BAD_QUOTA>* pBad = nullptr);
// The latest reset of every (user, printer).
RESETS ReadResets(const ConnectionPtr& connection);

// The highest PRNDATA id, 0 for an empty table.
int32_t HighestRowId(const ConnectionPtr& connection);
// Calls `take` for each PRNDATA row submitted at or after tSince (with its
// id and user), in submission order; or for each row whose id is above
// `afterId`, whatever its time, in id order. Rows are fetched in blocks.
using ROW_SINK = std::function<void(int32_t idPrnData, int32_t idUser, const USE_ROW& row)>;
void ReadRowsSince(const ConnectionPtr& connection, int64_t tSince, const ROW_SINK& take);
void ReadRowsAfter(const ConnectionPtr& connection, int32_t afterId, const ROW_SINK& take);

// The console's changes. StoreQuota makes the quota the only one of its key
// (user, printer, colour only, period) in one transaction: true when it
// replaced one.
bool StoreQuota(const ConnectionPtr& connection, const QUOTA& quota);
// Removes the quotas of the user and printer; with a colour flag or a
// period, only those; how many there were.
size_t RemoveQuotas(const ConnectionPtr& connection, int32_t idUser, int32_t idPrinter,
                    const bool* pColourOnly, const Period* pPeriod);
void AddReset(const ConnectionPtr& connection, int32_t idUser, int32_t idPrinter, int64_t tAt);

// The use the service counts, summed up by the database: the pages of the
// user's rows that the quota counts, submitted in [tFrom, tEnd).
int64_t SumUse(const ConnectionPtr& connection, const QUOTA& quota, int32_t idUser,
               int64_t tFrom, int64_t tEnd);

// A user's standing under a quota at a moment, as the service judges it.
struct QUOTA_USE {
  Window window;        // the period (bApplies: the quota is in force)
  int64_t tFrom = 0;    // use counts from here (a reset may be later than the start)
  int64_t use = 0;      // 0 when the quota is not in force
};
QUOTA_USE UseNow(const ConnectionPtr& connection, const QUOTA& quota, int32_t idUser,
                 const RESETS& resets, const calendar::CLocalDays& days, int64_t tNow);

}  // namespace page_quota
