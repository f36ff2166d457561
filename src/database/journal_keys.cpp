#include "database/journal_keys.h"

#include <memory>
#include <mutex>
#include <vector>

#include "database/odbc_statement.h"
#include "database/record_transfer.h"
#include "database/session_cache.h"

namespace {

// Runs a statement with its parameters, holding the connection. The
// statements of every job are prepared once per connection.
std::shared_ptr<COdbcStatement> Run(const ConnectionPtr& pConnection, const wchar_t* pwszSql,
                                    std::vector<CParameterValue>& values) {
  CConnection* pConn = pConnection.operator->();
  std::shared_ptr<COdbcStatement> stmt = pConn->Session().Prepared(pConn->Handle(), pwszSql);
  stmt->CloseCursor();
  stmt->ResetBindings();
  BindParameters(*stmt, values);
  try {
    stmt->Execute();
  } catch (...) {
    // A statement that failed is prepared again next time: some drivers
    // leave it unusable after a lost connection.
    pConn->Session().Forget(pwszSql, L"");
    throw;
  }
  return stmt;
}

}  // namespace

void EnsureJournalKeys(const ConnectionPtr& pConnection) {
  std::lock_guard<std::recursive_mutex> lock(pConnection->Mutex());
  COdbcStatement create(pConnection->Handle());
  create.ExecDirect(L"CREATE TABLE IF NOT EXISTS JOURNALKEYS "
                    L"(JournalKey VARCHAR(64) NOT NULL PRIMARY KEY)");
}

bool JournalKeyExists(const ConnectionPtr& pConnection, const std::string& key) {
  std::lock_guard<std::recursive_mutex> lock(pConnection->Mutex());
  std::vector<CParameterValue> values = {key};
  std::shared_ptr<COdbcStatement> stmt =
      Run(pConnection, L"SELECT 1 FROM JOURNALKEYS WHERE JournalKey = ?", values);
  const bool bFound = stmt->Fetch();
  stmt->CloseCursor();
  return bFound;
}

void InsertJournalKey(const ConnectionPtr& pConnection, const std::string& key) {
  std::lock_guard<std::recursive_mutex> lock(pConnection->Mutex());
  std::vector<CParameterValue> values = {key};
  Run(pConnection, L"INSERT INTO JOURNALKEYS (JournalKey) VALUES (?)", values);
}

long DeleteJournalKeys(const ConnectionPtr& pConnection, const std::string& low,
                       const std::string& high) {
  std::lock_guard<std::recursive_mutex> lock(pConnection->Mutex());
  std::vector<CParameterValue> values = {low, high};
  std::shared_ptr<COdbcStatement> stmt = Run(
      pConnection, L"DELETE FROM JOURNALKEYS WHERE JournalKey >= ? AND JournalKey < ?", values);
  return static_cast<long>(stmt->RowCount());
}
