// The one database connection of the service: an ODBC environment and
// connection, reference-counted and shared by every thread.
#pragma once

#include <windows.h>
#include <sql.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

class CSessionCache;

class CConnection {
 public:
  CConnection();

  // Connects with SQLDriverConnectW; the ANSI text is widened first.
  // Raises _com_error on failure.
  void Open(const char* pszConnectionString);
  // Disconnects; raises _com_error when the driver refuses.
  void Close();
  bool IsOpen() const { return m_bConnected; }
  // Connects anew with the string of the last Open, outside the
  // connection's mutex, so that a connect that waits for the network holds
  // up no other user; then swaps the new link in under the mutex (the
  // session cache is emptied) and disconnects the old one (a refusal is
  // ignored: it is gone anyway). The service's reference caches stay valid,
  // since ids do not change. Raises _com_error when the database still
  // cannot be reached; the connection is then left as it was.
  void Reopen();
  // Whether the connection still answers: runs "SELECT 1" under the
  // connection's mutex. Never raises; false when not open or on failure.
  // Cheap enough to ask after a failure that names no cause.
  bool Probe();
  // How often Reopen and Probe ran, for diagnostics and tests.
  unsigned Reopens() const { return m_nReopens; }
  unsigned Probes() const { return m_nProbes; }
  // Starts or ends a transaction; hold Mutex() from Begin to End, so that no
  // other thread's statement runs inside it. EndTransaction always leaves
  // the connection in auto-commit again.
  void BeginTransaction();
  void EndTransaction(bool bCommit);

  SQLHDBC Handle() const { return m_hDbc; }
  // Serialises use of the connection: drivers differ in what they allow
  // from several threads at once, so one statement sequence runs at a time.
  std::recursive_mutex& Mutex() const { return m_mutex; }
  // What the data layer has learnt about this database; use it only while
  // holding Mutex(). Emptied when the connection closes.
  CSessionCache& Session();

  ULONG AddRef();
  ULONG Release();

  CConnection(const CConnection&) = delete;
  CConnection& operator=(const CConnection&) = delete;

 private:
  ~CConnection();
  void FreeHandles();

  std::atomic<ULONG> m_cRef;
  SQLHENV m_hEnv;
  SQLHDBC m_hDbc;
  bool m_bConnected;
  mutable std::recursive_mutex m_mutex;
  std::unique_ptr<CSessionCache> m_pSession;
  std::string m_connectionString;   // of the last Open, for Reopen
  std::atomic<unsigned> m_nReopens;
  std::atomic<unsigned> m_nProbes;
};

// Reference-counted pointer to the connection. Like a COM smart pointer,
// using it while it is empty raises _com_error(E_POINTER).
class ConnectionPtr {
 public:
  ConnectionPtr() : m_p(nullptr) {}
  ConnectionPtr(std::nullptr_t) : m_p(nullptr) {}
  ConnectionPtr(const ConnectionPtr& other);
  ConnectionPtr(ConnectionPtr&& other) noexcept;
  ConnectionPtr& operator=(ConnectionPtr other) noexcept;
  ~ConnectionPtr();

  // Releases any object held, then creates a new, unopened connection.
  HRESULT CreateInstance();
  // Drops the reference; the pointer is empty afterwards.
  void Release();

  CConnection* operator->() const;
  CConnection* GetInterfacePtr() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }

 private:
  CConnection* m_p;
};
