#include "printer_monitor/printer_watcher.h"

#include <winspool.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <string>
#include <vector>

#include "job_accounting/job_thread.h"
#include "printer_monitor/job_decision.h"
#include "printer_monitor/notify_reader.h"
#include "printer_monitor/prn_obj.h"
#include "printer_monitor/stop_event.h"
#include "printer_monitor/watched_printer.h"
#include "service_core/exc.h"
#include "service_core/lock.h"
#include "service_core/quillon_service.h"
#include "service_core/text_utils.h"
#include "service_core/win_owners.h"

namespace {

constexpr DWORD kPrintersPerWait = MAXIMUM_WAIT_OBJECTS - 1;   // slot 0 is the stop event
// A wait that fails is tried again after this pause, unless the stop came.
constexpr DWORD kFailedWaitPauseMs = 1000;
// A refresh may itself come back flagged as discarded; it is asked for this
// often in a row before the next check tries again.
constexpr int kRefreshAttempts = 3;

// What the watcher's wait loops share: the decisions about jobs. A printer
// is dealt with by its own loop only, one block at a time, and what the
// decisions share (the caches, the handled jobs, the finished-job table,
// the journal) has locks of its own. No lock is held across a decision: a
// decision that waits (a new name's registration, a slow spooler) holds up
// no other printer's.
class CJobDecisions {
 public:
  explicit CJobDecisions(CQuillonService& service) : m_service(service) {}

  void Deal(CWatchedPrinter& printer, const NOTIFY_READING& block, bool bRefresh) {
    CActions actions(*this, printer);
    printer.Jobs().Take(block, bRefresh, actions);
  }

 private:
  class CActions : public IJobActions {
   public:
    CActions(CJobDecisions& decisions, CWatchedPrinter& printer)
        : m_decisions(decisions), m_printer(printer) {}
    bool Decide(JOB_FACTS& job) override {
      const char* pszName = m_printer.Name();
      const int cch = static_cast<int>(strnlen(pszName, kJobPrinterChars));
      std::memset(job.job.wszPrinter, 0, sizeof(job.job.wszPrinter));
      if (cch) {
        MultiByteToWideChar(CP_ACP, 0, pszName, cch, job.job.wszPrinter, kJobPrinterChars);
      }
      return DecideJob(m_decisions.m_service, m_printer.Printer(), job);
    }
    void Finished(const JOB_FACTS& job) override {
      if (m_printer.IsGdi()) {
        m_decisions.HandOff(job);
      } else {
        m_decisions.RecordFinished(job);
      }
    }

   private:
    CJobDecisions& m_decisions;
    CWatchedPrinter& m_printer;
  };

  // The bytes printed as the watcher saw them, for the job's report. Without
  // them, or without the lock in time, the job has no entry, and its size is
  // asked of the spooler when it is accounted.
  void RecordFinished(const JOB_FACTS& job) {
    if (!(job.dwTold & kToldBytesPrinted)) return;
    try {
      CLock lock(kJobQueueTimeout, kJobQueueMutex);
      m_service.m_jobTable[job.job.dwJobId] = {job.dwBytesPrinted,
                                               static_cast<DWORD>(std::time(nullptr))};
    } catch (CExc* pExc) {
      delete pExc;
    }
  }

  // A job finished on a GDI printer is taken here, on the watcher's side:
  // its facts are journaled, flushed, before any step that can wait on the
  // database or the spooler (the copies, the page count, the session, the
  // row). Its bytes printed go with it. It is held in the queue until its
  // spool data is read (spool_holds.h). The per-job thread settles it; if
  // no thread starts, the ticket given back here leaves it to the replay.
  void HandOff(const JOB_FACTS& job) {
    TAKEN_JOB taken;
    taken.job = job.job;
    taken.origin = JobOrigin::Spooler;
    taken.bCopiesKnown = (job.dwTold & kToldCopies) != 0;
    taken.bSizeKnown = (job.dwTold & kToldBytesPrinted) != 0;
    taken.dwSize = job.dwBytesPrinted;
    try {
      std::unique_ptr<JOB_THREAD_PARAM> param(new JOB_THREAD_PARAM());
      param->work = m_service.EnterWork();
      param->pService = &m_service;
      param->ticket = m_service.TakeJob(taken);
      m_service.m_spoolHolds.Hold(job.job.dwJobId, static_cast<DWORD>(std::time(nullptr)));
      UniqueHandle thread(CreateThread(nullptr, 0, m_service.m_settings.pfnJobThread,
                                       param.get(), 0, nullptr));
      if (thread) param.release();   // the thread owns it now
    } catch (const std::bad_alloc&) {
      // Not even taken: lost like a notification that cannot be read.
    }
  }

