#include "job_accounting/job_facts.h"

#include <cstring>

namespace {

// The device mode's header: everything up to and including dmFields must be
// there before dmSize or dmFields may be trusted.
constexpr size_t kDevModeHeader = offsetof(DEVMODEW, dmFields) + sizeof(DWORD);

int16_t ShortAt(const BYTE* pb, size_t offset) {
  int16_t value = 0;
  std::memcpy(&value, pb + offset, sizeof(value));
  return value;
}

}  // namespace

JOB_FACTS NoFacts(DWORD dwJobId) {
  JOB_FACTS facts;
  std::memset(&facts, 0, sizeof(facts));
  facts.job.dwJobId = dwJobId;
  return facts;
}

void MergeFacts(JOB_FACTS& into, const JOB_FACTS& told) {
  const DWORD dw = told.dwTold;
  JOB_DATA& to = into.job;
  const JOB_DATA& from = told.job;
  if (dw & kToldStatus) into.dwStatus = told.dwStatus;
  if (dw & kToldBytesPrinted) into.dwBytesPrinted = told.dwBytesPrinted;
  if (dw & kToldTotalBytes) into.dwTotalBytes = told.dwTotalBytes;
  if (dw & kToldTotalPages) to.dwTotalPages = from.dwTotalPages;
  if (dw & kToldUser) std::memcpy(to.wszUser, from.wszUser, sizeof(to.wszUser));
  if (dw & kToldDocument) std::memcpy(to.wszDocument, from.wszDocument, sizeof(to.wszDocument));
  if (dw & kToldMachine) std::memcpy(to.wszComputer, from.wszComputer, sizeof(to.wszComputer));
  if (dw & kToldDeviceMode) {
    to.wPaperSize = from.wPaperSize;
    to.wPaperLength = from.wPaperLength;
    to.wPaperWidth = from.wPaperWidth;
    to.wColor = from.wColor;
    to.wDuplex = from.wDuplex;
  }
  if (dw & kToldCopies) to.dwCopies = from.dwCopies;
  if (dw & kToldSubmitted) to.tSubmitted = from.tSubmitted;
  into.dwTold |= dw;
}

void PutJobText(WCHAR* pwszField, size_t cchField, const wchar_t* pwszText, size_t cchText) {
  std::memset(pwszField, 0, cchField * sizeof(WCHAR));
  if (cchText > cchField) cchText = cchField;
  if (cchText) std::memcpy(pwszField, pwszText, cchText * sizeof(WCHAR));
}

void PutJobMachine(JOB_DATA& job, const wchar_t* pwszName, size_t cchName) {
  size_t begin = 0;
  while (begin < cchName && pwszName[begin] == L'\\') ++begin;
  if (begin == cchName) {
    PutJobText(job.wszComputer, kJobComputerChars, pwszName, cchName);
    return;
  }
  size_t end = begin;
  while (end < cchName && pwszName[end] != L'\\') ++end;
  PutJobText(job.wszComputer, kJobComputerChars, pwszName + begin, end - begin);
}

bool ReadDeviceMode(const void* pDevMode, size_t cbBuf, JOB_FACTS& facts) {
  if (!pDevMode || cbBuf < kDevModeHeader) return false;
  const BYTE* pb = static_cast<const BYTE*>(pDevMode);
  WORD cbSize = 0;
  DWORD dwFields = 0;
  std::memcpy(&cbSize, pb + offsetof(DEVMODEW, dmSize), sizeof(cbSize));
  std::memcpy(&dwFields, pb + offsetof(DEVMODEW, dmFields), sizeof(dwFields));
  if (cbSize < kDevModeHeader || cbSize > cbBuf) return false;

  // A setting is read only when its flag is set and it lies within dmSize.
  auto has = [cbSize, dwFields](DWORD dwFlag, size_t offset) {
    return (dwFields & dwFlag) != 0 && offset + sizeof(int16_t) <= cbSize;
  };
  constexpr size_t kPaperSize = offsetof(DEVMODEW, dmPaperSize);
  constexpr size_t kPaperLength = offsetof(DEVMODEW, dmPaperLength);
  constexpr size_t kPaperWidth = offsetof(DEVMODEW, dmPaperWidth);
  constexpr size_t kCopies = offsetof(DEVMODEW, dmCopies);
  constexpr size_t kColor = offsetof(DEVMODEW, dmColor);
  constexpr size_t kDuplex = offsetof(DEVMODEW, dmDuplex);
  JOB_DATA& job = facts.job;
  job.wPaperSize = has(DM_PAPERSIZE, kPaperSize) ? ShortAt(pb, kPaperSize) : 1;
  job.wPaperLength = has(DM_PAPERLENGTH, kPaperLength) ? ShortAt(pb, kPaperLength) : 0;
  job.wPaperWidth = has(DM_PAPERWIDTH, kPaperWidth) ? ShortAt(pb, kPaperWidth) : 0;
  job.wColor = has(DM_COLOR, kColor) ? ShortAt(pb, kColor) : 1;
  job.wDuplex = has(DM_DUPLEX, kDuplex) ? ShortAt(pb, kDuplex) : 1;
  facts.dwTold |= kToldDeviceMode;
  if (has(DM_COPIES, kCopies)) {
    job.dwCopies = ShortAt(pb, kCopies);
    facts.dwTold |= kToldCopies;
  }
  return true;
}
