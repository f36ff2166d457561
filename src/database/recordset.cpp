#include "database/recordset.h"

#include <sqlext.h>

#include <cctype>
#include <cstring>
#include <utility>

#include "database/com_errors.h"
#include "database/session_cache.h"
#include "database/wide_text.h"

namespace {

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// Splits "TABLE" or "TABLE WHERE ..." into the table and " WHERE ...".
void ParseSource(const char* pszSource, std::string* pTable,
                 std::string* pCondition) {
  const char* p = pszSource;
  while (*p == ' ') ++p;
  const char* pName = p;
  while (IsNameChar(*p)) ++p;
  std::string table(pName, p);
  const char* pRest = p;
  while (*p == ' ') ++p;
  bool bWhere = _strnicmp(p, "WHERE", 5) == 0 && p > pRest &&
                (p[5] == ' ' || p[5] == '(');
  if (table.empty() || (*p != '\0' && !bWhere)) {
    RaiseComError(E_INVALIDARG,
                  L"A source is a table name, optionally followed by a WHERE "
                  L"clause: \"" + AnsiToWide(pszSource) + L"\".");
  }
  *pTable = table;
  pCondition->assign(*p ? " " : "");
  pCondition->append(p);
}

std::wstring QuotedName(const std::wstring& name) {
  std::wstring quoted = L"\"";
  for (wchar_t c : name) {
    if (c == L'"') quoted += L'"';
    quoted += c;
  }
  return quoted + L"\"";
}

}  // namespace

CRecordset::CRecordset()
    : m_pRecord(nullptr), m_bOpen(false), m_bExecuted(false), m_bEOF(true) {}

CRecordset::~CRecordset() { Close(); }

void CRecordset::RequireOpen() const {
  if (!m_bOpen) RaiseComError(E_UNEXPECTED, L"The recordset is not open.");
}

void CRecordset::Open(const char* pszSource, const ConnectionPtr& pConnection,
                      std::vector<CParameterValue> values) {
  if (m_bOpen) RaiseComError(E_UNEXPECTED, L"The recordset is already open.");
  if (!pszSource) RaiseComError(E_POINTER, L"No source was given.");
  std::string table, condition;
  ParseSource(pszSource, &table, &condition);

  CConnection* pConn = pConnection.operator->();   // E_POINTER when empty
  std::unique_lock<std::recursive_mutex> lock(pConn->Mutex());
  if (!pConn->IsOpen()) RaiseComError(E_FAIL, L"The connection is not open.");

  m_pConnection = pConnection;
  m_lock = std::move(lock);
  m_source = AnsiToWide(pszSource);
  m_table = AnsiToWide(table);
  m_condition = AnsiToWide(condition);
  m_values = std::move(values);
  m_pRecord = nullptr;
  m_bExecuted = false;
  m_bEOF = true;
  m_bOpen = true;
}

void CRecordset::Execute() {
  if (m_bExecuted) return;
  m_stmt.Allocate(m_pConnection->Handle());
  BindParameters(m_stmt, m_values);
  m_stmt.ExecDirect(L"SELECT * FROM " + m_table + m_condition);
  m_bExecuted = true;
  FetchNext();
}

void CRecordset::FetchNext() {
  m_bEOF = !m_stmt.Fetch();
  if (m_bEOF) {
    // The end is reached: the result holds nothing more worth keeping.
    m_stmt.CloseCursor();
    return;
  }
  if (m_pRecord) CopyRowToRecord(m_stmt, m_pRecord, m_source);
}

void CRecordset::BindToRecordset(CADORecordBinding* pRecord) {
  RequireOpen();
  CheckedBindingEntries(pRecord);
  Execute();
  m_pRecord = pRecord;
  if (!m_bEOF) CopyRowToRecord(m_stmt, m_pRecord, m_source);
}

bool CRecordset::IsEOF() {
  RequireOpen();
  Execute();
  return m_bEOF;
}

void CRecordset::MoveNext() {
  RequireOpen();
  Execute();
  if (m_bEOF) RaiseComError(E_UNEXPECTED, L"There is no current row to move from.");
  FetchNext();
}