  CQuillonService& m_service;
};

// One wait: the stop event and up to 63 printers, with their connections.
class CWaitLoop {
 public:
  CWaitLoop(CQuillonService& service, CJobDecisions& decisions, CNotifyOptions& options,
            HANDLE hStop)
      : m_service(service), m_decisions(decisions), m_options(options), m_hStop(hStop) {}

  bool Full() const { return m_printers.size() >= kPrintersPerWait; }
  const std::vector<CWatchedPrinter*>& Printers() const { return m_printers; }
  void Add(CWatchedPrinter* pPrinter) { m_printers.push_back(pPrinter); }

  // Until the stop event is set (or can no longer be waited on).
  void Run() {
    for (;;) {
      // A stop that comes meanwhile is the lowest slot of the wait below.
      const DWORD dwTimeout = Tend();
      std::vector<HANDLE> handles{m_hStop};
      std::vector<CWatchedPrinter*> armed;
      for (CWatchedPrinter* pPrinter : m_printers) {
        if (!pPrinter->Armed()) continue;
        handles.push_back(pPrinter->Notification());
        armed.push_back(pPrinter);
      }
      // The lowest signalled slot comes first: the stop before any printer.
      const DWORD dwResult = WaitForMultipleObjects(static_cast<DWORD>(handles.size()),
                                                    handles.data(), FALSE, dwTimeout);
      if (dwResult == WAIT_OBJECT_0) return;
      if (dwResult == WAIT_FAILED) {
        // Retrying at once would spin; a stop event that cannot be waited
        // on any more ends the loop.
        if (WaitForSingleObject(m_hStop, kFailedWaitPauseMs) != WAIT_TIMEOUT) return;
        continue;
      }
      const DWORD dwSlot = dwResult - WAIT_OBJECT_0;
      if (dwSlot >= 1 && dwSlot <= armed.size()) Serve(*armed[dwSlot - 1], true);
    }
  }

  static DWORD WINAPI ThreadRoutine(LPVOID pLoop) {
    ComApartment apartment;   // GetJobCommand's database work
    static_cast<CWaitLoop*>(pLoop)->Run();
    return 0;
  }

 private:
  bool Stopped() const { return WaitForSingleObject(m_hStop, 0) != WAIT_TIMEOUT; }

  // Connects the printers whose next try is due and checks those whose
  // notification has been quiet for the check interval; returns how long
  // the wait may last until the next of these is due. (The stop is looked
  // at only before such a step: under Wine every look is a call to the
  // server, and this runs before every wait.)
  DWORD Tend() {
    const CWatcherSettings& settings = m_service.m_settings.watcher;
    ULONGLONG tNext = ~0ull;
    for (CWatchedPrinter* pPrinter : m_printers) {
      CWatchedPrinter& printer = *pPrinter;
      if (!printer.Armed() && GetTickCount64() >= printer.m_tNextTry) {
        if (Stopped()) return 0;
        Connect(printer);
      }
      if (printer.Armed() && GetTickCount64() - printer.m_tLastFetch >= settings.dwCheckMs) {
        if (Stopped()) return 0;
        Serve(printer, false);
      }
      tNext = std::min(tNext, printer.Armed() ? printer.m_tLastFetch + settings.dwCheckMs
                                              : printer.m_tNextTry);
    }
    if (tNext == ~0ull) return INFINITE;
    const ULONGLONG tNow = GetTickCount64();
    return tNext <= tNow ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(tNext - tNow, INFINITE - 1));
  }

  void Connect(CWatchedPrinter& printer) {
    if (!printer.Connect(m_options)) {
      Lost(printer, false);
      return;
    }
    printer.m_dwRetryMs = 0;
    printer.m_bRefreshDue = true;
    if (printer.m_bLossReported) {
      m_service.ReportToEventLog(EVENTLOG_INFORMATION_TYPE, EVMSG_PRINTER_WATCHED,
                                 printer.Name());
      printer.m_bLossReported = false;
    }
    Serve(printer, false);
  }

