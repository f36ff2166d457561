// How quickly the printer change watcher turns a notification into the
// job's command. Not a test: scripts/bench runs it.
//
//   bench_watcher DSN [label]
//
// The watcher runs as in the service, on a spooler of this program's own:
// every printer has a manual-reset event as its notification and a block
// built once, whose newest job is given a new id before each round, so the
// figures are the watcher's own and not a simulation's. A rule for every
// printer and user pauses each new job; the round ends when SetJobA is
// called. Prints:
//   - the latency from SetEvent on the notification to SetJobA, with warm
//     caches (the printer and user known);
//   - the same for a printer and a user seen for the first time (both are
//     registered in the database on the way);
//   - decisions per second, one round after another, on a queue of 1,000
//     jobs (each notification carries every job's fields).
#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "database/com_errors.h"
#include "printer_monitor/printer_watcher.h"
#include "service_core/quillon_service.h"

namespace {

// ---- The spooler of this program.

struct BENCH_PRINTER {
  std::string name;
  HANDLE hNotification = nullptr;
  std::vector<BYTE> block;                   // a PRINTER_NOTIFY_INFO
  std::deque<std::string> texts;             // what its entries point at
  DEVMODEA devMode = {};
  SYSTEMTIME submitted = {2024, 3, 5, 1, 10, 0, 0, 0};
  size_t nFirstOfNewest = 0;                 // the newest job's first entry
};

std::vector<std::unique_ptr<BENCH_PRINTER>> g_printers;
std::atomic<size_t> g_nArmed{0};
HANDLE g_hApplied = nullptr;                 // set by SetJobA
LARGE_INTEGER g_appliedAt;
DWORD g_dwAppliedJob = 0;

constexpr WORD kFields[] = {JOB_NOTIFY_FIELD_STATUS,       JOB_NOTIFY_FIELD_BYTES_PRINTED,
                            JOB_NOTIFY_FIELD_DOCUMENT,     JOB_NOTIFY_FIELD_USER_NAME,
                            JOB_NOTIFY_FIELD_MACHINE_NAME, JOB_NOTIFY_FIELD_TOTAL_PAGES,
                            JOB_NOTIFY_FIELD_DEVMODE,      JOB_NOTIFY_FIELD_SUBMITTED,
                            JOB_NOTIFY_FIELD_TOTAL_BYTES};
constexpr size_t kFieldCount = sizeof(kFields) / sizeof(kFields[0]);

PRINTER_NOTIFY_INFO* Block(BENCH_PRINTER& p) {
  return reinterpret_cast<PRINTER_NOTIFY_INFO*>(p.block.data());
}

// nJobs jobs of the user, ids 1..nJobs, all fields as the watcher asks.
void BuildQueue(BENCH_PRINTER& p, size_t nJobs, const std::string& user) {
  p.devMode.dmSize = sizeof(DEVMODEA);
  p.devMode.dmFields = DM_PAPERSIZE | DM_COPIES;
  p.devMode.dmPaperSize = DMPAPER_A4;
  p.devMode.dmCopies = 1;
  p.texts.clear();
  p.texts.push_back(user);
  p.texts.push_back("Quarterly report.pdf");
  p.texts.push_back("\\\\CLIENT");
  p.block.assign(offsetof(PRINTER_NOTIFY_INFO, aData) +
                     nJobs * kFieldCount * sizeof(PRINTER_NOTIFY_INFO_DATA), 0);
  PRINTER_NOTIFY_INFO* pInfo = Block(p);
  pInfo->Version = 2;
  pInfo->Count = static_cast<DWORD>(nJobs * kFieldCount);
  for (size_t j = 0; j < nJobs; ++j) {
    for (size_t f = 0; f < kFieldCount; ++f) {
      PRINTER_NOTIFY_INFO_DATA& e = pInfo->aData[j * kFieldCount + f];
      e.Type = JOB_NOTIFY_TYPE;
      e.Field = kFields[f];
      e.Id = static_cast<DWORD>(j + 1);
      auto text = [&e](const std::string& s) {
        e.NotifyData.Data.cbBuf = static_cast<DWORD>(s.size() + 1);
        e.NotifyData.Data.pBuf = const_cast<char*>(s.c_str());
      };
      switch (kFields[f]) {
        case JOB_NOTIFY_FIELD_USER_NAME: text(p.texts[0]); break;
        case JOB_NOTIFY_FIELD_DOCUMENT: text(p.texts[1]); break;
        case JOB_NOTIFY_FIELD_MACHINE_NAME: text(p.texts[2]); break;
        case JOB_NOTIFY_FIELD_DEVMODE:
          e.NotifyData.Data.cbBuf = sizeof(DEVMODEA);
          e.NotifyData.Data.pBuf = &p.devMode;
          break;
        case JOB_NOTIFY_FIELD_SUBMITTED:
          e.NotifyData.Data.cbBuf = sizeof(SYSTEMTIME);
          e.NotifyData.Data.pBuf = &p.submitted;
          break;
        case JOB_NOTIFY_FIELD_TOTAL_BYTES: e.NotifyData.adwData[0] = 4096; break;
        case JOB_NOTIFY_FIELD_TOTAL_PAGES: e.NotifyData.adwData[0] = 3; break;
        default: break;
      }
    }
  }
  p.nFirstOfNewest = (nJobs - 1) * kFieldCount;
}

void RenumberNewest(BENCH_PRINTER& p, DWORD dwId) {
  PRINTER_NOTIFY_INFO* pInfo = Block(p);
  for (size_t i = p.nFirstOfNewest; i < pInfo->Count; ++i) pInfo->aData[i].Id = dwId;
}

BENCH_PRINTER* OfHandle(HANDLE h) {
  size_t i = reinterpret_cast<size_t>(h);
  return i >= 1 && i <= g_printers.size() ? g_printers[i - 1].get() : nullptr;
}

BENCH_PRINTER* OfNotification(HANDLE h) {
  for (auto& p : g_printers) {
    if (p->hNotification == h) return p.get();
  }
  return nullptr;
}

}  // namespace

