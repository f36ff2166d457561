#include "printer_monitor/queue_housekeeping.h"

#include <winspool.h>

#include <ctime>
#include <iterator>
#include <mutex>
#include <new>
#include <set>
#include <shared_mutex>
#include <string>
#include <vector>

#include "printer_monitor/gdi_settings.h"
#include "printer_monitor/prn_obj.h"
#include "printer_monitor/stop_event.h"
#include "service_core/exc.h"
#include "service_core/lock.h"
#include "service_core/quillon_service.h"
#include "service_core/win_owners.h"

namespace {

// The whole walk runs under the lock, so that no other thread changes the
// table under it. Without the lock in time the entries wait for the next
// pass: retrying here could keep the thread from ever seeing the stop, as
// any process may hold the mutex.
void AgeFinishedJobs(CQuillonService& service, DWORD dwNow) {
  try {
    CLock lock(kJobQueueTimeout, kJobQueueMutex);
    auto& table = service.m_jobTable;
    for (auto it = table.begin(); it != table.end();) {
      // Unsigned: a time after dwNow gives a huge age.
      if (dwNow - it->second.dwStoredAt > service.m_settings.dwFinishedJobMaxAge) {
        it = table.erase(it);
      } else {
        ++it;
      }
    }
  } catch (CExc* pExc) {
    delete pExc;
  }
  service.m_spoolHolds.Age(dwNow, service.m_settings.dwFinishedJobMaxAge);
}

// The printer's jobs at level 2; false when they cannot be listed.
bool ListJobs(HANDLE hPrinter, std::vector<BYTE>& buffer, DWORD& cJobs) {
  DWORD cbNeeded = 0;
  cJobs = 0;
  if (EnumJobsA(hPrinter, 0, 0xFFFFFFFF, 2, nullptr, 0, &cbNeeded, &cJobs)) {
    cJobs = 0;   // nothing queued
    return true;
  }
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || cbNeeded == 0) return false;
  buffer.assign(cbNeeded, 0);
  return EnumJobsA(hPrinter, 0, 0xFFFFFFFF, 2, buffer.data(), cbNeeded, &cbNeeded, &cJobs) != 0;
}

bool StopSet(HANDLE hStop) { return hStop && WaitForSingleObject(hStop, 0) != WAIT_TIMEOUT; }

// Deletes what is due on the GDI printers and collects the ids queued on
// every printer. False when some queue could not be listed or the walk was
// cut short, so that the ids are not the whole picture.
bool WalkPrinters(CQuillonService& service, HANDLE hStop, std::set<DWORD>& queued) {
  size_t nPrinters;
  {
    std::shared_lock<std::shared_mutex> lock(service.m_printersLock);
    nPrinters = service.m_printers.size();
  }
  bool bComplete = true;
  for (size_t i = 0; i < nPrinters; ++i) {
    if (StopSet(hStop)) return false;
    // Held while the handle is in use: the watcher closes the printers
    // under the exclusive lock when it stops.
    std::shared_lock<std::shared_mutex> lock(service.m_printersLock);
    if (i >= service.m_printers.size()) return false;
    const CPrnObj printer = service.m_printers[i];
    // Not open (the spooler is away, or the printer never opened): nothing
    // of it can be listed, and the watcher keeps its own jobs' states.
    if (!printer.m_hPrinter) continue;
    const bool bGdi = (printer.m_dwKind & PRN_GDI) != 0;
    const bool bDeletePrinted = bGdi && DeletesPrintedJobs(printer.m_pszName);
    std::vector<BYTE> buffer;
    DWORD cJobs = 0;
    if (!ListJobs(printer.m_hPrinter, buffer, cJobs)) {
      bComplete = false;
      continue;
    }
    const auto* pJobs = reinterpret_cast<const JOB_INFO_2A*>(buffer.data());
    for (DWORD j = 0; j < cJobs; ++j) {
      const DWORD dwStatus = pJobs[j].Status;
      // A job whose spool data is still to be counted stays: the spooler
      // would delete its spool file with it.
      if (bGdi && ((bDeletePrinted && (dwStatus & JOB_STATUS_PRINTED)) ||
                   (dwStatus & JOB_STATUS_COMPLETE)) &&
          !service.m_spoolHolds.Held(pJobs[j].JobId)) {
        SetJobA(printer.m_hPrinter, pJobs[j].JobId, 0, nullptr, JOB_CONTROL_DELETE);
      }
      queued.insert(pJobs[j].JobId);
    }
  }
  return bComplete;
}

// A handled job stays while it is queued anywhere: dropped too early, it
// would be taken for a new job and given its command once more.
void PruneHandledJobs(CQuillonService& service, const std::set<DWORD>& queued) {
  std::lock_guard<std::mutex> lock(service.m_handledJobsLock);
  auto& handled = service.m_handledJobs;
  for (auto it = handled.begin(); it != handled.end();) {
    it = queued.count(it->first) ? std::next(it) : handled.erase(it);
  }
}

}  // namespace

void RunHousekeepingPass(CQuillonService& service, DWORD dwNow, HANDLE hStop) {
  AgeFinishedJobs(service, dwNow);
  std::set<DWORD> queued;
  if (WalkPrinters(service, hStop, queued)) PruneHandledJobs(service, queued);
}

DWORD WINAPI CleanQueues(LPVOID pService) {
  auto* service = static_cast<CQuillonService*>(pService);
  if (!service) return static_cast<DWORD>(-1);
  UniqueHandle stop(DuplicateStopEvent(service->m_hStopEvent));
  HANDLE hStop = stop ? stop.get() : service->m_hStopEvent;
  // Any result but the time-out (the stop, or an event that cannot be
  // waited on any more) ends the thread; a pass on a failed wait would spin.
  while (WaitForSingleObject(hStop, service->m_settings.dwHousekeepingPeriodMs) == WAIT_TIMEOUT) {
    try {
      RunHousekeepingPass(*service, static_cast<DWORD>(std::time(nullptr)), hStop);
    } catch (const std::bad_alloc&) {
      // The next pass tries again.
    }
  }
  return 0;
}
