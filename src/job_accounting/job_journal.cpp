#include "job_accounting/job_journal.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <limits>
#include <map>
#include <utility>

namespace {

constexpr char kMagic[4] = {'Q', 'J', 'R', '1'};
constexpr size_t kHeaderBytes = 12;
// A record holds five texts of at most 255 characters, escaped UTF-8 at
// worst 9 bytes each: far below this.
constexpr uint32_t kMaxPayload = 32768;

uint32_t Crc32(const char* p, size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    crc ^= static_cast<unsigned char>(p[i]);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

uint64_t Fnv1a64(const std::string& text) {
  uint64_t h = 0xCBF29CE484222325ull;
  for (unsigned char c : text) h = (h ^ c) * 0x100000001B3ull;
  return h;
}

void PutU32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
uint32_t GetU32(const char* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

std::string Hex(uint64_t v, int digits) {
  char sz[17];
  snprintf(sz, sizeof(sz), "%0*llX", digits, static_cast<unsigned long long>(v));
  return sz;
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
    if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      return false;
    }
    *pOut += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
    i += 2;
  }
  return true;
}

// A JOB_DATA text (read no further than its width) as UTF-8, and back; a
// text that is no UTF-8 or longer than the width is damage.
std::string FieldToUtf8(const WCHAR* pwszField, size_t cchField) {
  const auto* pwsz = reinterpret_cast<const wchar_t*>(pwszField);
  const int cch = static_cast<int>(wcsnlen(pwsz, cchField));
  if (cch == 0) return std::string();
  std::string out(static_cast<size_t>(cch) * 3, '\0');
  const int cb = WideCharToMultiByte(CP_UTF8, 0, pwsz, cch, &out[0],
                                     static_cast<int>(out.size()), nullptr, nullptr);
  out.resize(cb > 0 ? static_cast<size_t>(cb) : 0);
  return out;
}
bool Utf8ToField(const std::string& text, WCHAR* pwszField, size_t cchField) {
  std::memset(pwszField, 0, cchField * sizeof(WCHAR));
  if (text.empty()) return true;
  const int cch = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                      static_cast<int>(text.size()), nullptr, 0);
  if (cch <= 0 || static_cast<size_t>(cch) > cchField) return false;
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      reinterpret_cast<wchar_t*>(pwszField), cch);
  return true;
}

template <class T>
bool ToInt(const std::string& text, T* pValue) {
  if (text.empty()) return false;
  char* pEnd = nullptr;
  const long long v = strtoll(text.c_str(), &pEnd, 10);
  if (*pEnd || v < static_cast<long long>(std::numeric_limits<T>::min()) ||
      v > static_cast<long long>(std::numeric_limits<T>::max())) {
    return false;
  }
  *pValue = static_cast<T>(v);
  return true;
}

bool IsKey(const std::string& key) { return !key.empty() && key.size() <= 64; }

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

class CPayload {
 public:
  void Text(const char* name, const std::string& value) {
    m_out += name;
    m_out += '=';
    m_out += Escape(value);
    m_out += '\n';
  }
  void Number(const char* name, long long value) { Text(name, std::to_string(value)); }
  const std::string& Get() const { return m_out; }

 private:
  std::string m_out;
};

// The jobs of the data whose rows are not known to be written, in the order
// each was first journaled; the bytes of damaged records skipped, and the
// end of the last whole record.
std::vector<JOURNAL_ENTRY> OpenEntries(const std::string& data, uint64_t* pcbDropped,
                                       size_t* pGoodEnd) {
  std::vector<JOURNAL_ENTRY> entries;
  std::map<std::string, size_t> where;   // key -> index in entries
  std::vector<bool> written;
  size_t offset = 0;
  *pcbDropped = 0;
  *pGoodEnd = 0;
  while (offset < data.size()) {
    std::string payload;
    size_t end = 0;
    CJobJournal::Stage stage;
    JOURNAL_ENTRY entry;
    if (RecordAt(data, offset, &payload, &end) && CJobJournal::Decode(payload, &stage, &entry)) {
      auto it = where.find(entry.key);
      if (it == where.end()) {
        if (stage != CJobJournal::Stage::Done) {
          where[entry.key] = entries.size();
          entries.push_back(std::move(entry));
          written.push_back(false);
        }
      } else if (stage == CJobJournal::Stage::Done) {
        written[it->second] = true;
      } else if (stage == CJobJournal::Stage::Kept) {
        entries[it->second].bCompleted = true;
        entries[it->second].facts = std::move(entry.facts);
      }
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
  std::vector<JOURNAL_ENTRY> open;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!written[i]) open.push_back(std::move(entries[i]));
  }
  return open;
}

