#include "job_accounting/job_data.h"

#include <cstring>
#include <ctime>
#include <cwchar>
#include <string>

#include "service_core/text_utils.h"

namespace {

enum class CopiesFrom { DeviceMode, Caller };

// The entry's text, read no further than its buffer; null when the entry
// carries no data.
const char* EntryText(const PRINTER_NOTIFY_INFO_DATA& entry, size_t& cch) {
  const char* psz = static_cast<const char*>(entry.NotifyData.Data.pBuf);
  if (!psz || entry.NotifyData.Data.cbBuf == 0) return nullptr;
  cch = strnlen(psz, entry.NotifyData.Data.cbBuf);
  return psz;
}

// Converts at most cchMax characters of the text into the field. The field
// is cleared first, so a shorter later entry leaves nothing of an earlier
// one; a text that fills the field has no terminator.
void PutText(WCHAR* pwszField, size_t cchField, const char* pszText, size_t cchText) {
  std::memset(pwszField, 0, cchField * sizeof(WCHAR));
  if (cchText > cchField) cchText = cchField;
  if (cchText == 0) return;
  MultiByteToWideChar(CP_ACP, 0, pszText, static_cast<int>(cchText), pwszField,
                      static_cast<int>(cchField));
}

void PutText(WCHAR* pwszField, size_t cchField, const char* pszText) {
  PutText(pwszField, cchField, pszText, std::strlen(pszText));
}

// "\\server\share" names its server: the first piece between backslashes.
// A name without any such piece is taken whole.
void PutComputer(JOB_DATA& job, const char* pszName, size_t cchName) {
  size_t begin = 0;
  while (begin < cchName && pszName[begin] == '\\') ++begin;
  if (begin == cchName) {
    PutText(job.wszComputer, kJobComputerChars, pszName, cchName);
    return;
  }
  size_t end = begin;
  while (end < cchName && pszName[end] != '\\') ++end;
  PutText(job.wszComputer, kJobComputerChars, pszName + begin, end - begin);
}

void PutDeviceMode(JOB_DATA& job, const PRINTER_NOTIFY_INFO_DATA& entry, CopiesFrom copies) {
  const void* pBuf = entry.NotifyData.Data.pBuf;
  // A block too short to hold the fields read here is no device mode.
  if (!pBuf || entry.NotifyData.Data.cbBuf < offsetof(DEVMODEA, dmYResolution)) return;
  DEVMODEA dm;
  std::memcpy(&dm, pBuf, offsetof(DEVMODEA, dmYResolution));
  const DWORD dwFields = dm.dmFields;
  job.wPaperSize = (dwFields & DM_PAPERSIZE) ? dm.dmPaperSize : 1;
  if (dwFields & DM_PAPERLENGTH) job.wPaperLength = dm.dmPaperLength;
  if (dwFields & DM_PAPERWIDTH) job.wPaperWidth = dm.dmPaperWidth;
  job.wColor = (dwFields & DM_COLOR) ? dm.dmColor : 1;
  job.wDuplex = (dwFields & DM_DUPLEX) ? dm.dmDuplex : 1;
  if (copies == CopiesFrom::DeviceMode) job.dwCopies = (dwFields & DM_COPIES) ? dm.dmCopies : 1;
}

void PutSubmitted(JOB_DATA& job, const PRINTER_NOTIFY_INFO_DATA& entry,
                  TIME_ZONE_INFORMATION& zone) {
  SYSTEMTIME local = {};
  bool bHaveLocal = false;
  const void* pBuf = entry.NotifyData.Data.pBuf;
  if (pBuf && entry.NotifyData.Data.cbBuf >= sizeof(SYSTEMTIME)) {
    SYSTEMTIME utc;
    std::memcpy(&utc, pBuf, sizeof(utc));
    bHaveLocal = SystemTimeToTzSpecificLocalTime(&zone, &utc, &local) && local.wYear >= 1970;
  }
  if (!bHaveLocal) GetLocalTime(&local);

  std::tm calendar = {};
  calendar.tm_sec = local.wSecond;
  calendar.tm_min = local.wMinute;
  calendar.tm_hour = local.wHour;
  calendar.tm_mday = local.wDay;
  calendar.tm_mon = local.wMonth - 1;
  calendar.tm_year = local.wYear - 1900;
  // Daylight saving as it is now, not as it was at the submission.
  std::time_t now = std::time(nullptr);
  if (const std::tm* pNow = std::localtime(&now)) calendar.tm_isdst = pNow->tm_isdst;
  job.tSubmitted = static_cast<int32_t>(std::mktime(&calendar));
}

void Fill(JOB_DATA& job, const PRINTER_NOTIFY_INFO* pInfo, DWORD dwJobId, CopiesFrom copies) {
  if (!pInfo) return;
  TIME_ZONE_INFORMATION zone = {};
  GetTimeZoneInformation(&zone);
  for (DWORD i = 0; i < pInfo->Count; ++i) {
    const PRINTER_NOTIFY_INFO_DATA& entry = pInfo->aData[i];
    if (entry.Id != dwJobId) continue;
    size_t cch = 0;
    const char* pszText = nullptr;
    switch (entry.Field) {
      case JOB_NOTIFY_FIELD_MACHINE_NAME:
        if ((pszText = EntryText(entry, cch))) {
          PutComputer(job, pszText, cch);
        } else {
          PutText(job.wszComputer, kJobComputerChars, "Unknown computer");
        }
        break;
      case JOB_NOTIFY_FIELD_USER_NAME:
        if ((pszText = EntryText(entry, cch))) {
          PutText(job.wszUser, kJobUserChars, pszText, cch);
        } else {
          PutText(job.wszUser, kJobUserChars, "Unknown user");
        }
        break;
      case JOB_NOTIFY_FIELD_DEVMODE:
        PutDeviceMode(job, entry, copies);
        break;
      case JOB_NOTIFY_FIELD_DOCUMENT:
        job.dwJobId = entry.Id;
        if ((pszText = EntryText(entry, cch))) {
          // Repaired on a copy: the block belongs to the spooler's caller.
          std::string text(pszText, cch);
          FixOemText(&text[0]);
          PutText(job.wszDocument, kJobDocumentChars, text.c_str());
        } else {
          PutText(job.wszDocument, kJobDocumentChars, "Unknown document");
        }
        break;
      case JOB_NOTIFY_FIELD_SUBMITTED:
        PutSubmitted(job, entry, zone);
        break;
      case JOB_NOTIFY_FIELD_TOTAL_PAGES:
        job.dwTotalPages = entry.NotifyData.adwData[0];
        break;
      default:
        break;
    }
  }
}

}  // namespace

void FillJobData(JOB_DATA& job, const char* pszPrinter, const PRINTER_NOTIFY_INFO* pInfo,
                 DWORD dwJobId) {
  std::memset(&job, 0, sizeof(job));
  if (pszPrinter) PutText(job.wszPrinter, kJobPrinterChars, pszPrinter);
  Fill(job, pInfo, dwJobId, CopiesFrom::DeviceMode);
}

void FillJobData(JOB_DATA& job, const WCHAR* pwszPrinter, const PRINTER_NOTIFY_INFO* pInfo,
                 DWORD dwJobId) {
  std::memset(&job, 0, sizeof(job));
  if (pwszPrinter) {
    std::wmemcpy(reinterpret_cast<wchar_t*>(job.wszPrinter),
                 reinterpret_cast<const wchar_t*>(pwszPrinter),
                 wcsnlen(reinterpret_cast<const wchar_t*>(pwszPrinter), kJobPrinterChars));
  }
  Fill(job, pInfo, dwJobId, CopiesFrom::Caller);
}
