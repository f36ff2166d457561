#include "page_quota/quota_tables.h"

#include <windows.h>
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <mutex>

#include "database/com_errors.h"
#include "database/odbc_statement.h"
#include "database/record_transfer.h"
#include "database/transaction.h"
#include "database/wide_text.h"

namespace page_quota {

namespace {

// Rows fetched per call: enough to make the round trips negligible, small
// enough to stay in the cache.
constexpr SQLULEN kBlockRows = 1024;

int64_t GetInteger(COdbcStatement& stmt, SQLUSMALLINT nColumn, bool* pNull = nullptr) {
  SQLBIGINT value = 0;
  SQLLEN ind = 0;
  stmt.Check(SQLGetData(stmt.Handle(), nColumn, SQL_C_SBIGINT, &value, sizeof(value), &ind));
  if (pNull) *pNull = ind == SQL_NULL_DATA;
  return ind == SQL_NULL_DATA ? 0 : value;
}

std::string GetAscii(COdbcStatement& stmt, SQLUSMALLINT nColumn) {
  SQLWCHAR buffer[64] = {};
  SQLLEN ind = 0;
  stmt.Check(SQLGetData(stmt.Handle(), nColumn, SQL_C_WCHAR, buffer, sizeof(buffer), &ind));
  if (ind == SQL_NULL_DATA) return std::string();
  return WideToUtf8(reinterpret_cast<const wchar_t*>(buffer));
}

// Runs a statement that selects idPrnData, idUser, idPrinter, Submitted,
// Pages, Color and hands each row to `take`, a block of rows per fetch.
void FetchRows(CConnection* pConn, const std::wstring& sql, std::vector<CParameterValue> values,
               const ROW_SINK& take) {
  COdbcStatement stmt(pConn->Handle());
  SQLULEN nBlock = kBlockRows;
  // A driver that cannot fetch blocks fetches one row at a time.
  if (!SQL_SUCCEEDED(SQLSetStmtAttrW(stmt.Handle(), SQL_ATTR_ROW_ARRAY_SIZE,
                                     reinterpret_cast<SQLPOINTER>(nBlock), 0))) {
    nBlock = 1;
  }
  SQLULEN nActual = 0;
  if (SQL_SUCCEEDED(SQLGetStmtAttrW(stmt.Handle(), SQL_ATTR_ROW_ARRAY_SIZE, &nActual, 0,
                                    nullptr)) &&
      nActual >= 1 && nActual <= kBlockRows) {
    nBlock = nActual;
  }
  SQLULEN nFetched = 0;
  stmt.Check(SQLSetStmtAttrW(stmt.Handle(), SQL_ATTR_ROWS_FETCHED_PTR, &nFetched, 0));
  stmt.Prepare(sql);
  BindParameters(stmt, values);
  std::vector<SQLINTEGER> id(nBlock), user(nBlock), printer(nBlock), pages(nBlock);
  std::vector<SQLBIGINT> submitted(nBlock);
  std::vector<SQLSMALLINT> color(nBlock);
  std::vector<SQLLEN> ind[6];
  for (auto& v : ind) v.assign(nBlock, 0);
  stmt.Check(SQLBindCol(stmt.Handle(), 1, SQL_C_SLONG, id.data(), 0, ind[0].data()));
  stmt.Check(SQLBindCol(stmt.Handle(), 2, SQL_C_SLONG, user.data(), 0, ind[1].data()));
  stmt.Check(SQLBindCol(stmt.Handle(), 3, SQL_C_SLONG, printer.data(), 0, ind[2].data()));
  stmt.Check(SQLBindCol(stmt.Handle(), 4, SQL_C_SBIGINT, submitted.data(), 0, ind[3].data()));
  stmt.Check(SQLBindCol(stmt.Handle(), 5, SQL_C_SLONG, pages.data(), 0, ind[4].data()));
  stmt.Check(SQLBindCol(stmt.Handle(), 6, SQL_C_SSHORT, color.data(), 0, ind[5].data()));
  stmt.Execute();
  while (stmt.Fetch()) {
    for (SQLULEN i = 0; i < nFetched && i < nBlock; ++i) {
      // A row without an id, user or time cannot be placed; no pages, none.
      if (ind[0][i] == SQL_NULL_DATA || ind[1][i] == SQL_NULL_DATA ||
          ind[3][i] == SQL_NULL_DATA) {
        continue;
      }
      USE_ROW row;
      row.idPrinter = ind[2][i] == SQL_NULL_DATA ? -1 : printer[i];
      row.tSubmitted = submitted[i];
      row.pages = ind[4][i] == SQL_NULL_DATA ? 0 : pages[i];
      row.nColor = ind[5][i] == SQL_NULL_DATA ? 0 : color[i];
      take(id[i], user[i], row);
    }
  }
  stmt.CloseCursor();
}

const wchar_t kRowColumns[] =
    L"SELECT idPrnData, idUser, idPrinter, Submitted, Pages, Color FROM PRNDATA";

}  // namespace

std::vector<QUOTA> ReadQuotas(const ConnectionPtr& connection, std::vector<BAD_QUOTA>* pBad) {
  CConnection* pConn = connection.operator->();
  std::lock_guard<std::recursive_mutex> lock(pConn->Mutex());
  COdbcStatement stmt(pConn->Handle());
  stmt.ExecDirect(L"SELECT idQuota, idUser, idPrinter, Pages, ColourOnly, Period, Action "
                  L"FROM QUOTAS ORDER BY idQuota");
  std::vector<QUOTA> quotas;
  while (stmt.Fetch()) {
    QUOTA q;
    const int32_t idQuota = static_cast<int32_t>(GetInteger(stmt, 1));
    q.idUser = static_cast<int32_t>(GetInteger(stmt, 2));
    q.idPrinter = static_cast<int32_t>(GetInteger(stmt, 3));
    q.pages = GetInteger(stmt, 4);
    q.bColourOnly = GetInteger(stmt, 5) != 0;
    const std::string period = GetAscii(stmt, 6);
    q.action = static_cast<int32_t>(GetInteger(stmt, 7));
    if (!ParsePeriod(period, q.period)) {
      if (pBad) pBad->push_back({idQuota, period});
      continue;
    }
    quotas.push_back(q);
  }
  stmt.CloseCursor();
  return quotas;
}

RESETS ReadResets(const ConnectionPtr& connection) {
  CConnection* pConn = connection.operator->();
  std::lock_guard<std::recursive_mutex> lock(pConn->Mutex());
  COdbcStatement stmt(pConn->Handle());
  stmt.ExecDirect(L"SELECT idUser, idPrinter, MAX(ResetAt) FROM QUOTARESETS "
                  L"GROUP BY idUser, idPrinter");
  RESETS resets;
  while (stmt.Fetch()) {
    const int32_t idUser = static_cast<int32_t>(GetInteger(stmt, 1));
    const int32_t idPrinter = static_cast<int32_t>(GetInteger(stmt, 2));
    resets[{idUser, idPrinter}] = GetInteger(stmt, 3);
  }
  stmt.CloseCursor();
  return resets;
}

int32_t HighestRowId(const ConnectionPtr& connection) {
  CConnection* pConn = connection.operator->();
  std::lock_guard<std::recursive_mutex> lock(pConn->Mutex());
  COdbcStatement stmt(pConn->Handle());
  stmt.ExecDirect(L"SELECT MAX(idPrnData) FROM PRNDATA");
  int64_t id = 0;
  if (stmt.Fetch()) id = GetInteger(stmt, 1);
  stmt.CloseCursor();
  return static_cast<int32_t>(id);
}

void ReadRowsSince(const ConnectionPtr& connection, int64_t tSince, const ROW_SINK& take) {
  CConnection* pConn = connection.operator->();
  std::lock_guard<std::recursive_mutex> lock(pConn->Mutex());
  // Submitted is a 32-bit column: a bound beyond it selects everything or
  // nothing, as the comparison would.
  if (tSince <= INT32_MIN) {
    FetchRows(pConn, std::wstring(kRowColumns) + L" ORDER BY Submitted", {}, take);
    return;
  }
  if (tSince > INT32_MAX) return;
  FetchRows(pConn, std::wstring(kRowColumns) + L" WHERE Submitted >= ? ORDER BY Submitted",
            {static_cast<int32_t>(tSince)}, take);
}

void ReadRowsAfter(const ConnectionPtr& connection, int32_t afterId, const ROW_SINK& take) {
  CConnection* pConn = connection.operator->();
  std::lock_guard<std::recursive_mutex> lock(pConn->Mutex());
  FetchRows(pConn, std::wstring(kRowColumns) + L" WHERE idPrnData > ? ORDER BY idPrnData",
            {afterId}, take);
}

namespace {

// The WHERE clause of a quota's key, and its values.
std::wstring KeyCondition(int32_t idUser, int32_t idPrinter, const bool* pColourOnly,
                          const Period* pPeriod, std::vector<CParameterValue>& values) {
  std::wstring where = L" WHERE idUser = ? AND idPrinter = ?";
  values.push_back(idUser);
  values.push_back(idPrinter);
  if (pColourOnly) {
    where += L" AND ColourOnly = ?";
    values.push_back(CParameterValue::SmallInt(*pColourOnly ? 1 : 0));
  }
  if (pPeriod) {
    where += L" AND Period = ?";
    values.push_back(PeriodText(*pPeriod));
  }
  return where;
}

size_t Delete(CConnection* pConn, int32_t idUser, int32_t idPrinter, const bool* pColourOnly,
              const Period* pPeriod) {
  std::vector<CParameterValue> values;
  const std::wstring sql =
      L"DELETE FROM QUOTAS" + KeyCondition(idUser, idPrinter, pColourOnly, pPeriod, values);
  COdbcStatement stmt(pConn->Handle());
  stmt.Prepare(sql);
  BindParameters(stmt, values);
  stmt.Execute();
  const SQLLEN n = stmt.RowCount();
  return n > 0 ? static_cast<size_t>(n) : 0;
}

}  // namespace

bool StoreQuota(const ConnectionPtr& connection, const QUOTA& quota) {
  CConnection* pConn = connection.operator->();
  std::lock_guard<std::recursive_mutex> lock(pConn->Mutex());
  // The limit is a 32-bit column.
  if (quota.pages < 0 || quota.pages > INT32_MAX) {
    RaiseComError(E_INVALIDARG, L"A quota's pages must lie between 0 and 2147483647.");
  }
  return InTransaction(pConn, [&] {
    const bool bColour = quota.bColourOnly;
    const size_t nReplaced = Delete(pConn, quota.idUser, quota.idPrinter, &bColour, &quota.period);
    COdbcStatement stmt(pConn->Handle());
    stmt.Prepare(L"INSERT INTO QUOTAS (idUser, idPrinter, Pages, ColourOnly, Period, Action) "
                 L"VALUES (?, ?, ?, ?, ?, ?)");
    std::vector<CParameterValue> values = {quota.idUser,
                                           quota.idPrinter,
                                           static_cast<int32_t>(quota.pages),
                                           CParameterValue::SmallInt(bColour ? 1 : 0),
                                           PeriodText(quota.period),
                                           quota.action};
    BindParameters(stmt, values);
    stmt.Execute();
    return nReplaced > 0;
  });
}

size_t RemoveQuotas(const ConnectionPtr& connection, int32_t idUser, int32_t idPrinter,
                    const bool* pColourOnly, const Period* pPeriod) {
  CConnection* pConn = connection.operator->();
  std::lock_guard<std::recursive_mutex> lock(pConn->Mutex());
  return Delete(pConn, idUser, idPrinter, pColourOnly, pPeriod);
}

void AddReset(const ConnectionPtr& connection, int32_t idUser, int32_t idPrinter, int64_t tAt) {
  CConnection* pConn = connection.operator->();
  std::lock_guard<std::recursive_mutex> lock(pConn->Mutex());
  COdbcStatement stmt(pConn->Handle());
  stmt.Prepare(L"INSERT INTO QUOTARESETS (idUser, idPrinter, ResetAt) VALUES (?, ?, ?)");
  std::vector<CParameterValue> values = {idUser, idPrinter, static_cast<int32_t>(tAt)};
  BindParameters(stmt, values);
  stmt.Execute();
}

int64_t SumUse(const ConnectionPtr& connection, const QUOTA& quota, int32_t idUser,
               int64_t tFrom, int64_t tEnd) {
  CConnection* pConn = connection.operator->();
  std::lock_guard<std::recursive_mutex> lock(pConn->Mutex());
  // As the ledger counts: rows without pages count nothing.
  std::wstring sql = L"SELECT SUM(Pages) FROM PRNDATA WHERE idUser = ? AND Pages > 0";
  std::vector<CParameterValue> values = {idUser};
  if (quota.idPrinter != kEvery) {
    sql += L" AND idPrinter = ?";
    values.push_back(quota.idPrinter);
  }
  if (quota.bColourOnly) sql += L" AND Color = 2";
  // The bounds, held to the 32-bit column's range.
  if (tFrom > INT32_MIN) {
    sql += L" AND Submitted >= ?";
    values.push_back(static_cast<int32_t>(std::min<int64_t>(tFrom, INT32_MAX)));
  }
  if (tEnd <= INT32_MAX) {
    sql += L" AND Submitted < ?";
    values.push_back(static_cast<int32_t>(std::max<int64_t>(tEnd, INT32_MIN)));
  }
  COdbcStatement stmt(pConn->Handle());
  stmt.Prepare(sql);
  BindParameters(stmt, values);
  stmt.Execute();
  int64_t use = 0;
  if (stmt.Fetch()) use = GetInteger(stmt, 1);
  stmt.CloseCursor();
  return use;
}

QUOTA_USE UseNow(const ConnectionPtr& connection, const QUOTA& quota, int32_t idUser,
                 const RESETS& resets, const calendar::CLocalDays& days, int64_t tNow) {
  QUOTA_USE standing;
  standing.window = WindowAt(quota.period, tNow, days);
  standing.tFrom = CountsFrom(quota, idUser, resets, standing.window);
  if (standing.window.bApplies) {
    standing.use = SumUse(connection, quota, idUser, standing.tFrom, standing.window.tEnd);
  }
  return standing;
}

}  // namespace page_quota