bool ReadWhole(const std::string& path, std::string* pData) {
  // The service may be appending: its handle shares reading only and has
  // write access, so this one must share writing with it.
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  pData->clear();
  if (!file) return GetLastError() == ERROR_FILE_NOT_FOUND;
  char buffer[65536];
  DWORD cb = 0;
  while (ReadFile(file.get(), buffer, sizeof(buffer), &cb, nullptr) && cb) pData->append(buffer, cb);
  return true;
}

}  // namespace

bool CountJournalRecords(const std::string& path, size_t* pnRecords) {
  std::string data;
  if (!ReadWhole(path, &data)) return false;
  uint64_t cbDropped = 0;
  size_t goodEnd = 0;
  *pnRecords = OpenEntries(data, &cbDropped, &goodEnd).size();
  return true;
}

CJobJournal::CJobJournal(std::string path, uint64_t cbLimit)
    : m_path(std::move(path)), m_cbLimit(cbLimit), m_cbSize(0), m_nNext(1) {
  // The journal's name: the computer and the file, so that two services
  // recording into one database never share a key.
  char szComputer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD cchComputer = sizeof(szComputer);
  if (!GetComputerNameA(szComputer, &cchComputer)) cchComputer = 0;
  char szFull[MAX_PATH] = {};
  const DWORD cchFull = GetFullPathNameA(m_path.c_str(), MAX_PATH, szFull, nullptr);
  std::string name = std::string(szComputer, cchComputer) + "|" +
                     (cchFull && cchFull < MAX_PATH ? std::string(szFull) : m_path);
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  m_prefix = Hex(Fnv1a64(name), 16);
  NewSeries();
}

void CJobJournal::NewSeries() {
  // The time in 100 ns, never the same twice in one process (a journal
  // opened again at once gets the next stamp), and the process.
  static std::atomic<uint64_t> s_lastStamp{0};
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  uint64_t stamp = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  uint64_t last = s_lastStamp.load();
  do {
    if (stamp <= last) stamp = last + 1;
  } while (!s_lastStamp.compare_exchange_weak(last, stamp));
  m_series = m_prefix + Hex(stamp, 16) + Hex(GetCurrentProcessId(), 8);
  m_nNext = 1;
}

std::string CJobJournal::NextKey() const { return m_series + Hex(m_nNext, 8); }

std::string CJobJournal::Encode(const JOURNALED_JOB& job) {
  CPayload out;
  out.Text("Key", job.key);
  out.Text("Printer", job.printer);
  out.Text("User", job.user);
  out.Text("Computer", job.computer);
  out.Text("Document", job.document);
  out.Number("Pages", job.lPages);
  out.Number("Bytes", job.lJobSize);
  out.Number("Submitted", job.lSubmitted);
  out.Number("PaperSize", job.nPaperSize);
  out.Number("PaperLength", job.nPaperLength);
  out.Number("PaperWidth", job.nPaperWidth);
  out.Number("Color", job.nColor);
  out.Number("Duplex", job.nDuplex);
  return out.Get();
}

std::string CJobJournal::Encode(const TAKEN_JOB& taken) {
  const JOB_DATA& job = taken.job;
  CPayload out;
  out.Text("Stage", "taken");
  out.Text("Key", taken.key);
  out.Text("Printer", FieldToUtf8(job.wszPrinter, kJobPrinterChars));
  out.Text("File", FieldToUtf8(job.wszFile, kJobFileChars));
  out.Text("Document", FieldToUtf8(job.wszDocument, kJobDocumentChars));
  out.Text("User", FieldToUtf8(job.wszUser, kJobUserChars));
  out.Text("Computer", FieldToUtf8(job.wszComputer, kJobComputerChars));
  out.Number("TotalPages", job.dwTotalPages);
  out.Number("Copies", job.dwCopies);
  out.Number("Submitted", job.tSubmitted);
  out.Number("JobId", job.dwJobId);
  out.Number("PaperSize", job.wPaperSize);
  out.Number("PaperLength", job.wPaperLength);
  out.Number("PaperWidth", job.wPaperWidth);
  out.Number("Color", job.wColor);
  out.Number("Duplex", job.wDuplex);
  out.Text("Origin", taken.origin == JobOrigin::Spooler ? "spooler" : "client");
  if (!taken.bCopiesKnown) out.Text("CopiesKnown", "no");
  if (taken.bSizeKnown) out.Number("Size", taken.dwSize);
  return out.Get();
}

