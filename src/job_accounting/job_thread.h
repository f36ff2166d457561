// The per-job thread: one for each job that the watcher sees finish on a
// GDI printer, started with a JOB_THREAD_PARAM that it owns from its start.
#pragma once

#include <windows.h>
#include <winspool.h>

class CQuillonService;

constexpr size_t kJobThreadPrinterChars = 256;

// The start block: allocated with new by the watcher, deleted by the
// thread, which also releases pInfo with FreePrinterNotifyInfo.
struct JOB_THREAD_PARAM {
  PRINTER_NOTIFY_INFO* pInfo;                  // the notification in which the job finished
  CQuillonService* pService;
  WCHAR wszPrinter[kJobThreadPrinterChars];    // zero-terminated
  DWORD dwJobId;
};

// Thread routine; the argument is a JOB_THREAD_PARAM*. Builds the job's
// JOB_DATA from the notification (this job's entries only), takes the copy
// count from the job's spool shadow file (1 when it cannot be read) and
// accounts the job. Returns -1 without a start block, else 1.
DWORD WINAPI JobThread(LPVOID pParam);
