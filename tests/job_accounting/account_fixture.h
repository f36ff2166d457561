// The accounting fixture shared by the accounting tests: a fresh database
// per case on SQLite and PostgreSQL, a service object on its connection, the
// page counter, the spooler, the network sessions and the event log played
// by the test.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <memory>
#include <stdexcept>
#include <string>

#include "db_test_support.h"
#include "event_log_sim.h"
#include "job_accounting/job_data.h"
#include "job_accounting/job_journal.h"
#include "net_sessions_sim.h"
#include "service_core/quillon_service.h"
#include "service_core/win_owners.h"
#include "sim_fixture.h"
#include "spooler_sim.h"


// What the test's page counter is told to do, and what it was asked.
struct PAGE_COUNTER_SCRIPT {
  enum Outcome { Counted, Failed, Throws } outcome = Counted;
  DWORD dwPages = 0;
  WORD wPaperSize = 0;
  int calls = 0;
  std::string file, printer;
  bool fileExisted = false;
};
inline PAGE_COUNTER_SCRIPT* g_pScript = nullptr;

inline int __cdecl TestPageCounter(const char* pszFile, const char* pszPrinter,
                            PAGE_COUNT_RESULT* pResult) {
  PAGE_COUNTER_SCRIPT& script = *g_pScript;
  ++script.calls;
  script.file = pszFile ? pszFile : "<null>";
  script.printer = pszPrinter ? pszPrinter : "<null>";
  script.fileExisted = pszFile && *pszFile && GetFileAttributesA(pszFile) != INVALID_FILE_ATTRIBUTES;
  if (script.outcome == PAGE_COUNTER_SCRIPT::Throws) throw std::runtime_error("counter failed");
  if (script.outcome == PAGE_COUNTER_SCRIPT::Failed) return 0;
  pResult->dwPages = script.dwPages;
  pResult->wPaperSize = script.wPaperSize;
  return 1;
}

inline void Put(WCHAR* pwszField, size_t cchField, const std::wstring& text) {
  std::memset(pwszField, 0, cchField * sizeof(WCHAR));
  std::wmemcpy(reinterpret_cast<wchar_t*>(pwszField), text.c_str(),
               std::min(text.size(), cchField));
}

inline std::string ExeDirectory() {
  char szPath[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, szPath, MAX_PATH);
  std::string dir(szPath);
  return dir.substr(0, dir.find_last_of("\\/") + 1);
}

inline bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline void Touch(const std::string& path) {
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_TRUE(file) << path;
}

class AccountJobTest : public DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    g_pScript = &script;
    DeleteFileA((ExeDirectory() + kJournalFile).c_str());
    service.reset(new CQuillonService());
    service->pConnection = conn;
    service->m_pfnGetPageCount = TestPageCounter;
    service->m_settings.dwJobSizeRetryMs = 1;
    spooler->AddPrinter("Laser 1");
  }
  void TearDown() override {
    service.reset();
    DeleteFileA((ExeDirectory() + kJournalFile).c_str());
    g_pScript = nullptr;
    DatabaseTest::TearDown();
  }

  static JOB_DATA Job(DWORD dwPages, int32_t lCopies, DWORD dwJobId = 7) {
    JOB_DATA job = {};
    Put(job.wszPrinter, kJobPrinterChars, L"Laser 1");
    Put(job.wszDocument, kJobDocumentChars, L"Report.pdf");
    Put(job.wszUser, kJobUserChars, L"ann");
    Put(job.wszComputer, kJobComputerChars, L"WS-ANN");
    job.dwTotalPages = dwPages;
    job.dwCopies = lCopies;
    job.tSubmitted = 1700000000;
    job.dwJobId = dwJobId;
    job.wPaperSize = DMPAPER_LETTER;
    job.wPaperLength = 2794;
    job.wPaperWidth = 2159;
    job.wColor = DMCOLOR_COLOR;
    job.wDuplex = DMDUP_VERTICAL;
    return job;
  }

  int64_t Pages() const { return db->QueryInt("SELECT Pages FROM PRNDATA"); }
  // Ends db->FailInserts("PRNDATA").
  void AllowInserts() const {
    db->Exec(db->Kind() == Backend::SQLite ? "DROP TRIGGER fail_PRNDATA"
                                            : "DROP TRIGGER fail_PRNDATA ON PRNDATA");
  }

  PAGE_COUNTER_SCRIPT script;
  sim::Owned<sim::Spooler> spooler;
  sim::Owned<sim::NetSessions> sessions;
  sim::Owned<sim::EventLog> eventLog;
  std::unique_ptr<CQuillonService> service;
};