bool CJobJournal::Decode(const std::string& payload, Stage* pStage, JOURNAL_ENTRY* pEntry) {
  std::map<std::string, std::string> values;
  size_t start = 0;
  while (start < payload.size()) {
    const size_t end = payload.find('\n', start);
    if (end == std::string::npos) return false;
    const std::string line = payload.substr(start, end - start);
    start = end + 1;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    std::string value;
    if (!Unescape(line.substr(eq + 1), &value)) return false;
    // A name this version does not know is left for a later one.
    values[line.substr(0, eq)] = value;
  }
  // Every fact of the stage is needed.
  bool ok = true;
  auto text = [&](const char* name) -> const std::string& {
    static const std::string kNone;
    auto it = values.find(name);
    if (it == values.end()) {
      ok = false;
      return kNone;
    }
    return it->second;
  };
  auto number = [&](const char* name, auto* pValue) { ok = ToInt(text(name), pValue) && ok; };

  JOURNAL_ENTRY entry;
  entry.key = text("Key");
  const auto stage = values.find("Stage");
  if (stage == values.end() || stage->second == "kept") {
    JOURNALED_JOB& job = entry.facts;
    job.key = entry.key;
    job.printer = text("Printer");
    job.user = text("User");
    job.computer = text("Computer");
    job.document = text("Document");
    number("Pages", &job.lPages);
    number("Bytes", &job.lJobSize);
    number("Submitted", &job.lSubmitted);
    number("PaperSize", &job.nPaperSize);
    number("PaperLength", &job.nPaperLength);
    number("PaperWidth", &job.nPaperWidth);
    number("Color", &job.nColor);
    number("Duplex", &job.nDuplex);
    entry.bCompleted = true;
    *pStage = Stage::Kept;
  } else if (stage->second == "taken") {
    TAKEN_JOB& taken = entry.taken;
    JOB_DATA& job = taken.job;
    taken.key = entry.key;
    ok = Utf8ToField(text("Printer"), job.wszPrinter, kJobPrinterChars) && ok;
    ok = Utf8ToField(text("File"), job.wszFile, kJobFileChars) && ok;
    ok = Utf8ToField(text("Document"), job.wszDocument, kJobDocumentChars) && ok;
    ok = Utf8ToField(text("User"), job.wszUser, kJobUserChars) && ok;
    ok = Utf8ToField(text("Computer"), job.wszComputer, kJobComputerChars) && ok;
    number("TotalPages", &job.dwTotalPages);
    number("Copies", &job.dwCopies);
    number("Submitted", &job.tSubmitted);
    number("JobId", &job.dwJobId);
    number("PaperSize", &job.wPaperSize);
    number("PaperLength", &job.wPaperLength);
    number("PaperWidth", &job.wPaperWidth);
    number("Color", &job.wColor);
    number("Duplex", &job.wDuplex);
    const auto origin = values.find("Origin");
    taken.origin = origin != values.end() && origin->second == "spooler" ? JobOrigin::Spooler
                                                                         : JobOrigin::Client;
    const auto copiesKnown = values.find("CopiesKnown");
    taken.bCopiesKnown = copiesKnown == values.end() || copiesKnown->second != "no";
    taken.bSizeKnown = values.count("Size") != 0;
    if (taken.bSizeKnown) number("Size", &taken.dwSize);
    *pStage = Stage::Taken;
  } else if (stage->second == "done") {
    *pStage = Stage::Done;
  } else {
    return false;
  }
  if (!ok || !IsKey(entry.key)) return false;
  *pEntry = std::move(entry);
  return true;
}

