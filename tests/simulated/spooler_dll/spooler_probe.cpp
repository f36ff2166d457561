// A small program that uses the spooler as the printer watcher does: it
// opens the printer named on its command line, waits for a change of its
// queue, fetches the job data and pauses the newest job. Run beside the
// winspool.drv stand-in, it shows that a whole program reaches the stand-in.
// Exit codes: 0 paused a job, 2 no such printer, 3 no notification,
// 4 nothing changed in time, 5 no data, 6 SetJobA failed.
#include <windows.h>
#include <winspool.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) return 1;
  HANDLE printer = nullptr;
  if (!OpenPrinterA(argv[1], &printer, nullptr)) {
    std::printf("OpenPrinterA: %lu\n", GetLastError());
    return 2;
  }
  WORD fields[] = {JOB_NOTIFY_FIELD_STATUS, JOB_NOTIFY_FIELD_USER_NAME};
  PRINTER_NOTIFY_OPTIONS_TYPE type = {JOB_NOTIFY_TYPE, 0, 0, 0, 2, fields};
  PRINTER_NOTIFY_OPTIONS options = {2, PRINTER_NOTIFY_OPTIONS_REFRESH, 1, &type};
  HANDLE change = FindFirstPrinterChangeNotification(printer, PRINTER_CHANGE_DELETE_JOB, 0, &options);
  int rc = 0;
  void* data = nullptr;
  if (change == INVALID_HANDLE_VALUE) {
    rc = 3;
  } else if (WaitForSingleObject(change, 30000) != WAIT_OBJECT_0) {
    rc = 4;
  } else if (!FindNextPrinterChangeNotification(change, nullptr, &options, &data) || !data) {
    rc = 5;
  } else {
    auto* info = static_cast<PPRINTER_NOTIFY_INFO>(data);
    DWORD job = 0;
    for (DWORD i = 0; i < info->Count; ++i) {
      if (info->aData[i].Field == JOB_NOTIFY_FIELD_STATUS) job = info->aData[i].Id;
    }
    if (!SetJobA(printer, job, 0, nullptr, JOB_CONTROL_PAUSE)) rc = 6;
    FreePrinterNotifyInfo(info);
  }
  if (change != INVALID_HANDLE_VALUE) FindClosePrinterChangeNotification(change);
  ClosePrinter(printer);
  return rc;
}
