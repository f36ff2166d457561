// The finished GDI jobs whose spool data the service has yet to read.
#pragma once

#include <windows.h>

#include <iterator>
#include <map>
#include <mutex>

// The rule. The spooler deletes a job's spool file together with the job,
// and the queue housekeeping deletes the complete jobs of GDI printers: a
// job deleted before its per-job thread counted it would be recorded
// without its pages. So the watcher holds every GDI job it hands to a
// per-job thread, the accounting releases it once its pages are settled
// (counted, or not needed), and the housekeeping deletes no held job.
// A hold that nobody released within the age the housekeeping gives the
// finished-job table (a thread that failed, a job waiting in the journal
// for a replay that cannot complete it) is dropped: the queue is kept clean
// all the same, and such a job keeps the spooler's count. Holds live in
// memory only: after a restart the replay settles the waiting jobs long
// before the first housekeeping pass.
class CSpoolHolds {
 public:
  // dwNow: seconds since 1970.
  void Hold(DWORD dwJobId, DWORD dwNow) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_held[dwJobId] = dwNow;
  }
  void Release(DWORD dwJobId) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_held.erase(dwJobId);
  }
  // Drops the holds older than dwMaxAge seconds; one taken "in the future",
  // before the clock was set back, counts as old.
  void Age(DWORD dwNow, DWORD dwMaxAge) {
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto it = m_held.begin(); it != m_held.end();) {
      it = dwNow - it->second > dwMaxAge ? m_held.erase(it) : std::next(it);
    }
  }
  bool Held(DWORD dwJobId) const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_held.count(dwJobId) != 0;
  }

 private:
  mutable std::mutex m_lock;
  std::map<DWORD, DWORD> m_held;   // job id: when it was held
};
