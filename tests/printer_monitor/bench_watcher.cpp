// How quickly the printer change watcher turns a notification into the
// job's command. Not a test: scripts/bench runs it.
//
//   bench_watcher DSN [label]
//
// The watcher runs as in the service, on a spooler of this program's own:
// every printer has a manual-reset event as its notification, a refresh
// block of its whole queue and a delta block of one new job, both built
// once; the new job is given a new id before each round, so the figures are
// the watcher's own and not a simulation's. A rule for every printer and
// user pauses each new job; the round ends when SetJobA is called. Prints:
//   - the latency from SetEvent on the notification to SetJobA, with warm
//     caches (the printer and the user known);
//   - the same for a printer and a user seen for the first time (both are
//     registered in the database on the way);
//   - decisions per second, one round after another, on a queue of 1,000
//     jobs (a delta carries only the new job);
//   - the time a refresh of that queue takes, from the signal of a block
//     flagged as discarded to the refreshed block given back: the cost of
//     a check of a printer with 1,000 queued jobs.
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
  std::vector<BYTE> refresh;                 // a PRINTER_NOTIFY_INFO of the whole queue
  std::vector<BYTE> delta;                   // one of the newest job alone
  std::deque<std::wstring> texts;            // what their entries point at
  DEVMODEW devMode = {};
  SYSTEMTIME submitted = {2024, 3, 5, 1, 10, 0, 0, 0};
  bool bDiscardNext = false;                 // the next delta comes flagged as discarded
};

std::vector<std::unique_ptr<BENCH_PRINTER>> g_printers;
HANDLE g_hApplied = nullptr;                 // set by SetJobA
LARGE_INTEGER g_appliedAt;
DWORD g_dwAppliedJob = 0;
HANDLE g_hRefreshed = nullptr;               // set when a refresh block is given back
LARGE_INTEGER g_refreshedAt;
std::atomic<size_t> g_nRefreshed{0};

constexpr WORD kFields[] = {JOB_NOTIFY_FIELD_STATUS,       JOB_NOTIFY_FIELD_BYTES_PRINTED,
                            JOB_NOTIFY_FIELD_DOCUMENT,     JOB_NOTIFY_FIELD_USER_NAME,
                            JOB_NOTIFY_FIELD_MACHINE_NAME, JOB_NOTIFY_FIELD_TOTAL_PAGES,
                            JOB_NOTIFY_FIELD_DEVMODE,      JOB_NOTIFY_FIELD_SUBMITTED,
                            JOB_NOTIFY_FIELD_TOTAL_BYTES};
constexpr size_t kFieldCount = sizeof(kFields) / sizeof(kFields[0]);

PRINTER_NOTIFY_INFO* Block(std::vector<BYTE>& block) {
  return reinterpret_cast<PRINTER_NOTIFY_INFO*>(block.data());
}

// nJobs jobs of the user, ids 1..nJobs, every field the watcher asks for,
// as the spooler writes them: UTF-16 texts with cbBuf in bytes, a DEVMODEW.
void BuildBlock(BENCH_PRINTER& p, std::vector<BYTE>& block, DWORD dwFirstId, size_t nJobs) {
  block.assign(offsetof(PRINTER_NOTIFY_INFO, aData) +
                   std::max<size_t>(1, nJobs * kFieldCount) * sizeof(PRINTER_NOTIFY_INFO_DATA),
               0);
  PRINTER_NOTIFY_INFO* pInfo = Block(block);
  pInfo->Version = 2;
  pInfo->Count = static_cast<DWORD>(nJobs * kFieldCount);
  for (size_t j = 0; j < nJobs; ++j) {
    for (size_t f = 0; f < kFieldCount; ++f) {
      PRINTER_NOTIFY_INFO_DATA& e = pInfo->aData[j * kFieldCount + f];
      e.Type = JOB_NOTIFY_TYPE;
      e.Field = kFields[f];
      e.Id = static_cast<DWORD>(dwFirstId + j);
      auto text = [&e](std::wstring& s) {
        e.NotifyData.Data.cbBuf = static_cast<DWORD>((s.size() + 1) * sizeof(wchar_t));
        e.NotifyData.Data.pBuf = &s[0];
      };
      switch (kFields[f]) {
        case JOB_NOTIFY_FIELD_USER_NAME: text(p.texts[0]); break;
        case JOB_NOTIFY_FIELD_DOCUMENT: text(p.texts[1]); break;
        case JOB_NOTIFY_FIELD_MACHINE_NAME: text(p.texts[2]); break;
        case JOB_NOTIFY_FIELD_DEVMODE:
          e.NotifyData.Data.cbBuf = sizeof(DEVMODEW);
          e.NotifyData.Data.pBuf = &p.devMode;
          break;
        case JOB_NOTIFY_FIELD_SUBMITTED:
          e.NotifyData.Data.cbBuf = sizeof(SYSTEMTIME);
          e.NotifyData.Data.pBuf = &p.submitted;
          break;
        case JOB_NOTIFY_FIELD_STATUS: e.NotifyData.adwData[0] = JOB_STATUS_SPOOLING; break;
        case JOB_NOTIFY_FIELD_TOTAL_BYTES: e.NotifyData.adwData[0] = 4096; break;
        case JOB_NOTIFY_FIELD_TOTAL_PAGES: e.NotifyData.adwData[0] = 3; break;
        default: break;
      }
    }
  }
}

