// One print server of the two-services test: its own service object and
// connection on the database that its first argument names. It loads the
// reference tables, says it is ready (the event of its second argument),
// waits to be released (the third), and accounts the jobs of the shared
// list: job j is printed on "prn-(j % 7)" by "user-(j % 9)" from
// "pc-(j % 5)", as document "<tag>:<printer>:<user>:<computer>:<j>", one
// page each, submitted now.
// Exit codes: 0 every job was accounted, 2 bad arguments, 3 no connection,
// 4 not released in time.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <string>

#include "database/com_errors.h"
#include "job_accounting/job_data.h"
#include "service_core/quillon_service.h"
#include "service_core/win_owners.h"

namespace {

void Put(WCHAR* pwszField, size_t cchField, const std::string& text) {
  std::memset(pwszField, 0, cchField * sizeof(WCHAR));
  for (size_t i = 0; i < text.size() && i < cchField; ++i) pwszField[i] = text[i];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) return 2;
  const std::string tag = argv[4];
  const int nJobs = std::atoi(argv[5]);
  UniqueHandle ready(OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]));
  UniqueHandle start(OpenEventA(SYNCHRONIZE, FALSE, argv[3]));
  if (!ready || !start || nJobs <= 0) return 2;

  ComApartment apartment;
  CQuillonService service;
  try {
    service.pConnection.CreateInstance();
    service.pConnection->Open(argv[1]);
  } catch (const _com_error&) {
    return 3;
  }
  service.LoadPermissionTable();
  service.LoadPrinterTable();
  service.LoadUserTable();

  if (SignalObjectAndWait(ready.get(), start.get(), 60000, FALSE) != WAIT_OBJECT_0) return 4;
  for (int j = 0; j < nJobs; ++j) {
    const std::string printer = "prn-" + std::to_string(j % 7);
    const std::string user = "user-" + std::to_string(j % 9);
    const std::string computer = "pc-" + std::to_string(j % 5);
    JOB_DATA job = {};
    Put(job.wszPrinter, kJobPrinterChars, printer);
    Put(job.wszUser, kJobUserChars, user);
    Put(job.wszComputer, kJobComputerChars, computer);
    Put(job.wszDocument, kJobDocumentChars,
        tag + ":" + printer + ":" + user + ":" + computer + ":" + std::to_string(j));
    job.dwJobId = static_cast<DWORD>(j + 1);
    job.dwTotalPages = 1;
    job.dwCopies = 1;
    job.tSubmitted = static_cast<int32_t>(std::time(nullptr));
    // The size as the watcher saw it: the spooler is not asked.
    service.m_jobTable[job.dwJobId] = FINISHED_JOB{100, 0};
    service.AccountJob(job);
  }
  return 0;
}