bool CJobJournal::Open() {
  if (m_file) return true;
  m_file.reset(CreateFileA(m_path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size = {};
  if (!m_file || !GetFileSizeEx(m_file.get(), &size)) {
    m_file.reset();
    return false;
  }
  m_cbSize = static_cast<uint64_t>(size.QuadPart);
  return true;
}

CJobJournal::Append CJobJournal::Write(const std::string& payload, bool bFlush) {
  std::string record(kHeaderBytes, '\0');
  std::memcpy(&record[0], kMagic, 4);
  PutU32(&record[4], static_cast<uint32_t>(payload.size()));
  PutU32(&record[8], Crc32(payload.data(), payload.size()));
  record += payload;
  if (!Open()) return Append::Failed;
  if (m_cbSize + record.size() > m_cbLimit) return Append::Full;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(m_cbSize);
  DWORD cbWritten = 0;
  // The pointer stays at the end from one append to the next: each call
  // to the system costs a round trip under Wine.
  const bool bWritten =
      (m_bAtEnd || SetFilePointerEx(m_file.get(), at, nullptr, FILE_BEGIN)) &&
      WriteFile(m_file.get(), record.data(), static_cast<DWORD>(record.size()), &cbWritten,
                nullptr) &&
      cbWritten == record.size();
  m_bAtEnd = bWritten;
  if (!bWritten) {
    // What reached the file is a torn record: the next one goes after it,
    // and the reader skips it.
    LARGE_INTEGER size = {};
    if (GetFileSizeEx(m_file.get(), &size)) m_cbSize = static_cast<uint64_t>(size.QuadPart);
    return Append::Failed;
  }
  m_cbSize += record.size();
  if (bFlush && !FlushFileBuffers(m_file.get())) return Append::Failed;
  return Append::Written;
}

CJobJournal::Append CJobJournal::Take(TAKEN_JOB& job) {
  // A journal that gave out every number of its series starts another.
  if (m_nNext == 0xFFFFFFFFu) NewSeries();
  job.key = NextKey();
  const Append result = Write(Encode(job), true);
  // A failed write may have left the whole record behind: its key is
  // never given again.
  if (result != Append::Full) ++m_nNext;
  return result;
}

CJobJournal::Append CJobJournal::Keep(JOURNALED_JOB& job) {
  bool bNewKey = job.key.empty();
  if (bNewKey) {
    if (m_nNext == 0xFFFFFFFFu) NewSeries();
    job.key = NextKey();
  }
  const Append result = Write(Encode(job), true);
  if (bNewKey && result != Append::Full) ++m_nNext;
  if (bNewKey && result != Append::Written) job.key.clear();
  return result;
}

bool CJobJournal::Done(const std::string& key) {
  CPayload out;
  out.Text("Stage", "done");
  out.Text("Key", key);
  return Write(out.Get(), false) == Append::Written;
}

bool CJobJournal::Flush() { return !m_file || FlushFileBuffers(m_file.get()); }

std::vector<JOURNAL_ENTRY> CJobJournal::ReadAll(uint64_t* pcbDropped) {
  if (pcbDropped) *pcbDropped = 0;
  if (!Open()) return {};
  std::string data;
  LARGE_INTEGER start = {};
  m_bAtEnd = false;
  if (!SetFilePointerEx(m_file.get(), start, nullptr, FILE_BEGIN)) return {};
  char buffer[65536];
  DWORD cb = 0;
  while (ReadFile(m_file.get(), buffer, sizeof(buffer), &cb, nullptr) && cb) data.append(buffer, cb);
  uint64_t cbDropped = 0;
  size_t goodEnd = 0;
  std::vector<JOURNAL_ENTRY> entries = OpenEntries(data, &cbDropped, &goodEnd);
  m_cbSize = data.size();
  if (goodEnd < data.size()) {
    // A damaged tail is cut off, so the next record follows a whole one.
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(goodEnd);
    if (SetFilePointerEx(m_file.get(), at, nullptr, FILE_BEGIN) && SetEndOfFile(m_file.get())) {
      FlushFileBuffers(m_file.get());
      m_cbSize = goodEnd;
    }
  }
  if (pcbDropped) *pcbDropped = cbDropped;
  return entries;
}

bool CJobJournal::Clear() {
  if (!Open()) return false;
  LARGE_INTEGER start = {};
  m_bAtEnd = false;
  if (!SetFilePointerEx(m_file.get(), start, nullptr, FILE_BEGIN) || !SetEndOfFile(m_file.get())) {
    return false;
  }
  m_cbSize = 0;
  m_bAtEnd = true;
  return true;
}