void BuildQueue(BENCH_PRINTER& p, size_t nJobs, const std::wstring& user) {
  p.devMode.dmSize = sizeof(DEVMODEW);
  p.devMode.dmFields = DM_PAPERSIZE | DM_COPIES;
  p.devMode.dmPaperSize = DMPAPER_A4;
  p.devMode.dmCopies = 1;
  p.texts = {user, L"Quarterly report.pdf", L"\\\\CLIENT"};
  BuildBlock(p, p.refresh, 1, nJobs);
  BuildBlock(p, p.delta, 1, 1);
}

void RenumberNewest(BENCH_PRINTER& p, DWORD dwId) {
  PRINTER_NOTIFY_INFO* pInfo = Block(p.delta);
  for (DWORD i = 0; i < pInfo->Count; ++i) pInfo->aData[i].Id = dwId;
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
  return p->hNotification;
}

WINBOOL WINAPI FindNextPrinterChangeNotification(HANDLE hChange, PDWORD pdwChange, LPVOID pOptions,
                                                 LPVOID* ppInfo) {
  BENCH_PRINTER* p = OfNotification(hChange);
  if (!p) return FALSE;
  ResetEvent(hChange);
  if (pdwChange) *pdwChange = PRINTER_CHANGE_SET_JOB;
  auto* options = static_cast<const PRINTER_NOTIFY_OPTIONS*>(pOptions);
  const bool bRefresh = options && (options->Flags & PRINTER_NOTIFY_OPTIONS_REFRESH);
  PRINTER_NOTIFY_INFO* pInfo = Block(bRefresh ? p->refresh : p->delta);
  pInfo->Flags = 0;
  if (!bRefresh && p->bDiscardNext) {
    p->bDiscardNext = false;
    pInfo->Flags = PRINTER_NOTIFY_INFO_DISCARDED;
  }
  *ppInfo = pInfo;
  return TRUE;
}

WINBOOL WINAPI FindClosePrinterChangeNotification(HANDLE hChange) {
  BENCH_PRINTER* p = OfNotification(hChange);
  if (!p) return FALSE;
  CloseHandle(hChange);
  p->hNotification = nullptr;
  return TRUE;
}

// The blocks are this program's and outlive every round; a refresh given
// back ends a refresh round.
WINBOOL WINAPI FreePrinterNotifyInfo(PPRINTER_NOTIFY_INFO pInfo) {
  for (auto& p : g_printers) {
    if (pInfo == Block(p->refresh)) {
      ++g_nRefreshed;
      QueryPerformanceCounter(&g_refreshedAt);
      SetEvent(g_hRefreshed);
    }
  }
  return TRUE;
}

WINBOOL WINAPI SetJobA(HANDLE, DWORD JobId, DWORD, LPBYTE, DWORD) {
  QueryPerformanceCounter(&g_appliedAt);
  g_dwAppliedJob = JobId;
  SetEvent(g_hApplied);
  return TRUE;
}

