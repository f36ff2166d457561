#include "database/connection.h"

#include <sqlext.h>

#include <new>
#include <string>
#include <utility>

#include "database/com_errors.h"
#include "database/odbc_statement.h"
#include "database/session_cache.h"
#include "database/wide_text.h"

CConnection::CConnection()
    : m_cRef(1),
      m_hEnv(nullptr),
      m_hDbc(nullptr),
      m_bConnected(false),
      m_nReopens(0),
      m_nProbes(0) {}

CConnection::~CConnection() {
  // Statements must be freed before their connection disconnects.
  if (m_pSession) m_pSession->Clear();
  if (m_bConnected) SQLDisconnect(m_hDbc);
  FreeHandles();
}

void CConnection::FreeHandles() {
  if (m_hDbc) SQLFreeHandle(SQL_HANDLE_DBC, m_hDbc);
  if (m_hEnv) SQLFreeHandle(SQL_HANDLE_ENV, m_hEnv);
  m_hDbc = nullptr;
  m_hEnv = nullptr;
}

namespace {

// A new environment and connection, connected with the string; both are
// freed again when the connect fails.
void Connect(const std::string& connectionString, SQLHENV* phEnv, SQLHDBC* phDbc) {
  SQLHENV hEnv = nullptr;
  SQLHDBC hDbc = nullptr;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &hEnv))) {
    RaiseComError(E_FAIL, L"The ODBC environment cannot be allocated.");
  }
  struct Handles {
    SQLHENV& hEnv;
    SQLHDBC& hDbc;
    ~Handles() {
      if (hDbc) SQLFreeHandle(SQL_HANDLE_DBC, hDbc);
      if (hEnv) SQLFreeHandle(SQL_HANDLE_ENV, hEnv);
    }
  } owned{hEnv, hDbc};
  if (!SQL_SUCCEEDED(SQLSetEnvAttr(hEnv, SQL_ATTR_ODBC_VERSION,
                                   reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0))) {
    RaiseOdbcError(SQL_HANDLE_ENV, hEnv);
  }
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, hEnv, &hDbc))) {
    hDbc = nullptr;
    RaiseOdbcError(SQL_HANDLE_ENV, hEnv);
  }
  std::wstring wide = AnsiToWide(connectionString.c_str());
  SQLRETURN rc = SQLDriverConnectW(hDbc, nullptr, reinterpret_cast<SQLWCHAR*>(&wide[0]),
                                   static_cast<SQLSMALLINT>(wide.size()), nullptr, 0, nullptr,
                                   SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) RaiseOdbcError(SQL_HANDLE_DBC, hDbc);
  *phEnv = hEnv;
  *phDbc = hDbc;
  hEnv = nullptr;   // the caller owns them now
  hDbc = nullptr;
}

}  // namespace

void CConnection::Open(const char* pszConnectionString) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  if (m_bConnected) RaiseComError(E_UNEXPECTED, L"The connection is already open.");
  FreeHandles();
  m_connectionString = pszConnectionString ? pszConnectionString : "";
  Connect(m_connectionString, &m_hEnv, &m_hDbc);
  m_bConnected = true;
}

void CConnection::Close() {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  if (!m_bConnected) return;
  if (m_pSession) m_pSession->Clear();
  if (!SQL_SUCCEEDED(SQLDisconnect(m_hDbc))) RaiseOdbcError(SQL_HANDLE_DBC, m_hDbc);
  m_bConnected = false;
}

void CConnection::Reopen() {
  std::string connectionString;
  {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    ++m_nReopens;
    connectionString = m_connectionString;
  }
  // A connect can take as long as the network's time-out; meanwhile every
  // other user keeps the connection as it is.
  SQLHENV hEnv = nullptr;
  SQLHDBC hDbc = nullptr;
  Connect(connectionString, &hEnv, &hDbc);
  bool bWasConnected;
  {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    // Prepared statements belong to the old link.
    if (m_pSession) m_pSession->Clear();
    std::swap(hEnv, m_hEnv);
    std::swap(hDbc, m_hDbc);
    bWasConnected = m_bConnected;
    m_bConnected = true;
  }
  // The old link goes outside the mutex too: a dead one may be slow to
  // close. A refusal is ignored: it is gone either way.
  if (bWasConnected && hDbc) SQLDisconnect(hDbc);
  if (hDbc) SQLFreeHandle(SQL_HANDLE_DBC, hDbc);
  if (hEnv) SQLFreeHandle(SQL_HANDLE_ENV, hEnv);
}

bool CConnection::Probe() {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  ++m_nProbes;
  if (!m_bConnected) return false;
  try {
    COdbcStatement stmt(m_hDbc);
    stmt.ExecDirect(L"SELECT 1");
    return stmt.Fetch();
  } catch (const _com_error&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void CConnection::BeginTransaction() {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  if (!SQL_SUCCEEDED(SQLSetConnectAttrW(m_hDbc, SQL_ATTR_AUTOCOMMIT,
                                        reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0))) {
    RaiseOdbcError(SQL_HANDLE_DBC, m_hDbc);
  }
}

void CConnection::EndTransaction(bool bCommit) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, m_hDbc, bCommit ? SQL_COMMIT : SQL_ROLLBACK);
  SQLSetConnectAttrW(m_hDbc, SQL_ATTR_AUTOCOMMIT,
                     reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
  if (!SQL_SUCCEEDED(rc)) RaiseOdbcError(SQL_HANDLE_DBC, m_hDbc);
}

CSessionCache& CConnection::Session() {
  if (!m_pSession) m_pSession.reset(new CSessionCache());
  return *m_pSession;
}

ULONG CConnection::AddRef() { return ++m_cRef; }

ULONG CConnection::Release() {
  ULONG n = --m_cRef;
  if (n == 0) delete this;
  return n;
}

ConnectionPtr::ConnectionPtr(const ConnectionPtr& other) : m_p(other.m_p) {
  if (m_p) m_p->AddRef();
}

ConnectionPtr::ConnectionPtr(ConnectionPtr&& other) noexcept : m_p(other.m_p) {
  other.m_p = nullptr;
}

ConnectionPtr& ConnectionPtr::operator=(ConnectionPtr other) noexcept {
  std::swap(m_p, other.m_p);
  return *this;
}

ConnectionPtr::~ConnectionPtr() { Release(); }

HRESULT ConnectionPtr::CreateInstance() {
  Release();
  m_p = new (std::nothrow) CConnection();
  return m_p ? S_OK : E_OUTOFMEMORY;
}

void ConnectionPtr::Release() {
  if (m_p) {
    CConnection* p = m_p;
    m_p = nullptr;
    p->Release();
  }
}

CConnection* ConnectionPtr::operator->() const {
  if (!m_p) throw _com_error(E_POINTER);
  return m_p;
}
