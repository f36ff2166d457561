// Reopening the shared connection while other threads use it: the connect
// is made outside the connection's mutex, so a database that is slow to
// answer holds up only the thread that reopens.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "database/com_errors.h"
#include "db_test_support.h"
#include "stall_proxy.h"

namespace {

int PortOf(const std::string& dsn) {
  const size_t at = dsn.find("Port=");
  return at == std::string::npos ? 0 : std::atoi(dsn.c_str() + at + 5);
}

using ReopenTest = DatabaseTest;

TEST_P(ReopenTest, OtherUsersKeepTheConnectionWhileAReopenWaitsForTheServer) {
  if (db->Kind() != Backend::PostgreSQL) GTEST_SKIP() << "a server that is slow to answer";
  CStallProxy proxy(PortOf(db->ConnectionString()));
  ASSERT_NE(proxy.Port(), 0);
  ConnectionPtr shared;
  shared.CreateInstance();
  shared->Open(proxy.Through(db->ConnectionString()).c_str());
  const int64_t pidBefore = BackendPid(shared);

  proxy.Hold();
  bool bReopened = false;
  std::thread reopener([&] {
    try {
      shared->Reopen();
      bReopened = true;
    } catch (const _com_error&) {
    }
  });
  const bool bWaiting = proxy.WaitHeld(20000);
  // The reopen now waits for the server's answer. Another thread takes the
  // connection and uses the old link meanwhile.
  bool bLocked = false, bAnswered = false;
  if (bWaiting) {
    std::unique_lock<std::recursive_mutex> lock(shared->Mutex(), std::try_to_lock);
    bLocked = lock.owns_lock();
    if (bLocked) bAnswered = BackendPid(shared) == pidBefore;
  }
  proxy.Release();
  reopener.join();
  ASSERT_TRUE(bWaiting) << "the reopen never reached the server";
  EXPECT_TRUE(bLocked) << "the reopen held the connection's mutex while it connected";
  EXPECT_TRUE(bAnswered) << "the old link did not answer during the reopen";
  ASSERT_TRUE(bReopened);
  EXPECT_NE(BackendPid(shared), pidBefore) << "the new link was not swapped in";
  EXPECT_EQ(shared->Reopens(), 1u);
}

INSTANTIATE_FOR_BOTH_DATABASES(ReopenTest);

}  // namespace
