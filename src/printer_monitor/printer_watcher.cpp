#include "printer_monitor/printer_watcher.h"

#include <winspool.h>

#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <vector>

#include "job_accounting/job_data.h"
#include "job_accounting/job_thread.h"
#include "printer_monitor/notify_block.h"
#include "printer_monitor/prn_obj.h"
#include "printer_monitor/stop_event.h"
#include "service_core/exc.h"
#include "service_core/lock.h"
#include "service_core/quillon_service.h"
#include "service_core/win_owners.h"

namespace {

constexpr DWORD kPrintersPerWait = MAXIMUM_WAIT_OBJECTS - 1;   // slot 0 is the stop event
// After a block flagged as discarded, the refresh is asked for this late.
constexpr DWORD kDiscardedRetryMs = 100;
// A wait that fails is tried again after this pause, unless the stop came.
constexpr DWORD kFailedWaitPauseMs = 1000;

// The notification options: every requested job field, refreshed in full
// at each fetch. Built once and shared by every arming and fetch.
class CNotifyOptions {
 public:
  CNotifyOptions() : m_type(), m_options() {
    m_type.Type = JOB_NOTIFY_TYPE;
    m_type.Count = sizeof(m_fields) / sizeof(m_fields[0]);
    m_type.pFields = m_fields;
    m_options.Version = 2;
    m_options.Flags = PRINTER_NOTIFY_OPTIONS_REFRESH;
    m_options.Count = 1;
    m_options.pTypes = &m_type;
  }
  CNotifyOptions(const CNotifyOptions&) = delete;
  CNotifyOptions& operator=(const CNotifyOptions&) = delete;
  LPVOID Get() { return &m_options; }

 private:
  WORD m_fields[9] = {JOB_NOTIFY_FIELD_STATUS,       JOB_NOTIFY_FIELD_BYTES_PRINTED,
                      JOB_NOTIFY_FIELD_DOCUMENT,     JOB_NOTIFY_FIELD_USER_NAME,
                      JOB_NOTIFY_FIELD_MACHINE_NAME, JOB_NOTIFY_FIELD_TOTAL_PAGES,
                      JOB_NOTIFY_FIELD_DEVMODE,      JOB_NOTIFY_FIELD_SUBMITTED,
                      JOB_NOTIFY_FIELD_TOTAL_BYTES};
  PRINTER_NOTIFY_OPTIONS_TYPE m_type;
  PRINTER_NOTIFY_OPTIONS m_options;
};

// The newest job of a refreshed block: the last status, bytes-printed and
// total-bytes entries. False when the block lacks any of them.
struct NEWEST_JOB {
  DWORD dwId;
  DWORD dwStatus;
  DWORD dwBytesPrinted;
  DWORD dwTotalBytes;
};

bool FindNewestJob(const PRINTER_NOTIFY_INFO& info, NEWEST_JOB& job) {
  const PRINTER_NOTIFY_INFO_DATA* pStatus = nullptr;
  const PRINTER_NOTIFY_INFO_DATA* pPrinted = nullptr;
  const PRINTER_NOTIFY_INFO_DATA* pTotal = nullptr;
  for (DWORD i = 0; i < info.Count; ++i) {
    const PRINTER_NOTIFY_INFO_DATA& entry = info.aData[i];
    if (entry.Type != JOB_NOTIFY_TYPE) continue;
    if (entry.Field == JOB_NOTIFY_FIELD_STATUS) pStatus = &entry;
    if (entry.Field == JOB_NOTIFY_FIELD_BYTES_PRINTED) pPrinted = &entry;
    if (entry.Field == JOB_NOTIFY_FIELD_TOTAL_BYTES) pTotal = &entry;
  }
  if (!pStatus || !pPrinted || !pTotal) return false;
  job.dwId = pStatus->Id;
  job.dwStatus = pStatus->NotifyData.adwData[0];
  job.dwBytesPrinted = pPrinted->NotifyData.adwData[0];
  job.dwTotalBytes = pTotal->NotifyData.adwData[0];
  return true;
}

bool IsFinished(const NEWEST_JOB& job) {
  const DWORD dwDone = JOB_STATUS_PRINTED | JOB_STATUS_DELETING | JOB_STATUS_COMPLETE;
  return (job.dwStatus & dwDone) != 0 ||
         (job.dwBytesPrinted == job.dwTotalBytes && job.dwBytesPrinted != 0);
}

// One watched printer: its notification, and the last job recorded there.
struct WATCH_SLOT {
  ChangeNotification hChange;
  CPrnObj* pPrinter;
  DWORD dwLastFinished;
};

// What every wait loop of the watcher shares: the decisions about jobs,
// made one notification at a time.
class CJobDecisions {
 public:
  explicit CJobDecisions(CQuillonService& service) : m_service(service) {}

