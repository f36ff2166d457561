#include "usage_report/usage_query.h"

#include <windows.h>
#include <sqlext.h>

#include <mutex>

#include "database/odbc_statement.h"
#include "database/record_transfer.h"
#include "database/wide_text.h"

namespace usage_report {

namespace {

// The sums of one group, over the rows of PRNDATA d. Pages - Pages / 2 is
// the pages halved and rounded up, without the overflow of Pages + 1.
constexpr const wchar_t kFigures[] =
    L"COUNT(*) AS jobs, SUM(d.Pages) AS pages, "
    L"SUM(CASE WHEN d.Color = 2 THEN d.Pages ELSE 0 END) AS colour, "
    L"SUM(CASE WHEN d.Duplex IN (2, 3) THEN d.Pages - d.Pages / 2 ELSE d.Pages END) AS sheets, "
    L"SUM(d.JobSize) AS bytes";

struct NameTable {
  const wchar_t* table;
  const wchar_t* id;
  const wchar_t* name;
};

NameTable NamesOf(GroupBy by) {
  switch (by) {
    case GroupBy::Printer: return {L"PRINTERS", L"idPrinter", L"PrnName"};
    case GroupBy::Computer: return {L"COMPUTERS", L"idComp", L"CompName"};
    default: return {L"USERS", L"idUser", L"UserName"};
  }
}

std::wstring Period(int64_t tBegin, int64_t tEnd) {
  return L"d.Submitted >= " + std::to_wstring(tBegin) + L" AND d.Submitted < " +
         std::to_wstring(tEnd);
}

std::wstring Filters(const UsageQuery& query) {
  std::wstring sql;
  if (query.user) sql += L" AND d.idUser IN (SELECT idUser FROM USERS WHERE UserName = ?)";
  if (query.printer) {
    sql += L" AND d.idPrinter IN (SELECT idPrinter FROM PRINTERS WHERE PrnName = ?)";
  }
  if (query.computer) {
    sql += L" AND d.idComp IN (SELECT idComp FROM COMPUTERS WHERE CompName = ?)";
  }
  return sql;
}

// Groups by id first, over PRNDATA alone, then names the few groups: the
// join touches one row per group, not one per job. Ids that share a name
// (a database created without unique keys) become one group.
std::wstring SqlByName(const UsageQuery& query) {
  const NameTable n = NamesOf(query.by);
  const std::wstring label = std::wstring(L"COALESCE(n.") + n.name +
                             L", '#' || CAST(a.id AS VARCHAR(12)))";
  return L"SELECT " + label +
         L", SUM(a.jobs), SUM(a.pages), SUM(a.colour), SUM(a.sheets), SUM(a.bytes) FROM "
         L"(SELECT d." + n.id + L" AS id, " + kFigures +
         L" FROM PRNDATA d WHERE " + Period(query.tBegin, query.tEnd) + Filters(query) +
         L" GROUP BY d." + n.id + L") a LEFT JOIN " + n.table + L" n ON n." + n.id +
         L" = a.id GROUP BY 1";
}

// The buckets are a table of their own, (index, begin, end), joined to the
// jobs by range, so that each bucket is one range of the Submitted index.
std::wstring SqlOverTime(const UsageQuery& query) {
  std::wstring sql = L"WITH b(i, lo, hi) AS (VALUES ";
  for (size_t i = 0; i < query.buckets.size(); ++i) {
    if (i) sql += L", ";
    sql += L"(" + std::to_wstring(i) + L", " + std::to_wstring(query.buckets[i].tBegin) +
           L", " + std::to_wstring(query.buckets[i].tEnd) + L")";
  }
  sql += L") SELECT b.i, ";
  sql += kFigures;
  // The whole period again, so that the planner sees the range at once.
  sql += L" FROM b JOIN PRNDATA d ON d.Submitted >= b.lo AND d.Submitted < b.hi WHERE " +
         Period(query.buckets.front().tBegin, query.buckets.back().tEnd) + Filters(query) +
         L" GROUP BY b.i";
  return sql;
}

int64_t GetInteger(COdbcStatement& stmt, SQLUSMALLINT nColumn) {
  SQLBIGINT value = 0;
  SQLLEN ind = 0;
  stmt.Check(SQLGetData(stmt.Handle(), nColumn, SQL_C_SBIGINT, &value, sizeof(value), &ind));
  return ind == SQL_NULL_DATA ? 0 : value;
}

// A text column of any length, as UTF-16, then UTF-8.
std::string GetText(COdbcStatement& stmt, SQLUSMALLINT nColumn) {
  std::wstring text;
  SQLWCHAR buffer[512];
  for (;;) {
    SQLLEN ind = 0;
    const SQLRETURN rc =
        SQLGetData(stmt.Handle(), nColumn, SQL_C_WCHAR, buffer, sizeof(buffer), &ind);
    if (rc == SQL_NO_DATA) break;
    stmt.Check(rc);
    if (ind == SQL_NULL_DATA) break;
    // A part that filled the buffer ends one character short of it (the
    // terminator); the last part says its own length.
    const size_t cchBuffer = sizeof(buffer) / sizeof(buffer[0]) - 1;
    const size_t cch = (ind == SQL_NO_TOTAL || ind / static_cast<SQLLEN>(sizeof(SQLWCHAR)) >
                                                   static_cast<SQLLEN>(cchBuffer))
                           ? cchBuffer
                           : static_cast<size_t>(ind) / sizeof(SQLWCHAR);
    text.append(reinterpret_cast<const wchar_t*>(buffer), cch);
    if (rc == SQL_SUCCESS) break;
  }
  return WideToUtf8(text);
}

UsageFigures GetFigures(COdbcStatement& stmt) {
  UsageFigures f;
  f.jobs = GetInteger(stmt, 2);
  f.pages = GetInteger(stmt, 3);
  f.colourPages = GetInteger(stmt, 4);
  f.sheets = GetInteger(stmt, 5);
  f.bytes = GetInteger(stmt, 6);
  return f;
}

}  // namespace

std::wstring UsageSql(const UsageQuery& query) {
  return IsOverTime(query.by) ? SqlOverTime(query) : SqlByName(query);
}

std::vector<UsageGroup> RunUsageQuery(const ConnectionPtr& connection, const UsageQuery& query) {
  std::vector<CParameterValue> names;
  for (const auto* filter : {&query.user, &query.printer, &query.computer}) {
    if (*filter) names.push_back(CParameterValue::Wide(**filter));
  }
  std::vector<UsageGroup> groups;
  if (IsOverTime(query.by)) {
    for (const TimeBucket& b : query.buckets) groups.push_back({b.label, {}});
  }
  std::lock_guard<std::recursive_mutex> hold(connection->Mutex());
  COdbcStatement stmt(connection->Handle());
  stmt.Prepare(UsageSql(query));
  BindParameters(stmt, names);
  stmt.Execute();
  while (stmt.Fetch()) {
    if (IsOverTime(query.by)) {
      const int64_t i = GetInteger(stmt, 1);
      if (i >= 0 && static_cast<size_t>(i) < groups.size()) groups[i].figures = GetFigures(stmt);
    } else {
      std::string name = GetText(stmt, 1);
      groups.push_back({std::move(name), GetFigures(stmt)});
    }
  }
  return groups;
}

}  // namespace usage_report
