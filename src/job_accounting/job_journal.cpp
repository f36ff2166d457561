#include "job_accounting/job_journal.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "service_core/win_owners.h"

namespace {

constexpr char kMagic[4] = {'Q', 'J', 'R', '1'};
constexpr size_t kHeaderBytes = 12;
// A record holds five texts of at most 254 bytes, escaped: far below this.
constexpr uint32_t kMaxPayload = 16384;

uint32_t Crc32(const char* p, size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    crc ^= static_cast<unsigned char>(p[i]);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void PutU32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
uint32_t GetU32(const char* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '%' || c == '\r' || c == '\n' || c == '\0') {
      char sz[4];
      snprintf(sz, sizeof(sz), "%%%02X", static_cast<unsigned char>(c));
      out += sz;
    } else {
      out += c;
    }
  }
  return out;
}

bool Unescape(const std::string& text, std::string* pOut) {
  pOut->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      *pOut += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    unsigned v = 0;
    if (sscanf(text.substr(i + 1, 2).c_str(), "%2x", &v) != 1) return false;
    *pOut += static_cast<char>(v);
    i += 2;
  }
  return true;
}

bool ToInt(const std::string& text, long long lo, long long hi, long long* pValue) {
  if (text.empty()) return false;
  char* pEnd = nullptr;
  long long v = strtoll(text.c_str(), &pEnd, 10);
  if (*pEnd || v < lo || v > hi) return false;
  *pValue = v;
  return true;
}

bool ReadWhole(const std::string& path, std::string* pData, DWORD dwShare = FILE_SHARE_READ) {
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, dwShare, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  pData->clear();
  if (!file) return GetLastError() == ERROR_FILE_NOT_FOUND;
  char buffer[65536];
  DWORD cb = 0;
  while (ReadFile(file.get(), buffer, sizeof(buffer), &cb, nullptr) && cb) pData->append(buffer, cb);
  return true;
}

// The record at offset, if one holds there: its payload and its end.
bool RecordAt(const std::string& data, size_t offset, std::string* pPayload, size_t* pEnd) {
  if (data.size() - offset < kHeaderBytes) return false;
  if (std::memcmp(data.data() + offset, kMagic, 4) != 0) return false;
  const uint32_t cb = GetU32(data.data() + offset + 4);
  if (cb > kMaxPayload || data.size() - offset - kHeaderBytes < cb) return false;
  const char* p = data.data() + offset + kHeaderBytes;
  if (Crc32(p, cb) != GetU32(data.data() + offset + 8)) return false;
  pPayload->assign(p, cb);
  *pEnd = offset + kHeaderBytes + cb;
  return true;
}

// Every record of the data that holds, in order; the bytes of damaged ones
// skipped, and the end of the last whole record.
std::vector<JOURNALED_JOB> Records(const std::string& data, uint64_t* pcbDropped,
                                          size_t* pGoodEnd) {
  std::vector<JOURNALED_JOB> jobs;
  size_t offset = 0;
  *pcbDropped = 0;
  *pGoodEnd = 0;
  while (offset < data.size()) {
    std::string payload;
    size_t end = 0;
    JOURNALED_JOB job;
    if (RecordAt(data, offset, &payload, &end) && CJobJournal::Decode(payload, &job)) {
      jobs.push_back(std::move(job));
      offset = *pGoodEnd = end;
      continue;
    }
    // Damage: skip to the next record that holds.
    size_t next = offset + 1;
    for (; next < data.size(); ++next) {
      size_t e = 0;
      if (data[next] == kMagic[0] && RecordAt(data, next, &payload, &e)) break;
    }
    *pcbDropped += next - offset;
    offset = next;
  }
  return jobs;
}

}  // namespace

