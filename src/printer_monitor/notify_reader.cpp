#include "printer_monitor/notify_reader.h"

#include <cstring>
#include <cwchar>
#include <map>

namespace {

// The entry's text: UTF-16, cbBuf bytes, read up to its terminator or the
// buffer's end. Null when the entry carries no text.
const wchar_t* EntryText(const PRINTER_NOTIFY_INFO_DATA& entry, size_t& cch) {
  const auto* pwsz = static_cast<const wchar_t*>(entry.NotifyData.Data.pBuf);
  if (!pwsz) return nullptr;
  cch = wcsnlen(pwsz, entry.NotifyData.Data.cbBuf / sizeof(wchar_t));
  return cch ? pwsz : nullptr;
}

void PutText(WCHAR* pwszField, size_t cchField, const PRINTER_NOTIFY_INFO_DATA& entry,
             const wchar_t* pwszUnknown) {
  size_t cch = 0;
  const wchar_t* pwsz = EntryText(entry, cch);
  if (!pwsz) {
    pwsz = pwszUnknown;
    cch = wcslen(pwszUnknown);
  }
  PutJobText(pwszField, cchField, pwsz, cch);
}

void Read(const PRINTER_NOTIFY_INFO_DATA& entry, JOB_FACTS& facts) {
  JOB_DATA& job = facts.job;
  const DWORD dwNumber = entry.NotifyData.adwData[0];
  const void* pBuf = entry.NotifyData.Data.pBuf;
  const DWORD cbBuf = entry.NotifyData.Data.cbBuf;
  switch (entry.Field) {
    case JOB_NOTIFY_FIELD_STATUS:
      facts.dwStatus = dwNumber;
      facts.dwTold |= kToldStatus;
      break;
    case JOB_NOTIFY_FIELD_BYTES_PRINTED:
      facts.dwBytesPrinted = dwNumber;
      facts.dwTold |= kToldBytesPrinted;
      break;
    case JOB_NOTIFY_FIELD_TOTAL_BYTES:
      facts.dwTotalBytes = dwNumber;
      facts.dwTold |= kToldTotalBytes;
      break;
    case JOB_NOTIFY_FIELD_TOTAL_PAGES:
      job.dwTotalPages = dwNumber;
      facts.dwTold |= kToldTotalPages;
      break;
    case JOB_NOTIFY_FIELD_USER_NAME:
      PutText(job.wszUser, kJobUserChars, entry, L"Unknown user");
      facts.dwTold |= kToldUser;
      break;
    case JOB_NOTIFY_FIELD_DOCUMENT:
      PutText(job.wszDocument, kJobDocumentChars, entry, L"Unknown document");
      facts.dwTold |= kToldDocument;
      break;
    case JOB_NOTIFY_FIELD_MACHINE_NAME: {
      size_t cch = 0;
      if (const wchar_t* pwsz = EntryText(entry, cch)) {
        PutJobMachine(job, pwsz, cch);
      } else {
        PutJobText(job.wszComputer, kJobComputerChars, L"Unknown computer", 16);
      }
      facts.dwTold |= kToldMachine;
      break;
    }
    case JOB_NOTIFY_FIELD_DEVMODE:
      ReadDeviceMode(pBuf, pBuf ? cbBuf : 0, facts);
      break;
    case JOB_NOTIFY_FIELD_SUBMITTED: {
      SYSTEMTIME utc = {};
      const bool bTime = pBuf && cbBuf >= sizeof(utc);
      if (bTime) std::memcpy(&utc, pBuf, sizeof(utc));
      job.tSubmitted = SubmissionTime(bTime ? &utc : nullptr);
      facts.dwTold |= kToldSubmitted;
      break;
    }
    default:
      break;
  }
}

}  // namespace

NOTIFY_READING ReadNotifyBlock(const PRINTER_NOTIFY_INFO& info) {
  NOTIFY_READING reading;
  reading.bDiscarded = (info.Flags & PRINTER_NOTIFY_INFO_DISCARDED) != 0;
  std::map<DWORD, size_t> index;   // job id -> its element
  for (DWORD i = 0; i < info.Count; ++i) {
    const PRINTER_NOTIFY_INFO_DATA& entry = info.aData[i];
    if (entry.Type != JOB_NOTIFY_TYPE) continue;
    auto found = index.find(entry.Id);
    if (found == index.end()) {
      found = index.emplace(entry.Id, reading.jobs.size()).first;
      reading.jobs.push_back(NoFacts(entry.Id));
    }
    Read(entry, reading.jobs[found->second]);
  }
  return reading;
}