extern "C" {

WINBOOL WINAPI OpenPrinterA(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSA) {
  for (size_t i = 0; i < g_printers.size(); ++i) {
    if (g_printers[i]->name == pPrinterName) {
      *phPrinter = reinterpret_cast<HANDLE>(i + 1);
      return TRUE;
    }
  }
  SetLastError(ERROR_INVALID_PRINTER_NAME);
  return FALSE;
}

WINBOOL WINAPI ClosePrinter(HANDLE hPrinter) { return OfHandle(hPrinter) != nullptr; }

HANDLE WINAPI FindFirstPrinterChangeNotification(HANDLE hPrinter, DWORD, DWORD, LPVOID) {
  BENCH_PRINTER* p = OfHandle(hPrinter);
  if (!p) return INVALID_HANDLE_VALUE;
  p->hNotification = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ++g_nArmed;
  return p->hNotification;
}

WINBOOL WINAPI FindNextPrinterChangeNotification(HANDLE hChange, PDWORD pdwChange, LPVOID,
                                                 LPVOID* ppInfo) {
  BENCH_PRINTER* p = OfNotification(hChange);
  if (!p) return FALSE;
  ResetEvent(hChange);
  if (pdwChange) *pdwChange = PRINTER_CHANGE_SET_JOB;
  *ppInfo = Block(*p);
  return TRUE;
}

WINBOOL WINAPI FindClosePrinterChangeNotification(HANDLE hChange) {
  BENCH_PRINTER* p = OfNotification(hChange);
  if (!p) return FALSE;
  CloseHandle(hChange);
  p->hNotification = nullptr;
  return TRUE;
}

// The blocks are this program's and outlive every round.
WINBOOL WINAPI FreePrinterNotifyInfo(PPRINTER_NOTIFY_INFO) { return TRUE; }

WINBOOL WINAPI SetJobA(HANDLE, DWORD JobId, DWORD, LPBYTE, DWORD) {
  QueryPerformanceCounter(&g_appliedAt);
  g_dwAppliedJob = JobId;
  SetEvent(g_hApplied);
  return TRUE;
}

}  // extern "C"

namespace {

double g_ticksPerMicrosecond = 1;
DWORD g_dwNextJob = 100000;

// One round on the printer: a new newest job, its notification signalled;
// microseconds until its command was applied, or -1 if it never was.
double Round(BENCH_PRINTER& p) {
  const DWORD dwJob = ++g_dwNextJob;
  RenumberNewest(p, dwJob);
  LARGE_INTEGER signalled;
  QueryPerformanceCounter(&signalled);
  SetEvent(p.hNotification);
  if (WaitForSingleObject(g_hApplied, 20000) != WAIT_OBJECT_0 || g_dwAppliedJob != dwJob) {
    return -1;
  }
  return (g_appliedAt.QuadPart - signalled.QuadPart) / g_ticksPerMicrosecond;
}

void PrintLatencies(const char* pszWhat, const char* pszLabel, std::vector<double> us) {
  if (us.empty() || *std::min_element(us.begin(), us.end()) < 0) {
    std::printf("%s, %s: a command never came\n", pszLabel, pszWhat);
    return;
  }
  std::sort(us.begin(), us.end());
  double sum = 0;
  for (double v : us) sum += v;
  std::printf("%s, %s: median %.0f us, mean %.0f us, p90 %.0f us, max %.0f us (%zu rounds)\n",
              pszLabel, pszWhat, us[us.size() / 2], sum / us.size(), us[us.size() * 9 / 10],
              us.back(), us.size());
}

void WriteList(const char* pszName, const std::vector<std::string>& entries) {
  FILE* pFile = std::fopen(pszName, "wb");
  if (!pFile) return;
  std::fputs("//Please do not modify this file manualy!!!\r\n", pFile);
  for (const std::string& e : entries) std::fprintf(pFile, "%s\r\n", e.c_str());
  std::fclose(pFile);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_watcher DSN [label]\n");
    return 2;
  }
  const char* pszLabel = argc > 2 ? argv[2] : "database";
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  g_ticksPerMicrosecond = frequency.QuadPart / 1e6;

