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

// Thread routine; the argument is a JOB_THREAD_PARAM*. Returns -1 without
// one, else 1.
//
// The job's accounting is not part of the service yet: for now the thread
// only gives back its notification block and its start block, and ends.
DWORD WINAPI JobThread(LPVOID pParam);