// The blocks tell every field: the watcher never needs to ask.
WINBOOL WINAPI GetJobW(HANDLE, DWORD, DWORD, LPBYTE, DWORD, LPDWORD) {
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

}  // extern "C"

namespace {

double g_ticksPerMicrosecond = 1;
DWORD g_dwNextJob = 100000;

// One round on the printer: a new job, its notification signalled;
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

// One refresh of the printer's queue: a delta flagged as discarded makes
// the watcher ask for a refresh at once; microseconds from the signal until
// the refreshed block was given back, or -1 if it never was.
double RefreshRound(BENCH_PRINTER& p) {
  p.bDiscardNext = true;
  LARGE_INTEGER signalled;
  QueryPerformanceCounter(&signalled);
  SetEvent(p.hNotification);
  if (WaitForSingleObject(g_hRefreshed, 20000) != WAIT_OBJECT_0) return -1;
  return (g_refreshedAt.QuadPart - signalled.QuadPart) / g_ticksPerMicrosecond;
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
  constexpr int kRefreshRounds = 30;
  const std::string tag = std::to_string(GetCurrentProcessId());
  std::vector<std::string> names = {"Warm", "Queue"};
  for (int i = 0; i < kFirstSightRounds; ++i) {
    names.push_back("New printer " + tag + "-" + std::to_string(i));
  }
  for (size_t i = 0; i < names.size(); ++i) {
    g_printers.emplace_back(new BENCH_PRINTER());
    g_printers.back()->name = names[i];
    std::string user = i < 2 ? "alice" : "new user " + tag + "-" + std::to_string(i);
    // The printers of the first-sight rounds start empty: their printer and
    // user come with the round's job.
    BuildQueue(*g_printers.back(), names[i] == "Queue" ? 1000 : i < 2 ? 1 : 0,
               std::wstring(user.begin(), user.end()));
  }
  WriteList("printers.lst", names);
  WriteList("gdiprinters.lst", {});
  g_hApplied = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  g_hRefreshed = CreateEventA(nullptr, FALSE, FALSE, nullptr);

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
    // Armed when every printer has its notification and its first refresh
    // (the queue's 1,000 jobs paused on the way) has been dealt with.
    for (int i = 0; i < 4000 && g_nRefreshed < g_printers.size(); ++i) Sleep(5);
    ResetEvent(g_hApplied);
    ResetEvent(g_hRefreshed);

    BENCH_PRINTER& warm = *g_printers[0];
    Round(warm);   // the printer and the user come into the caches
    std::vector<double> us;
    for (int i = 0; i < kWarmRounds; ++i) us.push_back(Round(warm));
    PrintLatencies("notification to command, warm caches", pszLabel, us);

    us.clear();
    for (int i = 0; i < kFirstSightRounds; ++i) us.push_back(Round(*g_printers[2 + i]));
    PrintLatencies("notification to command, printer and user seen first", pszLabel, us);

    BENCH_PRINTER& queue = *g_printers[1];
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    int nDone = 0;
    for (int i = 0; i < kQueueRounds; ++i) nDone += Round(queue) >= 0 ? 1 : 0;
    QueryPerformanceCounter(&end);
    double seconds = (end.QuadPart - start.QuadPart) / (g_ticksPerMicrosecond * 1e6);
    std::printf("%s, decisions on a queue of 1000 jobs: %.0f per second (%d rounds)\n", pszLabel,
                nDone / seconds, nDone);
    if (nDone != kQueueRounds) nResult = 1;

    us.clear();
    for (int i = 0; i < kRefreshRounds; ++i) us.push_back(RefreshRound(queue));
    PrintLatencies("a refresh of a queue of 1000 known jobs", pszLabel, us);

    SetEvent(stop.get());
    WaitForSingleObject(watcher.get(), 20000);
  }
  DeleteFileA("printers.lst");
  DeleteFileA("gdiprinters.lst");
  SetCurrentDirectoryA(szTemp);
  RemoveDirectoryA(dir.c_str());
  CloseHandle(g_hApplied);
  CloseHandle(g_hRefreshed);
  return nResult;
}