  // The lists go into a directory of the run's own.
  char szTemp[MAX_PATH];
  GetTempPathA(MAX_PATH, szTemp);
  const std::string dir = std::string(szTemp) + "quillon-bench-watcher-" +
                          std::to_string(GetCurrentProcessId());
  CreateDirectoryA(dir.c_str(), nullptr);
  SetCurrentDirectoryA(dir.c_str());

  constexpr int kFirstSightRounds = 50;
  constexpr int kWarmRounds = 500;
  constexpr int kQueueRounds = 300;
  const std::string tag = std::to_string(GetCurrentProcessId());
  std::vector<std::string> names = {"Warm", "Queue"};
  for (int i = 0; i < kFirstSightRounds; ++i) {
    names.push_back("New printer " + tag + "-" + std::to_string(i));
  }
  for (size_t i = 0; i < names.size(); ++i) {
    g_printers.emplace_back(new BENCH_PRINTER());
    g_printers.back()->name = names[i];
    std::string user = i < 2 ? "alice" : "new user " + tag + "-" + std::to_string(i);
    BuildQueue(*g_printers.back(), names[i] == "Queue" ? 1000 : 1, user);
  }
  WriteList("printers.lst", names);
  WriteList("gdiprinters.lst", {});
  g_hApplied = CreateEventA(nullptr, FALSE, FALSE, nullptr);

  int nResult = 0;
  {
    ComApartment apartment;
    CQuillonService service;
    try {
      service.pConnection.CreateInstance();
      service.pConnection->Open(argv[1]);
    } catch (const _com_error& e) {
      std::fprintf(stderr, "cannot open the database: %s\n", ComErrorDescription(e).c_str());
      return 1;
    }
    const PERMISSION_ENTRY pauseAll = {-1, -1, JOB_CONTROL_PAUSE};
    service.SetPermission(&pauseAll);
    UniqueHandle stop(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    service.m_hStopEvent = stop.get();
    UniqueHandle watcher(CreateThread(nullptr, 0, WatchPrinters, &service, 0, nullptr));
    // Armed when every printer has its notification.
    for (int i = 0; i < 2000 && g_nArmed < g_printers.size(); ++i) Sleep(5);

    BENCH_PRINTER& warm = *g_printers[0];
    Round(warm);   // the printer and the user come into the caches
    std::vector<double> us;
    for (int i = 0; i < kWarmRounds; ++i) us.push_back(Round(warm));
    PrintLatencies("notification to command, warm caches", pszLabel, us);

    us.clear();
    for (int i = 0; i < kFirstSightRounds; ++i) us.push_back(Round(*g_printers[2 + i]));
    PrintLatencies("notification to command, printer and user seen first", pszLabel, us);

    BENCH_PRINTER& queue = *g_printers[1];
    Round(queue);
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    int nDone = 0;
    for (int i = 0; i < kQueueRounds; ++i) nDone += Round(queue) >= 0 ? 1 : 0;
    QueryPerformanceCounter(&end);
    double seconds = (end.QuadPart - start.QuadPart) / (g_ticksPerMicrosecond * 1e6);
    std::printf("%s, decisions on a queue of 1000 jobs: %.0f per second (%d rounds)\n", pszLabel,
                nDone / seconds, nDone);
    if (nDone != kQueueRounds) nResult = 1;

    SetEvent(stop.get());
    WaitForSingleObject(watcher.get(), 20000);
  }
  DeleteFileA("printers.lst");
  DeleteFileA("gdiprinters.lst");
  SetCurrentDirectoryA(szTemp);
  RemoveDirectoryA(dir.c_str());
  CloseHandle(g_hApplied);
  return nResult;
}
