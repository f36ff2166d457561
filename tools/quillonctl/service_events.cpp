#include "service_events.h"

#include <cstring>

#include "service_core/win_owners.h"
#include "system_text.h"
#include "text_forms.h"

namespace {

struct EventLogTraits {
  static HANDLE Empty() { return nullptr; }
  static bool Held(HANDLE h) { return h != nullptr; }
  static void Free(HANDLE h) { CloseEventLog(h); }
};
using EventLogHandle = owners::Owner<HANDLE, EventLogTraits>;

// A record's texts, each ended by a NUL, as the record's own bounds allow.
std::vector<std::string> Texts(const EVENTLOGRECORD* pRecord) {
  std::vector<std::string> texts;
  const auto* pBase = reinterpret_cast<const BYTE*>(pRecord);
  if (pRecord->StringOffset >= pRecord->Length) return texts;
  const auto* p = reinterpret_cast<const wchar_t*>(pBase + pRecord->StringOffset);
  const auto* pEnd = reinterpret_cast<const wchar_t*>(pBase + pRecord->Length);
  for (WORD i = 0; i < pRecord->NumStrings && p < pEnd; ++i) {
    const size_t cch = wcsnlen(p, static_cast<size_t>(pEnd - p));
    texts.push_back(WideToUtf8(std::wstring(p, cch)));
    p += cch + 1;
  }
  return texts;
}

}  // namespace

EVENT_READING ReadServiceEvents(const char* pszSource, DWORD dwFirst, DWORD dwLast, size_t nMax) {
  EVENT_READING reading;
  EventLogHandle log(OpenEventLogW(nullptr, L"Application"));
  if (!log) {
    reading.why = "the Application event log cannot be opened: " + SystemErrorText(GetLastError());
    return reading;
  }
  const std::wstring source = Utf8ToWide(pszSource);
  std::vector<BYTE> buffer(64 * 1024);
  size_t nRecords = 0;
  for (;;) {
    DWORD cbRead = 0, cbNeeded = 0;
    if (!ReadEventLogW(log.get(), EVENTLOG_SEQUENTIAL_READ | EVENTLOG_BACKWARDS_READ, 0,
                       buffer.data(), static_cast<DWORD>(buffer.size()), &cbRead, &cbNeeded)) {
      const DWORD dwError = GetLastError();
      if (dwError == ERROR_INSUFFICIENT_BUFFER && cbNeeded > buffer.size()) {
        buffer.resize(cbNeeded);
        continue;
      }
      if (dwError != ERROR_HANDLE_EOF) {
        reading.why = "the Application event log cannot be read: " + SystemErrorText(dwError);
        return reading;
      }
      break;
    }
    for (DWORD offset = 0; offset + sizeof(EVENTLOGRECORD) <= cbRead;) {
      const auto* pRecord = reinterpret_cast<const EVENTLOGRECORD*>(buffer.data() + offset);
      if (pRecord->Length < sizeof(EVENTLOGRECORD) || offset + pRecord->Length > cbRead) break;
      ++nRecords;
      // The source name follows the fixed part of the record.
      const auto* pszRecordSource = reinterpret_cast<const wchar_t*>(pRecord + 1);
      const DWORD dwId = pRecord->EventID & 0xFFFF;
      if (dwId >= dwFirst && dwId <= dwLast && source == pszRecordSource &&
          reading.events.size() < nMax) {
        reading.events.push_back({pRecord->TimeWritten, dwId, Texts(pRecord)});
      }
      offset += pRecord->Length;
    }
    if (reading.events.size() >= nMax) break;
  }
  if (nRecords == 0) {
    reading.why = "the Application event log holds no records here, so the service's events "
                  "cannot be shown";
    return reading;
  }
  reading.bReadable = true;
  return reading;
}
