#include "job_accounting/spooled_job.h"

#include <winspool.h>

#include <cwchar>
#include <vector>

namespace {

// A JOB_INFO_2W with its texts and device mode is a few kilobytes; a size
// beyond this is not a job record.
constexpr DWORD kMaxJobInfoBytes = 1 << 20;

// A text of the record, when it lies in the buffer: the characters up to
// its terminator or the buffer's end.
bool BufferText(const std::vector<BYTE>& buffer, const wchar_t* pwsz, size_t& cch) {
  const BYTE* pb = reinterpret_cast<const BYTE*>(pwsz);
  const BYTE* pEnd = buffer.data() + buffer.size();
  if (!pwsz || pb < buffer.data() || pb >= pEnd) return false;
  cch = wcsnlen(pwsz, static_cast<size_t>(pEnd - pb) / sizeof(wchar_t));
  return cch != 0;
}

}  // namespace

bool ReadSpooledJob(HANDLE hPrinter, DWORD dwJobId, JOB_FACTS& facts) {
  facts = NoFacts(dwJobId);
  DWORD cbNeeded = 0;
  if (GetJobW(hPrinter, dwJobId, 2, nullptr, 0, &cbNeeded) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER || cbNeeded < sizeof(JOB_INFO_2W) ||
      cbNeeded > kMaxJobInfoBytes) {
    return false;
  }
  std::vector<BYTE> buffer(cbNeeded);
  if (!GetJobW(hPrinter, dwJobId, 2, buffer.data(), cbNeeded, &cbNeeded)) return false;
  const auto& info = *reinterpret_cast<const JOB_INFO_2W*>(buffer.data());

  JOB_DATA& job = facts.job;
  facts.dwStatus = info.Status;
  facts.dwTotalBytes = info.Size;
  job.dwTotalPages = info.TotalPages;
  facts.dwTold = kToldStatus | kToldTotalBytes | kToldTotalPages | kToldSubmitted;
  job.tSubmitted = SubmissionTime(&info.Submitted);
  size_t cch = 0;
  if (BufferText(buffer, info.pUserName, cch)) {
    PutJobText(job.wszUser, kJobUserChars, info.pUserName, cch);
    facts.dwTold |= kToldUser;
  }
  if (BufferText(buffer, info.pDocument, cch)) {
    PutJobText(job.wszDocument, kJobDocumentChars, info.pDocument, cch);
    facts.dwTold |= kToldDocument;
  }
  if (BufferText(buffer, info.pMachineName, cch)) {
    PutJobMachine(job, info.pMachineName, cch);
    facts.dwTold |= kToldMachine;
  }
  const BYTE* pbDevMode = reinterpret_cast<const BYTE*>(info.pDevMode);
  const BYTE* pEnd = buffer.data() + buffer.size();
  if (pbDevMode && pbDevMode >= buffer.data() && pbDevMode < pEnd) {
    ReadDeviceMode(pbDevMode, static_cast<size_t>(pEnd - pbDevMode), facts);
  }
  return true;
}
