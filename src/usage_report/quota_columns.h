// The quota columns of a report by user: for each user who has a quota on
// every printer in force now (their own, else the one for every user), the
// limit ("quota") and what is left of it now ("left"), counted as the
// service counts use (page_quota/quota_ledger.h). Of several quotas at that
// level (a day's and a term's), the one with the least left. The columns
// tell the standing now, whatever period the report covers; they are added
// only when the database holds a quota at all.
#pragma once

#include <stdint.h>

#include "calendar/local_days.h"
#include "database/connection.h"
#include "usage_report/report_table.h"

namespace usage_report {

// Raises _com_error when the database fails.
void AddQuotaColumns(ReportTable& table, const ConnectionPtr& connection,
                     const calendar::CLocalDays& days, int64_t tNow);

}  // namespace usage_report
