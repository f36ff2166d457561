// One transaction around a piece of database work.
#pragma once

#include <comdef.h>

#include <type_traits>

#include "database/connection.h"

// Runs work() in a transaction of pConn and returns what it returns:
// committed when work returns, rolled back when work (or the commit)
// throws, and the exception passed on. A rollback that fails too is not
// reported: the first failure is the one the caller needs. The caller holds
// the connection's mutex, so that no other thread's statement runs inside.
template <class Work>
auto InTransaction(CConnection* pConn, Work&& work) -> decltype(work()) {
  pConn->BeginTransaction();
  try {
    if constexpr (std::is_void_v<decltype(work())>) {
      work();
      pConn->EndTransaction(true);
    } else {
      auto result = work();
      pConn->EndTransaction(true);
      return result;
    }
  } catch (...) {
    try {
      pConn->EndTransaction(false);
    } catch (const _com_error&) {
    }
    throw;
  }
}
