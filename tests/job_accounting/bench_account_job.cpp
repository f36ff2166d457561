// Jobs accounted per second through AccountJob with warm caches (printers,
// users, computers and pairs already known), beside the plain prepared
// INSERT rate into PRNDATA on the same connection. Run by scripts/bench;
// not a test.
//
//   bench_account_job DSN JOBS [label]
//   bench_account_job DSN JOBS label replay
// The second form journals JOBS jobs and times their replay into the
// database (the journal beside the program is replaced).
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "database/com_errors.h"
#include "job_accounting/job_data.h"
#include "job_accounting/job_journal.h"
#include "plain_insert_rate.h"
#include "service_core/lock.h"
#include "service_core/quillon_service.h"

namespace {

void Put(WCHAR* pwszField, size_t cchField, const std::wstring& text) {
  std::wmemset(reinterpret_cast<wchar_t*>(pwszField), 0, cchField);
  std::wmemcpy(reinterpret_cast<wchar_t*>(pwszField), text.c_str(),
               text.size() < cchField ? text.size() : cchField);
}

// Jobs of 20 printers, 50 users and 30 computers, as a busy print server
// sees them; the size comes from the watcher's entry, as for a GDI job.
JOB_DATA Job(int i) {
  JOB_DATA job = {};
  Put(job.wszPrinter, kJobPrinterChars, L"Printer " + std::to_wstring(i % 20));
  Put(job.wszUser, kJobUserChars, L"user" + std::to_wstring(i % 50));
  Put(job.wszComputer, kJobComputerChars, L"WS-" + std::to_wstring(i % 30));
  Put(job.wszDocument, kJobDocumentChars, L"Document " + std::to_wstring(i) + L".pdf");
  job.dwTotalPages = 1 + i % 30;
  job.dwCopies = 1;
  job.tSubmitted = 1700000000 + i;
  job.dwJobId = static_cast<DWORD>(i + 1);
  job.wPaperSize = 9;
  job.wPaperLength = 2970;
  job.wPaperWidth = 2100;
  job.wColor = 1;
  job.wDuplex = 1;
  return job;
}

double AccountedPerSecond(CQuillonService& service, int nFirst, int nJobs) {
  auto start = std::chrono::steady_clock::now();
  for (int i = nFirst; i < nFirst + nJobs; ++i) {
    JOB_DATA job = Job(i);
    {
      CLock lock(kJobQueueTimeout, kJobQueueMutex);
      service.m_jobTable[job.dwJobId] = {10000u + i, 0};
    }
    service.AccountJob(job);
  }
  std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  return nJobs / elapsed.count();
}

// Journaled jobs written per second by the replay, new names included.
int ReplayRate(const char* pszDsn, int nJobs, const char* pszLabel) {
  char szPath[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, szPath, MAX_PATH);
  std::string path(szPath);
  path = path.substr(0, path.find_last_of("\\/") + 1) + kJournalFile;
  DeleteFileA(path.c_str());
  {
    CJobJournal journal(path, uint64_t(1) << 40);
    for (int i = 0; i < nJobs; ++i) {
      JOURNALED_JOB job;
      job.printer = "Printer " + std::to_string(i % 20);
      job.user = "user" + std::to_string(i % 50);
      job.computer = "WS-" + std::to_string(i % 30);
      job.document = "Document " + std::to_string(i) + ".pdf";
      job.lPages = 1 + i % 30;
      job.lJobSize = 10000 + i;
      job.lSubmitted = 1700000000 + i;
      job.nPaperSize = 9;
      job.nPaperLength = 2970;
      job.nPaperWidth = 2100;
      job.nColor = 1;
      job.nDuplex = 1;
      if (journal.Keep(job) != CJobJournal::Append::Written) return 1;
    }
  }
  CQuillonService service;
  service.pConnection.CreateInstance();
  service.pConnection->Open(pszDsn);
  auto start = std::chrono::steady_clock::now();
  const bool bDone = service.Keeper().Replay(nullptr);
  std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  std::printf("%-22s replay of %d journaled jobs: %8.0f jobs/s (%.1f s)%s\n", pszLabel, nJobs,
              nJobs / elapsed.count(), elapsed.count(), bDone ? "" : "  NOT ALL WRITTEN");
  service.pConnection->Close();
  DeleteFileA(path.c_str());
  return bDone ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s DSN JOBS [label]\n", argv[0]);
    return 2;
  }
  const int nJobs = std::atoi(argv[2]);
  const char* pszLabel = argc > 3 ? argv[3] : "";
  try {
    if (argc > 4 && std::string(argv[4]) == "replay") return ReplayRate(argv[1], nJobs, pszLabel);
    CQuillonService service;
    service.pConnection.CreateInstance();
    service.pConnection->Open(argv[1]);
    // Warm: every printer, user, computer and pair is known from here on.
    AccountedPerSecond(service, 0, 600);
    PlainRowsPerSecond(service.pConnection, 50);
    // Alternate the two in short rounds, so that neither gets the quieter
    // moments of a busy machine.
    constexpr int kRounds = 8;
    double accounted = 0, plain = 0;
    for (int round = 0; round < kRounds; ++round) {
      accounted += AccountedPerSecond(service, 600 + round * (nJobs / kRounds), nJobs / kRounds);
      plain += PlainRowsPerSecond(service.pConnection, nJobs / kRounds);
    }
    accounted /= kRounds;
    plain /= kRounds;
    std::printf("%-22s AccountJob %8.0f jobs/s   plain insert %8.0f rows/s   ratio %.2f\n",
                pszLabel, accounted, plain, accounted / plain);
    service.pConnection->Close();
    return 0;
  } catch (const _com_error& e) {
    std::fprintf(stderr, "%s: %s\n", ComErrorText(e).c_str(), ComErrorDescription(e).c_str());
    return 1;
  }
}
