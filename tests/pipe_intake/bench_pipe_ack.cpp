// How long a pipe client waits for its acknowledgment (the service closing
// the connection once the job is journaled), with the database healthy and
// with it locked by another connection; and how long a stop takes with jobs
// in flight while it is locked. Run by scripts/bench; not a test.
//
//   bench_pipe_ack DSN LABEL
// The DSN names a database made from the schema; on SQLite it should carry
// a busy time-out (Timeout=1000). The lock is BEGIN EXCLUSIVE on SQLite and
// LOCK TABLE PRNDATA on PostgreSQL, held by a connection of its own.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "database/com_errors.h"
#include "database/odbc_statement.h"
#include "job_accounting/job_data.h"
#include "pipe_client_support.h"
#include "pipe_intake/pipe_listener.h"
#include "service_core/quillon_service.h"

namespace {

double NowMs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

JOB_DATA Job(int n) {
  JOB_DATA job = {};
  const std::wstring document = L"Bench " + std::to_wstring(n) + L".pdf";
  std::wmemcpy(reinterpret_cast<wchar_t*>(job.wszPrinter), L"Bench Printer", 13);
  std::wmemcpy(reinterpret_cast<wchar_t*>(job.wszUser), L"bench", 5);
  std::wmemcpy(reinterpret_cast<wchar_t*>(job.wszComputer), L"WS-BENCH", 8);
  std::wmemcpy(reinterpret_cast<wchar_t*>(job.wszDocument), document.c_str(), document.size());
  job.dwTotalPages = 1 + n % 20;
  job.dwCopies = 1;
  job.tSubmitted = 1700000000 + n;
  return job;
}

// Milliseconds from the payload's write to the service's close, or -1.
double SendOne(const std::string& pipe, int n) {
  UniqueHandle client = ConnectTo(pipe);
  const JOB_DATA job = Job(n);
  if (!client || !WriteHeader(client.get(), PIPE_JOB, sizeof(job))) return -1;
  const double start = NowMs();
  if (!WriteMessage(client.get(), &job, sizeof(job)) || !WaitServerClose(client.get())) return -1;
  return NowMs() - start;
}

void Print(const char* pszLabel, const char* pszWhat, std::vector<double> ms) {
  if (ms.empty()) return;
  std::sort(ms.begin(), ms.end());
  std::printf("%-11s %-34s median %6.1f ms   p90 %6.1f ms   max %6.1f ms   (%zu jobs)\n",
              pszLabel, pszWhat, ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back(),
              ms.size());
}

class CLock {
 public:
  CLock(const char* pszDsn, bool bSQLite) {
    m_connection.CreateInstance();
    m_connection->Open(pszDsn);
    COdbcStatement stmt(m_connection->Handle());
    if (bSQLite) {
      stmt.ExecDirect(L"BEGIN EXCLUSIVE");
    } else {
      m_connection->BeginTransaction();
      stmt.ExecDirect(L"LOCK TABLE PRNDATA IN ACCESS EXCLUSIVE MODE");
    }
    m_bSQLite = bSQLite;
  }
  ~CLock() {
    try {
      if (m_bSQLite) {
        COdbcStatement stmt(m_connection->Handle());
        stmt.ExecDirect(L"COMMIT");
      } else {
        m_connection->EndTransaction(true);
      }
      m_connection->Close();
    } catch (const _com_error&) {
    }
  }

 private:
  ConnectionPtr m_connection;
  bool m_bSQLite = false;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s DSN LABEL\n", argv[0]);
    return 2;
  }
  const char* pszDsn = argv[1];
  const char* pszLabel = argv[2];
  const bool bSQLite = std::strstr(pszDsn, "SQLite") != nullptr;
  RemoveJournal();
  try {
    CQuillonService service;
    service.pConnection.CreateInstance();
    service.pConnection->Open(pszDsn);
    service.m_settings.dwJobSizeRetryMs = 1;
    service.m_settings.pipeIntake.sPipeName =
        "\\\\.\\pipe\\quillon-bench-" + std::to_string(GetCurrentProcessId());
    service.m_settings.pipeIntake.dwAcceptPauseMs = 0;   // the acknowledgment alone
    const std::string& pipe = service.m_settings.pipeIntake.sPipeName;
    UniqueHandle stop(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    service.m_hStopEvent = stop.get();
    service.Keeper().StartReplaying(stop.get());
    UniqueHandle listener(CreateThread(nullptr, 0, PipeListenerThread, &service, 0, nullptr));

    // Warm: the printer, user, computer and pair are known from here on.
    for (int n = 0; n < 20; ++n) SendOne(pipe, n);
    service.Keeper().WaitUntilSettled(INFINITE);

    std::vector<double> healthy;
    for (int n = 100; n < 400; ++n) {
      healthy.push_back(SendOne(pipe, n));
      service.Keeper().WaitUntilSettled(INFINITE);
    }
    Print(pszLabel, "acknowledgment, database healthy", healthy);

    std::vector<double> locked;
    {
      CLock lock(pszDsn, bSQLite);
      for (int n = 1000; n < 1030; ++n) locked.push_back(SendOne(pipe, n));
    }
    Print(pszLabel, "acknowledgment, database locked", locked);
    service.Keeper().WaitUntilSettled(INFINITE);
    while (service.Keeper().Waiting()) Sleep(100);   // the replay writes them

    // A stop with ten jobs in flight while the database is locked: until
    // every connection has ended and every job is journaled.
    double stopMs;
    {
      CLock lock(pszDsn, bSQLite);
      for (int n = 2000; n < 2010; ++n) SendOne(pipe, n);
      const double start = NowMs();
      SetEvent(stop.get());
      WaitForSingleObject(listener.get(), INFINITE);
      service.Keeper().WaitUntilSettled(INFINITE);
      WaitForSingleObject(service.Keeper().ReplayThread(), INFINITE);
      stopMs = NowMs() - start;
    }
    service.Keeper().EndReplaying();
    std::printf("%-11s %-34s %6.0f ms (10 jobs in flight, database locked)\n", pszLabel,
                "stop", stopMs);
    const size_t nKept = service.Keeper().Waiting();
    service.m_hStopEvent = nullptr;
    // The next start would write them; here they are written now.
    const bool bWritten = service.Keeper().Replay(nullptr);
    std::printf("%-11s %-34s %zu jobs journaled at the stop, %s\n", pszLabel, "", nKept,
                bWritten ? "written afterwards" : "NOT WRITTEN");
    service.pConnection->Close();
    RemoveJournal();
    return bWritten ? 0 : 1;
  } catch (const _com_error& e) {
    std::fprintf(stderr, "%s\n", ComFailureText(e).c_str());
    return 1;
  }
}
