#include "usage_report/quota_columns.h"

#include <map>
#include <string>
#include <vector>

#include "database/record_classes.h"
#include "database/reference_caches.h"
#include "database/reference_tables.h"
#include "database/com_errors.h"
#include "database/wide_text.h"
#include "page_quota/quota_tables.h"

namespace usage_report {

namespace {

// The id behind a row's label: the user's name (UTF-8), or "#id" for a
// user without a row of its own.
bool UserIdOf(const std::string& label, const std::map<std::string, int32_t>& ids,
              int32_t& id) {
  auto it = ids.find(label);
  if (it != ids.end()) {
    id = it->second;
    return true;
  }
  if (label.size() > 1 && label[0] == '#') {
    try {
      id = static_cast<int32_t>(std::stol(label.substr(1)));
      return true;
    } catch (const std::exception&) {
    }
  }
  return false;
}

}  // namespace

void AddQuotaColumns(ReportTable& table, const ConnectionPtr& connection,
                     const calendar::CLocalDays& days, int64_t tNow) {
  const std::vector<page_quota::QUOTA> quotas = page_quota::ReadQuotas(connection);
  if (quotas.empty()) return;
  const page_quota::RESETS resets = page_quota::ReadResets(connection);
  CNameIdMap users(kUserNameWidth);
  if (!LoadUserRows(connection, users)) RaiseComError(E_FAIL, L"USERS cannot be read.");
  std::map<std::string, int32_t> ids;
  for (const auto& named : users.Snapshot()) {
    ids[WideToUtf8(AnsiToWide(named.first))] = named.second;
  }
  // The quotas on every printer, the user's own beating those for everyone.
  std::vector<page_quota::QUOTA> everyPrinter;
  for (const page_quota::QUOTA& q : quotas) {
    if (q.idPrinter == page_quota::kEvery) everyPrinter.push_back(q);
  }
  const page_quota::CQuotaRules rules(everyPrinter);
  std::vector<page_quota::Window> windows;
  for (const page_quota::QUOTA& q : everyPrinter) windows.push_back(WindowAt(q.period, tNow, days));

  table.columns.push_back({"quota", ColumnKind::Count, false});
  table.columns.push_back({"left", ColumnKind::Count, false});
  table.total.values.push_back(kNoValue);
  table.total.values.push_back(kNoValue);
  for (ReportRow& row : table.rows) {
    int64_t limit = kNoValue, left = kNoValue;
    int32_t idUser = 0;
    if (UserIdOf(row.label, ids, idUser)) {
      const std::vector<size_t> applying = rules.Applying(
          idUser, page_quota::kEvery, [&](size_t i) { return windows[i].bApplies; });
      for (size_t i : applying) {
        const page_quota::QUOTA& q = everyPrinter[i];
        const int64_t use = page_quota::SumUse(
            connection, q, idUser, page_quota::CountsFrom(q, idUser, resets, windows[i]),
            windows[i].tEnd);
        const int64_t qLeft = q.pages > use ? q.pages - use : 0;
        if (left == kNoValue || qLeft < left) {
          left = qLeft;
          limit = q.pages;
        }
      }
    }
    row.values.push_back(limit);
    row.values.push_back(left);
  }
}

}  // namespace usage_report
