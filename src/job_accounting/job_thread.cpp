#include "job_accounting/job_thread.h"

#include <memory>

#include "job_accounting/job_data.h"
#include "job_accounting/shadow_file.h"
#include "printer_monitor/notify_block.h"
#include "service_core/quillon_service.h"

DWORD WINAPI JobThread(LPVOID pParam) {
  std::unique_ptr<JOB_THREAD_PARAM> start(static_cast<JOB_THREAD_PARAM*>(pParam));
  if (!start) return static_cast<DWORD>(-1);
  NotifyInfoBlock block(start->pInfo);   // released when the job is done

  JOB_DATA job;
  FillJobData(job, start->wszPrinter, block.get(), start->dwJobId);
  job.dwCopies = ReadShadowCopies(static_cast<int32_t>(job.dwJobId));
  if (start->pService) start->pService->AccountJob(job);
  return 1;
}
