#include "monitor_harness.h"

#include <mutex>

#include "job_accounting/job_thread.h"
#include "printer_monitor/ini_file.h"
#include "printer_monitor/printer_watcher.h"

namespace {

std::mutex g_takenLock;
std::vector<HANDED_OFF> g_taken;

std::string ListText(const std::vector<std::string>& entries) {
  std::string text = std::string(kListHeader) + "\r\n";
  for (const std::string& entry : entries) text += entry + "\r\n";
  return text;
}

}  // namespace

DWORD WINAPI CJobThreadObserver::Routine(LPVOID pParam) {
  auto* pStart = static_cast<JOB_THREAD_PARAM*>(pParam);
  HANDED_OFF taken = {pStart->wszPrinter, pStart->dwJobId, 0};
  for (DWORD i = 0; pStart->pInfo && i < pStart->pInfo->Count; ++i) {
    const PRINTER_NOTIFY_INFO_DATA& entry = pStart->pInfo->aData[i];
    if (entry.Id == pStart->dwJobId && entry.Field == JOB_NOTIFY_FIELD_STATUS) {
      taken.dwStatus = entry.NotifyData.adwData[0];
    }
  }
  {
    std::lock_guard<std::mutex> lock(g_takenLock);
    g_taken.push_back(taken);
  }
  if (pStart->pInfo) FreePrinterNotifyInfo(pStart->pInfo);
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

CMonitorHarness::CMonitorHarness()
    : service(new CQuillonService()), stop(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
  service->m_hStopEvent = stop.get();
  service->m_pfnJobThread = CJobThreadObserver::Routine;
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
  watcher.reset(CreateThread(nullptr, 0, WatchPrinters, service.get(), 0, nullptr));
  if (!watcher) return false;
  return spooler->WaitUntil(
      [nArmed](const sim::SpoolerCounts& c) { return c.openNotifications == nArmed; }, kWaitMs);
}

bool CMonitorHarness::StopWatcher() {
  if (!watcher) return true;
  SetEvent(stop.get());
  bool bEnded = WaitForSingleObject(watcher.get(), kWaitMs) == WAIT_OBJECT_0;
  watcher.reset();
  return bEnded;
}

bool CMonitorHarness::WaitFetched(DWORD n) {
  return spooler->WaitUntil(
      [n](const sim::SpoolerCounts& c) { return c.fetches >= n && c.blocksFreed == c.blocksGiven; },
      kWaitMs);
}

void CMonitorHarness::ClosePrinters() {
  for (CPrnObj& printer : service->m_printers) printer.Close();
  service->m_printers.clear();
}