  void Deal(WATCH_SLOT& slot, NotifyInfoBlock block) {
    std::lock_guard<std::mutex> lock(m_lock);
    NEWEST_JOB job;
    if (!block.get()->Count || !FindNewestJob(*block.get(), job)) return;
    CPrnObj& printer = *slot.pPrinter;

    if (m_decided.find(job.dwId) == m_decided.end()) {
      if (IsHandled(job.dwId)) return;
      JOB_DATA data;
      FillJobData(data, printer.m_pszName, block.get(), job.dwId);
      int32_t nCommand = m_service.GetJobCommand(data.wszUser, data.wszPrinter);
      if (nCommand != 0) {
        SetJobA(printer.m_hPrinter, job.dwId, 0, nullptr, static_cast<DWORD>(nCommand));
        MarkHandled(job.dwId);
        return;
      }
      m_decided[job.dwId] = true;
    }

    if (!IsFinished(job) || job.dwId == slot.dwLastFinished) return;
    m_decided.erase(job.dwId);
    if (IsHandled(job.dwId)) return;
    slot.dwLastFinished = job.dwId;
    RecordFinished(job);
    if (printer.m_dwKind & PRN_GDI) HandOff(printer, job.dwId, std::move(block));
  }

 private:
  bool IsHandled(DWORD dwJob) {
    std::lock_guard<std::mutex> lock(m_service.m_handledJobsLock);
    return m_service.m_handledJobs.count(dwJob) != 0;
  }
  void MarkHandled(DWORD dwJob) {
    std::lock_guard<std::mutex> lock(m_service.m_handledJobsLock);
    m_service.m_handledJobs[dwJob] = TRUE;
  }

  // Without the lock in time the job simply has no entry, and its size is
  // asked of the spooler when it is accounted.
  void RecordFinished(const NEWEST_JOB& job) {
    try {
      CLock lock(kJobQueueTimeout, kJobQueueMutex);
      m_service.m_jobTable[job.dwId] = {job.dwBytesPrinted,
                                        static_cast<DWORD>(std::time(nullptr))};
    } catch (CExc* pExc) {
      delete pExc;
    }
  }

  // The block goes with the start block to the new thread; if no thread
  // starts, both are given back here.
  void HandOff(const CPrnObj& printer, DWORD dwJob, NotifyInfoBlock block) {
    std::unique_ptr<JOB_THREAD_PARAM> param(new (std::nothrow) JOB_THREAD_PARAM());
    if (!param) return;
    param->pInfo = block.get();
    param->pService = &m_service;
    param->dwJobId = dwJob;
    int cch = static_cast<int>(strnlen(printer.m_pszName, kJobThreadPrinterChars - 1));
    if (cch) {
      MultiByteToWideChar(CP_ACP, 0, printer.m_pszName, cch, param->wszPrinter,
                          kJobThreadPrinterChars - 1);
    }
    UniqueHandle thread(CreateThread(nullptr, 0, m_service.m_pfnJobThread, param.get(), 0,
                                     nullptr));
    if (!thread) return;
    param.release();
    block.release();
  }

  CQuillonService& m_service;
  std::mutex m_lock;
  // Jobs seen and let run whose finish has not been recorded yet.
  std::map<DWORD, bool> m_decided;
};

// One wait: the stop event and up to 63 printers.
class CWaitLoop {
 public:
  CWaitLoop(CJobDecisions& decisions, CNotifyOptions& options, HANDLE hStop)
      : m_decisions(decisions), m_options(options), m_hStop(hStop) {}

  bool Full() const { return m_slots.size() >= kPrintersPerWait; }
  const std::vector<WATCH_SLOT>& Slots() const { return m_slots; }
  void Add(ChangeNotification hChange, CPrnObj* pPrinter) {
    m_slots.push_back({std::move(hChange), pPrinter, 0});
  }

  // Until the stop event is set (or can no longer be waited on).
  void Run() {
    std::vector<HANDLE> handles{m_hStop};
    for (const WATCH_SLOT& slot : m_slots) handles.push_back(slot.hChange.get());
    const DWORD nHandles = static_cast<DWORD>(handles.size());
    for (;;) {
      // The lowest signalled slot comes first: the stop before any printer.
      DWORD dwResult = WaitForMultipleObjects(nHandles, handles.data(), FALSE, INFINITE);
      if (dwResult == WAIT_OBJECT_0) return;
      if (dwResult == WAIT_FAILED) {
        // Retrying at once would spin; a stop event that cannot be waited
        // on any more ends the loop.
        if (WaitForSingleObject(m_hStop, kFailedWaitPauseMs) != WAIT_TIMEOUT) return;
        continue;
      }
      DWORD dwSlot = dwResult - WAIT_OBJECT_0;
      if (dwSlot == 0 || dwSlot >= nHandles) continue;
      Serve(m_slots[dwSlot - 1]);
    }
  }

