// What page quotas cost. Not a test: scripts/bench-quota runs it on a
// database of 1,000,000 PRNDATA rows (500 users, 50 printers, a year of
// jobs; see that script), on SQLite and PostgreSQL.
//
//   bench_page_quota DSN NOW LABEL
//
// NOW is the moment the figures are taken at (UTC seconds, the end of the
// year of jobs). Prints:
//   - the load: a refresh that reads the rows a quota counts, for a quota
//     for every user over the whole table (1,000,000 rows) and over a month;
//   - the catch-up: a refresh after another server wrote 1,000 rows, and one
//     with nothing new (the cost every refresh interval);
//   - the decision with warm caches, as the watcher makes it (the rule's
//     command, then the quota's): a user with a quota of their own beside
//     a user without one, ns per decision and the difference.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "database/com_errors.h"
#include "database/odbc_statement.h"
#include "job_accounting/job_facts.h"
#include "page_quota/page_quotas.h"
#include "page_quota/quota_decision.h"
#include "page_quota/quota_tables.h"
#include "printer_monitor/job_decision.h"
#include "service_core/quillon_service.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

void Exec(const ConnectionPtr& connection, const std::wstring& sql) {
  COdbcStatement stmt(connection->Handle());
  stmt.ExecDirect(sql);
}

page_quota::QUOTA Quota(int32_t idUser, int64_t pages, const char* period) {
  page_quota::QUOTA q;
  q.idUser = idUser;
  q.idPrinter = page_quota::kEvery;
  q.pages = pages;
  page_quota::ParsePeriod(period, q.period);
  q.action = 1;
  return q;
}

void Load(const ConnectionPtr& connection, const char* pszPeriod, int64_t tNow,
          const char* pszLabel) {
  Exec(connection, L"DELETE FROM QUOTAS");
  page_quota::StoreQuota(connection, Quota(page_quota::kEvery, 1000000000, pszPeriod));
  double best = 1e300;
  size_t nRows = 0;
  for (int round = 0; round < 3; ++round) {
    page_quota::CPageQuotas quotas;
    const auto start = Clock::now();
    quotas.Refresh(connection, tNow);
    best = std::min(best, Ms(start));
    nRows = quotas.Rows();
  }
  std::printf("%-10s load, a quota for every user, period %-5s %8zu rows held: %8.1f ms\n",
              pszLabel, pszPeriod, nRows, best);
}

void PutText(WCHAR* pwszField, size_t cchField, const std::wstring& text) {
  std::wmemset(reinterpret_cast<wchar_t*>(pwszField), 0, cchField);
  std::wmemcpy(reinterpret_cast<wchar_t*>(pwszField), text.c_str(), text.size());
}

JOB_FACTS Facts(const std::wstring& user) {
  JOB_FACTS facts = NoFacts(1);
  facts.dwTold = kRecordFacts | kToldStatus;
  facts.dwStatus = JOB_STATUS_SPOOLING;
  PutText(facts.job.wszUser, kJobUserChars, user);
  PutText(facts.job.wszPrinter, kJobPrinterChars, L"printer1");
  facts.job.dwTotalPages = 2;
  facts.job.wColor = 1;
  return facts;
}

// ns per decision: the rule's command, then the quota's when it gave none,
// as DecideJob asks them.
double DecisionNs(CQuillonService& service, const JOB_FACTS& facts, int64_t tNow, int n) {
  int32_t sink = 0;
  const auto start = Clock::now();
  for (int i = 0; i < n; ++i) {
    int32_t command = service.GetJobCommand(facts.job.wszUser, facts.job.wszPrinter);
    if (command == 0) command = QuotaCommand(service, facts, tNow);
    sink += command;
  }
  const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count() / n;
  if (sink) std::printf("(a job got a command)\n");
  return ns;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: bench_page_quota DSN NOW LABEL\n");
    return 2;
  }
  const int64_t tNow = std::atoll(argv[2]);
  const char* pszLabel = argv[3];
  try {
    CQuillonService service;
    service.pConnection.CreateInstance();
    service.pConnection->Open(argv[1]);
    const ConnectionPtr& connection = service.pConnection;

    Load(connection, "none", tNow, pszLabel);
    Load(connection, "month", tNow, pszLabel);

    // The catch-up, on the month's quota loaded.
    page_quota::CPageQuotas quotas;
    quotas.Refresh(connection, tNow);
    Exec(connection,
         L"INSERT INTO PRNDATA (idPrinter, idUser, idComp, DocName, Pages, JobSize, Submitted, "
         L"PaperSize, PaperLength, PaperWidth, Color, Duplex) SELECT idPrinter, idUser, idComp, "
         L"DocName, Pages, JobSize, Submitted, PaperSize, PaperLength, PaperWidth, Color, Duplex "
         L"FROM PRNDATA WHERE idPrnData > (SELECT MAX(idPrnData) - 1000 FROM PRNDATA)");
    auto start = Clock::now();
    quotas.Refresh(connection, tNow);
    const double catchUp = Ms(start);
    double idle = 1e300;
    for (int round = 0; round < 5; ++round) {
      start = Clock::now();
      quotas.Refresh(connection, tNow);
      idle = std::min(idle, Ms(start));
    }
    std::printf("%-10s catch-up, 1,000 rows of another server: %6.1f ms; nothing new: %5.1f ms\n",
                pszLabel, catchUp, idle);
    Exec(connection, L"DELETE FROM PRNDATA WHERE idPrnData > (SELECT MAX(idPrnData) - 1000 "
                     L"FROM PRNDATA)");

    // The decision: user1 has a month's quota of their own, user2 none.
    Exec(connection, L"DELETE FROM QUOTAS");
    const int32_t idUser1 = 1;
    page_quota::StoreQuota(connection, Quota(idUser1, 1000000000, "month"));
    service.LoadPermissionTable();
    service.LoadPrinterTable();
    service.LoadUserTable();
    service.m_quotas.Refresh(connection, tNow);
    const JOB_FACTS with = Facts(L"user1"), without = Facts(L"user2");
    DecisionNs(service, with, tNow, 1000);   // warm
    DecisionNs(service, without, tNow, 1000);
    double nsWith = 1e300, nsWithout = 1e300;
    for (int round = 0; round < 5; ++round) {
      nsWith = std::min(nsWith, DecisionNs(service, with, tNow, 100000));
      nsWithout = std::min(nsWithout, DecisionNs(service, without, tNow, 100000));
    }
    std::printf("%-10s decision, warm: with a quota %6.0f ns, without %6.0f ns, "
                "difference %5.0f ns\n",
                pszLabel, nsWith, nsWithout, nsWith - nsWithout);
    Exec(connection, L"DELETE FROM QUOTAS");
    service.pConnection->Close();
  } catch (const _com_error& e) {
    std::fprintf(stderr, "bench_page_quota: %s\n", ComErrorDescription(e).c_str());
    return 1;
  }
  return 0;
}
