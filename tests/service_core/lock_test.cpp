// CLock on a named mutex: hand-over, time-out, re-entry after release and
// take-over of an abandoned mutex.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "service_core/exc.h"
#include "service_core/lock.h"
#include "service_core/win_owners.h"

namespace {

// Each case uses a mutex name of its own, so programs running at the same
// time never meet on one.
std::string UniqueMutexName(const char* tag) {
  return std::string("QUILLON_TEST_") + tag + "_" +
         std::to_string(GetCurrentProcessId());
}

class Event {
 public:
  Event() : m_h(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  void Set() { SetEvent(m_h.get()); }
  bool Wait(DWORD ms) { return WaitForSingleObject(m_h.get(), ms) == WAIT_OBJECT_0; }

 private:
  UniqueHandle m_h;
};

TEST(CLockTest, SecondHolderWaitsUntilTheFirstScopeEnds) {
  const std::string name = UniqueMutexName("handover");
  Event held, release, secondHas;
  std::atomic<bool> firstReleased{false};

  std::thread first([&] {
    CLock lock(1000, name.c_str());
    held.Set();
    release.Wait(INFINITE);
    firstReleased = true;
  });
  ASSERT_TRUE(held.Wait(5000));

  std::thread second([&] {
    CLock lock(5000, name.c_str());
    EXPECT_TRUE(firstReleased.load());
    secondHas.Set();
  });
  // The second thread must not get the lock while the first holds it.
  EXPECT_FALSE(secondHas.Wait(200));
  release.Set();
  EXPECT_TRUE(secondHas.Wait(5000));
  first.join();
  second.join();
}

TEST(CLockTest, TimeOutThrowsAHeapExceptionAndHoldsNothing) {
  const std::string name = UniqueMutexName("timeout");
  Event held, release;
  std::thread holder([&] {
    CLock lock(1000, name.c_str());
    held.Set();
    release.Wait(INFINITE);
  });
  ASSERT_TRUE(held.Wait(5000));

  CExc* caught = nullptr;
  try {
    CLock lock(50, name.c_str());
    ADD_FAILURE() << "the lock was taken while another thread held it";
  } catch (CExc* e) {
    caught = e;
  }
  ASSERT_NE(caught, nullptr);
  EXPECT_STREQ(caught->Source(), "CLock");
  EXPECT_STREQ(caught->Message(), "Time-out occurred");
  EXPECT_STREQ(caught->Text(), "Time-out occurred");
  EXPECT_EQ(caught->Code(), 0);
  delete caught;

  release.Set();
  holder.join();
}

// A Win32 mutex is re-entrant for the thread that holds it, so a release is
// only seen from another thread: that one must get the lock at once.
TEST(CLockTest, ReleasedLockIsTakenAgainAtOnceByAnotherThread) {
  for (std::string name : {UniqueMutexName("again"), std::string(kJobQueueMutex)}) {
    // Keeps the mutex in existence between the scopes, as the other threads
    // of the service do: otherwise closing the last handle would free it
    // even when the lock was never released.
    UniqueHandle keep(CreateMutexA(nullptr, FALSE, name.c_str()));
    ASSERT_TRUE(keep);
    { CLock lock(kJobQueueTimeout, name.c_str()); }
    bool bTaken = false;
    std::thread other([&] {
      try {
        CLock lock(0, name.c_str());   // a time-out of 0: only a free mutex
        bTaken = true;
      } catch (CExc* e) {
        delete e;
      }
    });
    other.join();
    EXPECT_TRUE(bTaken) << name << " was still held after its scope ended";
  }
}

TEST(CLockTest, AbandonedMutexIsTakenOver) {
  const std::string name = UniqueMutexName("abandoned");
  UniqueHandle hKeep(CreateMutexA(nullptr, FALSE, name.c_str()));  // keeps it alive
  ASSERT_TRUE(hKeep);
  std::thread owner([&] {
    UniqueHandle h(CreateMutexA(nullptr, FALSE, name.c_str()));
    WaitForSingleObject(h.get(), INFINITE);
    // The thread ends without ReleaseMutex: the mutex is abandoned.
  });
  owner.join();

  EXPECT_NO_THROW({
    CLock lock(1000, name.c_str());
    EXPECT_NE(lock.m_hMutex, nullptr);
  });
  // Held and released properly by CLock: free again.
  EXPECT_EQ(WaitForSingleObject(hKeep.get(), 0), WAIT_OBJECT_0);
  ReleaseMutex(hKeep.get());
}

TEST(CLockTest, NameThatCannotBeAMutexThrowsCannotCreate) {
  // An event of the same name exists: CreateMutexA fails with
  // ERROR_INVALID_HANDLE, and the lock reports it.
  const std::string name = UniqueMutexName("clash");
  UniqueHandle hEvent(CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
  ASSERT_TRUE(hEvent);
  CExc* caught = nullptr;
  try {
    CLock lock(0, name.c_str());
  } catch (CExc* e) {
    caught = e;
  }
  ASSERT_NE(caught, nullptr);
  EXPECT_STREQ(caught->Source(), "CLock");
  EXPECT_STREQ(caught->Message(), "Cannot create mutex");
  delete caught;
}

}  // namespace
