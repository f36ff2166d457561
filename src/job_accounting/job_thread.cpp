#include "job_accounting/job_thread.h"

#include <winspool.h>

#include <cwchar>
#include <memory>
#include <string>

#include "database/wide_text.h"
#include "job_accounting/shadow_file.h"
#include "job_accounting/spooled_job.h"
#include "service_core/quillon_service.h"
#include "service_core/win_owners.h"

int32_t JobCopies(const JOB_DATA& job) {
  const auto* pwszPrinter = reinterpret_cast<const wchar_t*>(job.wszPrinter);
  std::string printer = WideToAnsi(pwszPrinter, wcsnlen(pwszPrinter, kJobPrinterChars));
  PrinterHandle hPrinter;
  JOB_FACTS spooled;
  if (OpenPrinterA(&printer[0], hPrinter.put(), nullptr) &&
      ReadSpooledJob(hPrinter.get(), job.dwJobId, spooled) && (spooled.dwTold & kToldCopies)) {
    return spooled.job.dwCopies;
  }
  return ReadShadowCopies(static_cast<int32_t>(job.dwJobId));
}

DWORD WINAPI JobThread(LPVOID pParam) {
  std::unique_ptr<JOB_THREAD_PARAM> start(static_cast<JOB_THREAD_PARAM*>(pParam));
  if (!start) return static_cast<DWORD>(-1);
  try {
    if (start->pService) start->pService->SettleJob(std::move(start->ticket));
  } catch (...) {
    // The ticket goes unsettled: the job waits in the journal for the
    // replay, and the service goes on.
  }
  return 1;
}
