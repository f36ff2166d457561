// One printer that the watcher watches: the elements of m_printers that bear
// its name (a printer named more than once in the lists is watched once,
// and is a GDI printer when any of its entries is), its change
// notification, and the jobs of its queue. Its handles come and go with the
// spooler: Connect opens what is not open and arms the notification,
// Disconnect closes both; m_hPrinter of an element is changed only under
// m_printersLock held exclusively, since a housekeeping pass uses it under
// the shared lock.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "printer_monitor/notify_block.h"
#include "printer_monitor/prn_obj.h"
#include "printer_monitor/queue_jobs.h"
#include "service_core/win_owners.h"

class CQuillonService;

// The job fields the watcher asks for, and the two forms of the options
// that FindNextPrinterChangeNotification takes: with and without the
// refresh flag (FindFirstPrinterChangeNotification ignores the flag).
class CNotifyOptions {
 public:
  CNotifyOptions();
  CNotifyOptions(const CNotifyOptions&) = delete;
  CNotifyOptions& operator=(const CNotifyOptions&) = delete;
  LPVOID Get(bool bRefresh) { return bRefresh ? &m_refresh : &m_delta; }

 private:
  WORD m_fields[9];
  PRINTER_NOTIFY_OPTIONS_TYPE m_type;
  PRINTER_NOTIFY_OPTIONS m_refresh;
  PRINTER_NOTIFY_OPTIONS m_delta;
};

class CWatchedPrinter {
 public:
  CWatchedPrinter(CQuillonService& service, std::vector<CPrnObj*> elements);
  CWatchedPrinter(const CWatchedPrinter&) = delete;
  CWatchedPrinter& operator=(const CWatchedPrinter&) = delete;

  const char* Name() const { return m_elements.front()->m_pszName; }
  bool IsGdi() const { return m_bGdi; }
  // The handle the watcher uses (the first element's); null while closed.
  HANDLE Printer() const { return m_elements.front()->m_hPrinter; }
  bool Armed() const { return static_cast<bool>(m_hChange); }
  HANDLE Notification() const { return m_hChange.get(); }
  CQueueJobs& Jobs() { return m_jobs; }

  // Opens every element that is not open and arms the notification. False
  // when a step failed; the thread's last error then says why. After a
  // failed open nothing is held; after a failed arm the printer is open
  // (afresh), not armed.
  bool Connect(CNotifyOptions& options);
  // Closes the notification, then the elements' printer handles.
  void Disconnect();
  // FindNextPrinterChangeNotification. False when the call failed; a block
  // may be null when the call gave none.
  bool Fetch(CNotifyOptions& options, bool bRefresh, NotifyInfoBlock& block);

  // The watcher's bookkeeping of this printer, in GetTickCount64 time.
  ULONGLONG m_tNextTry = 0;       // while not armed: when to connect again
  DWORD m_dwRetryMs = 0;          // the pause before that try
  ULONGLONG m_tLastFetch = 0;     // while armed: the last fetch
  bool m_bRefreshDue = true;      // the next fetch asks for a refresh
  bool m_bLossReported = false;   // an event says it is not watched

 private:
  // Opens the elements that are not open; false at the first that fails.
  bool OpenElements();

  CQuillonService& m_service;
  std::vector<CPrnObj*> m_elements;
  bool m_bGdi;
  ChangeNotification m_hChange;
  CQueueJobs m_jobs;
};