bool CountJournalRecords(const std::string& path, size_t* pnRecords) {
  std::string data;
  // The service may be appending: its handle shares reading only, so this
  // one must share writing (and deletion, for a clear) with it.
  if (!ReadWhole(path, &data, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
    return false;
  }
  uint64_t cbDropped = 0;
  size_t goodEnd = 0;
  *pnRecords = Records(data, &cbDropped, &goodEnd).size();
  return true;
}

CJobJournal::CJobJournal(std::string path, uint64_t cbLimit)
    : m_path(std::move(path)), m_cbLimit(cbLimit), m_nNext(1), m_nRecords(0) {
  m_series = NewKey();
}

std::string CJobJournal::NewKey() {
  // A series per run and per clear: the time in 100 ns, the process and the
  // machine's tick, so that two runs never share a key, and a stamp of the
  // machine's name, since several print servers may replay into one
  // database. At most 51 characters, which leaves the record numbers room
  // in JOURNALKEYS' 64.
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  char szComputer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD cchComputer = sizeof(szComputer);
  if (!GetComputerNameA(szComputer, &cchComputer)) cchComputer = 0;
  char sz[64];
  snprintf(sz, sizeof(sz), "%08lX%08lX-%lX-%llX-%08X", ft.dwHighDateTime, ft.dwLowDateTime,
           GetCurrentProcessId(), static_cast<unsigned long long>(GetTickCount64()),
           Crc32(szComputer, cchComputer));
  return sz;
}

std::string CJobJournal::Encode(const JOURNALED_JOB& job) {
  std::string out;
  auto text = [&](const char* name, const std::string& v) {
    out += name;
    out += '=';
    out += Escape(v);
    out += '\n';
  };
  auto number = [&](const char* name, long long v) { text(name, std::to_string(v)); };
  text("Key", job.key);
  text("Printer", job.printer);
  text("User", job.user);
  text("Computer", job.computer);
  text("Document", job.document);
  number("Pages", job.lPages);
  number("Bytes", job.lJobSize);
  number("Submitted", job.lSubmitted);
  number("PaperSize", job.nPaperSize);
  number("PaperLength", job.nPaperLength);
  number("PaperWidth", job.nPaperWidth);
  number("Color", job.nColor);
  number("Duplex", job.nDuplex);
  return out;
}

bool CJobJournal::Decode(const std::string& payload, JOURNALED_JOB* pJob) {
  JOURNALED_JOB job;
  unsigned seen = 0;
  size_t start = 0;
  while (start < payload.size()) {
    size_t end = payload.find('\n', start);
    if (end == std::string::npos) return false;
    const std::string line = payload.substr(start, end - start);
    start = end + 1;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    const std::string name = line.substr(0, eq);
    std::string value;
    if (!Unescape(line.substr(eq + 1), &value)) return false;
    std::string* texts[] = {&job.key, &job.printer, &job.user, &job.computer, &job.document};
    const char* textNames[] = {"Key", "Printer", "User", "Computer", "Document"};
    int32_t* ints[] = {&job.lPages, &job.lJobSize, &job.lSubmitted};
    const char* intNames[] = {"Pages", "Bytes", "Submitted"};
    int16_t* shorts[] = {&job.nPaperSize, &job.nPaperLength, &job.nPaperWidth, &job.nColor,
                         &job.nDuplex};
    const char* shortNames[] = {"PaperSize", "PaperLength", "PaperWidth", "Color", "Duplex"};
    bool known = false;
    for (int i = 0; i < 5; ++i) {
      if (name == textNames[i]) *texts[i] = value, seen |= 1u << i, known = true;
    }
    long long v = 0;
    for (int i = 0; i < 3; ++i) {
      if (name != intNames[i]) continue;
      if (!ToInt(value, INT32_MIN, INT32_MAX, &v)) return false;
      *ints[i] = static_cast<int32_t>(v), seen |= 1u << (5 + i), known = true;
    }
    for (int i = 0; i < 5; ++i) {
      if (name != shortNames[i]) continue;
      if (!ToInt(value, INT16_MIN, INT16_MAX, &v)) return false;
      *shorts[i] = static_cast<int16_t>(v), seen |= 1u << (8 + i), known = true;
    }
    (void)known;   // a name this version does not know is left for a later one
  }
  if (seen != (1u << 13) - 1) return false;   // every fact is needed
  *pJob = std::move(job);
  return true;
}

CJobJournal::Append CJobJournal::Add(JOURNALED_JOB& job) {
  job.key = m_series + "-" + std::to_string(m_nNext);
  const std::string payload = Encode(job);
  std::string record(kHeaderBytes, '\0');
  std::memcpy(&record[0], kMagic, 4);
  PutU32(&record[4], static_cast<uint32_t>(payload.size()));
  PutU32(&record[8], Crc32(payload.data(), payload.size()));
  record += payload;

  UniqueHandle file(CreateFileA(m_path.c_str(), FILE_APPEND_DATA | GENERIC_READ, FILE_SHARE_READ,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return Append::Failed;
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file.get(), &size)) return Append::Failed;
  if (static_cast<uint64_t>(size.QuadPart) + record.size() > m_cbLimit) return Append::Full;
  DWORD cbWritten = 0;
  if (!WriteFile(file.get(), record.data(), static_cast<DWORD>(record.size()), &cbWritten,
                 nullptr) ||
      cbWritten != record.size() || !FlushFileBuffers(file.get())) {
    return Append::Failed;
  }
  ++m_nNext;
  ++m_nRecords;
  return Append::Written;
}

std::vector<JOURNALED_JOB> CJobJournal::ReadAll(uint64_t* pcbDropped) {
  std::vector<JOURNALED_JOB> jobs;
  uint64_t cbDropped = 0;
  std::string data;
  if (!ReadWhole(m_path, &data)) {
    if (pcbDropped) *pcbDropped = 0;
    m_nRecords = 0;
    return jobs;
  }
  size_t goodEnd = 0;
  jobs = Records(data, &cbDropped, &goodEnd);
  if (goodEnd < data.size()) {
    // A damaged tail is cut off, so the next record follows a whole one.
    UniqueHandle file(CreateFileA(m_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(goodEnd);
    if (file && SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) && SetEndOfFile(file.get())) {
      FlushFileBuffers(file.get());
    }
  }
  if (pcbDropped) *pcbDropped = cbDropped;
  m_nRecords = jobs.size();
  return jobs;
}

bool CJobJournal::Clear() {
  UniqueHandle file(CreateFileA(m_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file || !FlushFileBuffers(file.get())) return false;
  m_series = NewKey();
  m_nNext = 1;
  m_nRecords = 0;
  return true;
}
