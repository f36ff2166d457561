#include "monitor_harness.h"

#include <mutex>

#include "job_accounting/job_thread.h"
#include "printer_monitor/ini_file.h"
#include "printer_monitor/printer_watcher.h"

namespace {

std::mutex g_takenLock;
std::vector<HANDED_OFF> g_taken;
// Set after every hand-off; made once, never closed.
HANDLE TakenEvent() {
  static HANDLE hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  return hEvent;
}

std::string ListText(const std::vector<std::string>& entries) {
  std::string text = std::string(kListHeader) + "\r\n";
  for (const std::string& entry : entries) text += entry + "\r\n";
  return text;
}

}  // namespace

DWORD WINAPI CJobThreadObserver::Routine(LPVOID pParam) {
  auto* pStart = static_cast<JOB_THREAD_PARAM*>(pParam);
  const TAKEN_JOB& job = pStart->ticket.Job();
  HANDED_OFF taken = {JOB_TEXT(job.job, wszPrinter), job.job, job.bCopiesKnown, job.bSizeKnown,
                      job.dwSize};
  {
    std::lock_guard<std::mutex> lock(g_takenLock);
    g_taken.push_back(taken);
  }
  SetEvent(TakenEvent());
  delete pStart;
  return 1;
}

void CJobThreadObserver::Clear() {
  std::lock_guard<std::mutex> lock(g_takenLock);
  g_taken.clear();
}

std::vector<HANDED_OFF> CJobThreadObserver::Taken() {
  std::lock_guard<std::mutex> lock(g_takenLock);
  return g_taken;
}

bool CJobThreadObserver::WaitTaken(size_t n) {
  const ULONGLONG deadline = GetTickCount64() + kWaitMs;
  for (;;) {
    if (Taken().size() >= n) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    WaitForSingleObject(TakenEvent(), static_cast<DWORD>(deadline - now));
  }
}

CMonitorHarness::CMonitorHarness()
    : service(new CQuillonService()), stop(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
  service->m_hStopEvent = stop.get();
  service->m_settings.pfnJobThread = CJobThreadObserver::Routine;
  // A journal of the test's own: the observer leaves every job in it.
  service->m_settings.sJournalPath = dir.File(kJournalFile);
  CJobThreadObserver::Clear();
}

CMonitorHarness::~CMonitorHarness() {
  StopWatcher();
  service.reset();
}

void CMonitorHarness::WriteLists(const std::vector<std::string>& normal,
                                 const std::vector<std::string>& gdi) {
  dir.Write(kPrinterListFile, ListText(normal));
  dir.Write(kGdiPrinterListFile, ListText(gdi));
}

bool CMonitorHarness::StartWatcher(int nArmed) {
  const DWORD dwBefore = spooler->Counts().fetches;
  watcher.reset(CreateThread(nullptr, 0, WatchPrinters, service.get(), 0, nullptr));
  if (!watcher) return false;
  // Each notification is fetched with a refresh right after it is armed.
  const DWORD dwArmed = static_cast<DWORD>(nArmed);
  const bool bArmed = spooler->WaitUntil(
      [=](const sim::SpoolerCounts& c) {
        return c.openNotifications == nArmed && c.fetches >= dwBefore + dwArmed &&
               c.blocksFreed == c.blocksGiven;
      },
      kWaitMs);
  dwFetchesAtStart = spooler->Counts().fetches;
  return bArmed;
}

bool CMonitorHarness::StopWatcher() {
  if (!watcher) return true;
  SetEvent(stop.get());
  bool bEnded = WaitForSingleObject(watcher.get(), kWaitMs) == WAIT_OBJECT_0;
  watcher.reset();
  return bEnded;
}

bool CMonitorHarness::WaitFetched(DWORD n) {
  const DWORD dwWanted = dwFetchesAtStart + n;
  return spooler->WaitUntil(
      [=](const sim::SpoolerCounts& c) {
        return c.fetches >= dwWanted && c.blocksFreed == c.blocksGiven;
      },
      kWaitMs);
}

void CMonitorHarness::ClosePrinters() {
  for (CPrnObj& printer : service->m_printers) printer.Close();
  service->m_printers.clear();
}