  // Called with the failure as the thread's last error; closes what the
  // printer holds when bDisconnect.
  void Lost(CWatchedPrinter& printer, bool bDisconnect) {
    LocalBuffer<char> why(GetLastErrorText());
    if (bDisconnect) printer.Disconnect();
    if (!printer.m_bLossReported) {
      m_service.ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_PRINTER_UNWATCHED, printer.Name(),
                                 why ? why.get() : "");
      printer.m_bLossReported = true;
    }
    const CWatcherSettings& settings = m_service.m_settings.watcher;
    printer.m_dwRetryMs = printer.m_dwRetryMs == 0
                              ? settings.dwRetryFirstMs
                              : std::min(printer.m_dwRetryMs * 2, settings.dwRetryLongestMs);
    printer.m_tNextTry = GetTickCount64() + printer.m_dwRetryMs;
  }

  // Fetches what the printer's notification has to tell, with the refresh
  // flag when one is due or when no signal asked for the fetch.
  void Serve(CWatchedPrinter& printer, bool bSignalled) {
    if (bSignalled && WaitForSingleObject(printer.Notification(), 0) != WAIT_OBJECT_0) return;
    bool bRefresh = printer.m_bRefreshDue || !bSignalled;
    for (int attempt = 0; attempt < kRefreshAttempts; ++attempt) {
      NotifyInfoBlock block;
      printer.m_tLastFetch = GetTickCount64();
      if (!printer.Fetch(m_options, bRefresh, block)) {
        Lost(printer, true);
        return;
      }
      if (!block) return;   // nothing to tell
      try {
        // The block is given back once it has been dealt with.
        const NOTIFY_READING reading = ReadNotifyBlock(*block.get());
        m_decisions.Deal(printer, reading, bRefresh && !reading.bDiscarded);
        block.reset();
        if (!reading.bDiscarded) {
          printer.m_bRefreshDue = false;
          return;
        }
      } catch (const std::bad_alloc&) {
        // Dropped; the refresh asked for next brings the queue up to date.
      }
      // Nothing more is signalled until a fetch asks for a refresh.
      bRefresh = true;
    }
    printer.m_bRefreshDue = true;
  }

  CQuillonService& m_service;
  CJobDecisions& m_decisions;
  CNotifyOptions& m_options;
  HANDLE m_hStop;
  std::vector<CWatchedPrinter*> m_printers;
};

void ReportUnwatched(CQuillonService& service, const CWaitLoop& loop) {
  for (const CWatchedPrinter* pPrinter : loop.Printers()) {
    service.ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_PRINTER_INIT, pPrinter->Name(),
                             "no thread could be started to wait for its notifications, "
                             "beyond the 63 printers that one wait holds");
  }
}

// The printers to watch: one per name of m_printers, in list order, with the
// elements of that name. An element that did not open at start was reported
// by LoadPrinters: it is tried again without a report of its own.
std::vector<std::unique_ptr<CWatchedPrinter>> WatchedPrinters(CQuillonService& service) {
  std::vector<std::vector<CPrnObj*>> byName;
  for (CPrnObj& element : service.m_printers) {
    auto same = std::find_if(byName.begin(), byName.end(), [&](const std::vector<CPrnObj*>& e) {
      return lstrcmpiA(e.front()->m_pszName, element.m_pszName) == 0;
    });
    if (same == byName.end()) {
      byName.push_back({&element});
    } else {
      same->push_back(&element);
    }
  }
  std::vector<std::unique_ptr<CWatchedPrinter>> printers;
  for (std::vector<CPrnObj*>& elements : byName) {
    const bool bOpened = elements.front()->m_hPrinter != nullptr;
    printers.emplace_back(new CWatchedPrinter(service, std::move(elements)));
    printers.back()->m_bLossReported = !bOpened;
  }
  return printers;
}

// Waits until the stop; the first wait runs on this thread, each further one
// on a thread of its own.
void Watch(CQuillonService& service, HANDLE hStop) {
  CNotifyOptions options;
  CJobDecisions decisions(service);
  // Destroyed, their notifications closed, only after every loop has ended
  // and before ClosePrinters closes the printers' handles.
  std::vector<std::unique_ptr<CWatchedPrinter>> printers = WatchedPrinters(service);
  std::vector<std::unique_ptr<CWaitLoop>> loops;
  loops.emplace_back(new CWaitLoop(service, decisions, options, hStop));
  for (auto& printer : printers) {
    if (loops.back()->Full()) loops.emplace_back(new CWaitLoop(service, decisions, options, hStop));
    loops.back()->Add(printer.get());
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