void CRecordset::AddNew(CADORecordBinding* pRecord) {
  RequireOpen();
  INSERT_VALUES insert = ValuesFromRecord(pRecord);
  CConnection* pConn = m_pConnection.operator->();
  CSessionCache& session = pConn->Session();
  SQLHDBC hDbc = pConn->Handle();

  const std::vector<std::wstring>& columns = session.TableColumns(hDbc, m_table);
  auto columnName = [&](ULONG ulOrdinal) {
    if (ulOrdinal > columns.size()) {
      RaiseComError(E_INVALIDARG, m_table + L" has no column " +
                                      std::to_wstring(ulOrdinal) + L".");
    }
    return QuotedName(columns[ulOrdinal - 1]);
  };
  std::wstring names, markers, generatedNames;
  for (ULONG ulOrdinal : insert.ordinals) {
    if (!names.empty()) {
      names += L", ";
      markers += L", ";
    }
    names += columnName(ulOrdinal);
    markers += L"?";
  }
  for (ULONG ulOrdinal : insert.generated) {
    if (!generatedNames.empty()) generatedNames += L", ";
    generatedNames += columnName(ulOrdinal);
  }

  std::wstring sql = L"INSERT INTO " + m_table;
  sql += names.empty() ? std::wstring(L" DEFAULT VALUES")
                       : L" (" + names + L") VALUES (" + markers + L")";
  // Only what the database chose needs to come back: the rest of the
  // stored row is what the record already holds.
  bool bReturning = !generatedNames.empty() &&
                    session.Dialect(hDbc) == DbmsDialect::PostgreSQL;
  if (bReturning) sql += L" RETURNING " + generatedNames;

  std::shared_ptr<COdbcStatement> stmt = session.Prepared(hDbc, sql);
  try {
    // Same text, same markers: binding again replaces the earlier values.
    BindParameters(*stmt, insert.values);
    stmt->Execute();
    if (bReturning) {
      if (stmt->Fetch()) CopyRowToRecord(*stmt, pRecord, m_source, &insert.generated);
      stmt->CloseCursor();
    } else if (!generatedNames.empty()) {
      ReadBack(pConn, pRecord, *stmt, insert.generated, generatedNames);
    }
  } catch (const _com_error&) {
    // A statement that failed may be stale (a changed table): prepare anew
    // next time, and learn the table's columns again.
    SQLFreeStmt(stmt->Handle(), SQL_CLOSE);
    session.Forget(sql, m_table);
    throw;
  }
}

void CRecordset::ReadBack(CConnection* pConnection, CADORecordBinding* pRecord,
                          COdbcStatement& insert, const std::vector<ULONG>& generated,
                          const std::wstring& generatedNames) {
  CSessionCache& session = pConnection->Session();
  SQLHDBC hDbc = pConnection->Handle();
  if (session.Dialect(hDbc) != DbmsDialect::SQLite) return;
  // Without a row appended, the connection's last rowid belongs to some
  // earlier append, perhaps to another table.
  if (insert.RowCount() != 1) return;
  std::shared_ptr<COdbcStatement> select = session.Prepared(
      hDbc, L"SELECT " + generatedNames + L" FROM " + m_table +
                L" WHERE rowid = last_insert_rowid()");
  try {
    select->Execute();
    if (select->Fetch()) CopyRowToRecord(*select, pRecord, m_source, &generated);
  } catch (const _com_error&) {
    SQLFreeStmt(select->Handle(), SQL_CLOSE);
    throw;
  }
  select->CloseCursor();
}

void CRecordset::Close() {
  if (!m_bOpen) return;
  m_stmt.Free();
  m_values.clear();
  m_pRecord = nullptr;
  m_bOpen = false;
  m_bExecuted = false;
  m_bEOF = true;
  if (m_lock.owns_lock()) m_lock.unlock();
  m_lock = std::unique_lock<std::recursive_mutex>();
  m_pConnection.Release();
}
