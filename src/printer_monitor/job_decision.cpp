#include "printer_monitor/job_decision.h"

#include <winspool.h>

#include <ctime>
#include <mutex>

#include "job_accounting/spooled_job.h"
#include "page_quota/quota_decision.h"
#include "service_core/quillon_service.h"

bool DecideJob(CQuillonService& service, HANDLE hPrinter, JOB_FACTS& job) {
  const DWORD dwJobId = job.job.dwJobId;
  {
    std::lock_guard<std::mutex> lock(service.m_handledJobsLock);
    if (service.m_handledJobs.count(dwJobId)) return true;
  }
  if ((job.dwTold & kRecordFacts) != kRecordFacts) {
    JOB_FACTS spooled;
    if (ReadSpooledJob(hPrinter, dwJobId, spooled)) {
      // What the notifications told is newer than what GetJob adds to it.
      spooled.dwTold &= ~job.dwTold;
      MergeFacts(job, spooled);
    }
  }
  int32_t nCommand = service.GetJobCommand(job.job.wszUser, job.job.wszPrinter);
  if (nCommand == 0) nCommand = QuotaCommand(service, job, static_cast<int64_t>(std::time(nullptr)));
  if (nCommand == 0 ||
      !SetJobA(hPrinter, dwJobId, 0, nullptr, static_cast<DWORD>(nCommand))) {
    return false;
  }
  std::lock_guard<std::mutex> lock(service.m_handledJobsLock);
  service.m_handledJobs[dwJobId] = TRUE;
  return true;
}