  static DWORD WINAPI ThreadRoutine(LPVOID pLoop) {
    ComApartment apartment;   // GetJobCommand's database work
    static_cast<CWaitLoop*>(pLoop)->Run();
    return 0;
  }

 private:
  void Serve(WATCH_SLOT& slot) {
    HANDLE hChange = slot.hChange.get();
    if (WaitForSingleObject(hChange, 0) != WAIT_OBJECT_0) return;
    NotifyInfoBlock block = Fetch(hChange);
    if (!block) return;
    if (block.get()->Flags & PRINTER_NOTIFY_INFO_DISCARDED) {
      block.reset();
      // The pause before the refresh also ends at the stop.
      if (WaitForSingleObject(m_hStop, kDiscardedRetryMs) != WAIT_TIMEOUT) return;
      block = Fetch(hChange);
      if (!block) return;
    }
    try {
      m_decisions.Deal(slot, std::move(block));
    } catch (const std::bad_alloc&) {
      // Dropped like any notification that cannot be dealt with.
    }
  }

  NotifyInfoBlock Fetch(HANDLE hChange) {
    DWORD dwChange = 0;
    PPRINTER_NOTIFY_INFO pInfo = nullptr;
    if (!FindNextPrinterChangeNotification(hChange, &dwChange, m_options.Get(),
                                           reinterpret_cast<LPVOID*>(&pInfo))) {
      pInfo = nullptr;
    }
    return NotifyInfoBlock(pInfo);
  }

  CJobDecisions& m_decisions;
  CNotifyOptions& m_options;
  HANDLE m_hStop;
  std::vector<WATCH_SLOT> m_slots;
};

void ReportUnwatched(CQuillonService& service, const CWaitLoop& loop) {
  for (const WATCH_SLOT& slot : loop.Slots()) {
    service.ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_PRINTER_INIT, slot.pPrinter->m_pszName,
                             "no thread could be started to wait for its notifications, "
                             "beyond the 63 printers that one wait holds");
  }
}

// Arms every printer and waits until the stop; the first wait runs on this
// thread, each further one on a thread of its own.
void Watch(CQuillonService& service, HANDLE hStop) {
  CNotifyOptions options;
  CJobDecisions decisions(service);
  std::vector<std::unique_ptr<CWaitLoop>> loops;
  loops.emplace_back(new CWaitLoop(decisions, options, hStop));
  for (CPrnObj& printer : service.m_printers) {
    ChangeNotification hChange(FindFirstPrinterChangeNotification(
        printer.m_hPrinter, PRINTER_CHANGE_DELETE_JOB, 0, options.Get()));
    if (!hChange) continue;   // not watched; the housekeeping still walks it
    if (loops.back()->Full()) loops.emplace_back(new CWaitLoop(decisions, options, hStop));
    loops.back()->Add(std::move(hChange), &printer);
  }

  std::vector<UniqueHandle> threads;
  // Reserved first: once a loop's thread runs, nothing may throw here.
  threads.reserve(loops.size());
  for (size_t i = 1; i < loops.size(); ++i) {
    UniqueHandle thread(CreateThread(nullptr, 0, CWaitLoop::ThreadRoutine, loops[i].get(), 0,
                                     nullptr));
    if (thread) {
      threads.push_back(std::move(thread));
    } else {
      ReportUnwatched(service, *loops[i]);
    }
  }
  loops[0]->Run();
  // Every loop ends on the same stop event.
  for (const UniqueHandle& thread : threads) WaitForSingleObject(thread.get(), INFINITE);
}

void ClosePrinters(CQuillonService& service) {
  std::unique_lock<std::shared_mutex> lock(service.m_printersLock);
  for (CPrnObj& printer : service.m_printers) printer.Close();
  service.m_printers.clear();
}

}  // namespace

DWORD WINAPI WatchPrinters(LPVOID pService) {
  auto* service = static_cast<CQuillonService*>(pService);
  if (!service) return static_cast<DWORD>(-1);
  ComApartment apartment;   // GetJobCommand's database work
  UniqueHandle stop(DuplicateStopEvent(service->m_hStopEvent));
  HANDLE hStop = stop ? stop.get() : service->m_hStopEvent;
  try {
    if (service->LoadPrinters()) Watch(*service, hStop);
  } catch (const std::bad_alloc&) {
    service->ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_ERROR, "Not enough memory");
  }
  // Also after a failed load: printers opened before it are not kept open.
  ClosePrinters(*service);
  return static_cast<DWORD>(-1);
}
