#include "spooler_core.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>

#include "spool_files.h"

// Sources named in the comments below:
// [FindFirst], [FindNext], [FindClose], [PRINTER_NOTIFY_OPTIONS],
// [PRINTER_NOTIFY_INFO], [PRINTER_NOTIFY_INFO_DATA], [SetJob], [GetJob],
// [EnumJobs], [JOB_INFO_2], [PRINTER_INFO_2]: the Win32 print spooler
// reference of those names. [Code Pages]: Win32, Internationalization, "Code
// Pages". [Spool files]: see spool_files.cpp. [RPC context handles]: Win32 RPC, "Maintaining State on the
// Server Between Calls". [MS-RPRN x]: the Print System Remote Protocol,
// section x.
namespace sim {

using namespace spool;

namespace {

// Printer handles are plain values: far from the small multiples of four
// that kernel handles are, so that mixing the two up is seen.
constexpr uint64_t kPrinterHandleBase = 0x51AB0000;
constexpr size_t kRetiredKept = 64;
// [MS-RPRN 2.2.3.5] Notification Data Type values, in each entry's Reserved
// [MS-RPRN 2.2.1.13.4].
constexpr DWORD kTableDword = 1, kTableString = 2, kTableDevMode = 3, kTableTime = 4;
// [RPC context handles]: what a call with a handle the server does not know
// fails with; rpcnterr.h defines it as ERROR_INVALID_HANDLE.
constexpr DWORD kContextMismatch = ERROR_INVALID_HANDLE;
// [SetJob]: JOB_CONTROL_RETAIN and JOB_CONTROL_RELEASE follow
// JOB_CONTROL_LAST_PAGE_EJECTED.
constexpr DWORD kLastJobControl = JOB_CONTROL_LAST_PAGE_EJECTED + 2;

HANDLE AsHandle(uint64_t v) { return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(v)); }
uint64_t AsValue(const void* h) { return static_cast<uint64_t>(reinterpret_cast<ULONG_PTR>(h)); }
size_t AlignUp(size_t n) { return (n + 7) & ~static_cast<size_t>(7); }
DWORD Bit(WORD field) { return field < 32 ? 1u << field : 0; }

// [Code Pages]: every ANSI function uses the active Windows code page.
std::wstring Wide(const char* text) {
  std::wstring wide(text ? std::strlen(text) : 0, L'\0');
  if (!wide.empty()) {
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], static_cast<int>(wide.size() + 1));
    wide.resize(n > 0 ? n - 1 : 0);
  }
  return wide;
}
std::string Ansi(const WCHAR* text) {
  int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string ansi(n > 0 ? n : 1, '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, &ansi[0], n, nullptr, nullptr);
  ansi.resize(std::strlen(ansi.c_str()));
  return ansi;
}

template <size_t N>
void CopyText(WCHAR (&to)[N], const std::wstring& from) {
  size_t n = std::min(from.size(), N - 1);
  std::wmemcpy(to, from.data(), n);
  to[n] = 0;
}

void StoreText(TextValue& to, const std::optional<std::wstring>& from) {
  to.present = from.has_value();
  CopyText(to.text, from ? *from : std::wstring());
}

std::optional<std::wstring> LoadText(const TextValue& t) {
  if (!t.present) return std::nullopt;
  return std::wstring(t.text);
}

void StoreJob(JobSlot& slot, const JobFields& f) {
  StoreText(slot.document, f.document);
  StoreText(slot.user, f.user);
  StoreText(slot.machine, f.machine);
  slot.status = f.status;
  slot.bytesPrinted = f.bytesPrinted;
  slot.totalBytes = f.totalBytes;
  slot.totalPages = f.totalPages;
  slot.pagesPrinted = f.pagesPrinted;
  slot.hasDevMode = f.devMode.has_value();
  slot.devMode = f.devMode ? *f.devMode : DEVMODEW{};
  slot.devMode.dmSize = std::min<WORD>(slot.devMode.dmSize, sizeof(DEVMODEW));
  slot.devMode.dmDriverExtra = 0;
  slot.hasSubmitted = f.submitted.has_value();
  slot.submitted = f.submitted ? *f.submitted : SYSTEMTIME{};
}

JobFields LoadJob(const JobSlot& slot) {
  JobFields f;
  f.document = LoadText(slot.document);
  f.user = LoadText(slot.user);
  f.machine = LoadText(slot.machine);
  f.status = slot.status;
  f.bytesPrinted = slot.bytesPrinted;
  f.totalBytes = slot.totalBytes;
  f.totalPages = slot.totalPages;
  f.pagesPrinted = slot.pagesPrinted;
  f.devMode = slot.hasDevMode ? std::optional<DEVMODEW>(slot.devMode) : std::nullopt;
  f.submitted = slot.hasSubmitted ? std::optional<SYSTEMTIME>(slot.submitted) : std::nullopt;
  return f;
}

bool SameText(const TextValue& a, const TextValue& b) {
  return a.present == b.present && std::wcscmp(a.text, b.text) == 0;
}

// The notification fields whose value differs between two states of a job.
DWORD ChangedFields(const JobSlot& a, const JobSlot& b) {
  DWORD bits = 0;
  auto mark = [&bits](bool changed, WORD field) { bits |= changed ? Bit(field) : 0; };
  mark(!SameText(a.document, b.document), JOB_NOTIFY_FIELD_DOCUMENT);
  mark(!SameText(a.user, b.user), JOB_NOTIFY_FIELD_USER_NAME);
  mark(!SameText(a.machine, b.machine), JOB_NOTIFY_FIELD_MACHINE_NAME);
  mark(a.status != b.status, JOB_NOTIFY_FIELD_STATUS);
  mark(a.bytesPrinted != b.bytesPrinted, JOB_NOTIFY_FIELD_BYTES_PRINTED);
  mark(a.totalBytes != b.totalBytes, JOB_NOTIFY_FIELD_TOTAL_BYTES);
  mark(a.totalPages != b.totalPages, JOB_NOTIFY_FIELD_TOTAL_PAGES);
  mark(a.hasDevMode != b.hasDevMode || std::memcmp(&a.devMode, &b.devMode, sizeof(DEVMODEW)) != 0,
       JOB_NOTIFY_FIELD_DEVMODE);
  mark(a.hasSubmitted != b.hasSubmitted ||
           std::memcmp(&a.submitted, &b.submitted, sizeof(SYSTEMTIME)) != 0,
       JOB_NOTIFY_FIELD_SUBMITTED);
  return bits;
}

// What one notification entry carries [PRINTER_NOTIFY_INFO_DATA, Remarks]:
// a number in adwData[0], or a buffer of cbBuf bytes, or no data.
struct EntryData {
  DWORD table = kTableDword;
  DWORD value = 0;
  const void* data = nullptr;
  DWORD size = 0;
};

// [MS-RPRN 2.2.1.2.15] STRING_CONTAINER: UTF-16, cbBuf in bytes (even; the
// terminator included here); a job without the text gives a null pointer,
// which the IDL's "unique" allows.
EntryData Text(const WCHAR* text) {
  return {kTableString, 0, text, static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(WCHAR))};
}
EntryData Text(const TextValue& t) { return t.present ? Text(t.text) : EntryData{kTableString}; }
EntryData Number(DWORD v) { return {kTableDword, v, nullptr, 0}; }

// The fields that the code here asks for; any other is not simulated and
// reads 0.
EntryData FieldData(WORD field, const JobSlot& job) {
  switch (field) {
    case JOB_NOTIFY_FIELD_MACHINE_NAME: return Text(job.machine);
    case JOB_NOTIFY_FIELD_USER_NAME: return Text(job.user);
    case JOB_NOTIFY_FIELD_DOCUMENT: return Text(job.document);
    // [MS-RPRN 2.2.1.2.1] DEVMODE_CONTAINER, cbBuf the bytes of the _DEVMODE,
    // which [MS-RPRN 2.2.2.1] may be truncated to an older, smaller dmSize.
    case JOB_NOTIFY_FIELD_DEVMODE:
      return job.hasDevMode ? EntryData{kTableDevMode, 0, &job.devMode, job.devMode.dmSize}
                            : EntryData{kTableDevMode};
    // [MS-RPRN 2.2.1.2.16] SYSTEMTIME_CONTAINER; [JOB_INFO_2] the time is UTC.
    case JOB_NOTIFY_FIELD_SUBMITTED:
      return job.hasSubmitted ? EntryData{kTableTime, 0, &job.submitted, sizeof(SYSTEMTIME)}
                              : EntryData{kTableTime};
    case JOB_NOTIFY_FIELD_STATUS: return Number(job.status);
    case JOB_NOTIFY_FIELD_TOTAL_PAGES: return Number(job.totalPages);
    case JOB_NOTIFY_FIELD_TOTAL_BYTES: return Number(job.totalBytes);
    case JOB_NOTIFY_FIELD_BYTES_PRINTED: return Number(job.bytesPrinted);
    default: return Number(0);
  }
}

// The ANSI layout of a device mode [Code Pages]: the two names narrowed,
// every other member where DEVMODEA keeps it; dmSize loses what the names
// lose.
DEVMODEA AnsiDevMode(const DEVMODEW& w) {
  DEVMODEA a = {};
  WideCharToMultiByte(CP_ACP, 0, w.dmDeviceName, CCHDEVICENAME,
                      reinterpret_cast<char*>(a.dmDeviceName), CCHDEVICENAME, nullptr, nullptr);
  std::memcpy(&a.dmSpecVersion, &w.dmSpecVersion,
              offsetof(DEVMODEW, dmFormName) - offsetof(DEVMODEW, dmSpecVersion));
  WideCharToMultiByte(CP_ACP, 0, w.dmFormName, CCHFORMNAME, reinterpret_cast<char*>(a.dmFormName),
                      CCHFORMNAME, nullptr, nullptr);
  std::memcpy(&a.dmLogPixels, &w.dmLogPixels, sizeof(DEVMODEW) - offsetof(DEVMODEW, dmLogPixels));
  const WORD narrower = w.dmSize > offsetof(DEVMODEW, dmFormName) ? 2 * CCHDEVICENAME : CCHDEVICENAME;
  a.dmSize = static_cast<WORD>(w.dmSize - narrower);
  return a;
}

// Lays out a job listing [GetJob], [EnumJobs]: the records first, then the
// texts and device modes they point at. Run once to measure (no buffer),
// once to write.
class Packer {
 public:
  Packer(BYTE* base, size_t records) : m_base(base), m_used(AlignUp(records)) {}
  size_t Used() const { return m_used; }
  template <class CHAR>
  CHAR* Put(const TextValue& t) { return t.present ? Put<CHAR>(t.text) : nullptr; }
  template <class CHAR>
  CHAR* Put(const WCHAR* text) {
    if (sizeof(CHAR) == sizeof(WCHAR)) {
      return static_cast<CHAR*>(Bytes(text, (std::wcslen(text) + 1) * sizeof(WCHAR), 2));
    }
    std::string ansi = Ansi(text);
    return static_cast<CHAR*>(Bytes(ansi.c_str(), ansi.size() + 1, 1));
  }
  void* Bytes(const void* p, size_t n, size_t align) {
    m_used = (m_used + align - 1) / align * align;
    void* at = m_base ? m_base + m_used : nullptr;
    if (at) std::memcpy(at, p, n);
    m_used += n;
    return at;
  }

 private:
  BYTE* m_base;
  size_t m_used;
};

template <class INFO, class CHAR>
void PackJob(Packer& pack, BYTE* record, const JobSlot& j, const PrinterSlot& printer) {
  static const WCHAR kDatatype[] = L"RAW", kProcessor[] = L"winprint";
  static const WCHAR kDriver[] = L"Simulated Printer Driver", kNone[] = L"";
  INFO r = {};
  r.JobId = j.id;
  r.pPrinterName = pack.Put<CHAR>(printer.name);
  r.pMachineName = pack.Put<CHAR>(j.machine);
  r.pUserName = pack.Put<CHAR>(j.user);
  r.pDocument = pack.Put<CHAR>(j.document);
  r.pNotifyName = pack.Put<CHAR>(j.user);
  r.pDatatype = pack.Put<CHAR>(kDatatype);
  r.pPrintProcessor = pack.Put<CHAR>(kProcessor);
  r.pParameters = pack.Put<CHAR>(kNone);
  r.pDriverName = pack.Put<CHAR>(kDriver);
  r.Status = j.status;
  r.Priority = j.priority;
  r.TotalPages = j.totalPages;
  r.PagesPrinted = j.pagesPrinted;
  r.Size = j.totalBytes;
  r.Submitted = j.submitted;
  if (j.hasDevMode && sizeof(CHAR) == sizeof(WCHAR)) {
    r.pDevMode = static_cast<decltype(r.pDevMode)>(pack.Bytes(&j.devMode, j.devMode.dmSize, 8));
  } else if (j.hasDevMode) {
    DEVMODEA a = AnsiDevMode(j.devMode);
    r.pDevMode = static_cast<decltype(r.pDevMode)>(pack.Bytes(&a, a.dmSize, 8));
  }
  if (record) std::memcpy(record, &r, sizeof(r));
}

}  // namespace

DEVMODEW MakeDevMode(short paperSize, short copies, short color, short duplex) {
  DEVMODEW dm = {};
  std::wcscpy(dm.dmDeviceName, L"Simulated Printer");
  dm.dmSpecVersion = DM_SPECVERSION;
  dm.dmSize = sizeof(DEVMODEW);
  dm.dmFields = DM_PAPERSIZE | DM_COPIES | DM_COLOR | DM_DUPLEX;
  dm.dmPaperSize = paperSize;
  dm.dmCopies = copies;
  dm.dmColor = color;
  dm.dmDuplex = duplex;
  return dm;
}

// Every call holds the spooler's mutex (recursive, so that helpers may
// take it again); an owner that died holding it leaves it abandoned, which
// still gives it to us.
class SpoolerCore::Guard {
 public:
  explicit Guard(const SpoolerCore& core) : m_lock(core.m_place.lock) {
    WaitForSingleObject(m_lock, INFINITE);
  }
  ~Guard() { ReleaseMutex(m_lock); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

 private:
  HANDLE m_lock;
};

SpoolerCore::SpoolerCore(SpoolerPlace place) : m_place(std::move(place)), m_s(*m_place.state) {}

SpoolerCore::~SpoolerCore() {
  for (const auto& file : m_spoolFiles) CloseHandle(file.second);
  for (void* p : m_retired) HeapFree(GetProcessHeap(), 0, p);
}

int SpoolerCore::FindPrinter(const char* name) const {
  if (!name) return -1;
  const std::wstring wide = Wide(name);
  for (int i = 0; i < kMaxPrinters; ++i) {
    if (m_s.printers[i].inUse && lstrcmpiW(m_s.printers[i].name, wide.c_str()) == 0) return i;
  }
  return -1;
}

int SpoolerCore::PrinterOfHandle(HANDLE h) {
  const DWORD pid = GetCurrentProcessId();
  for (const auto& slot : m_s.printerHandles) {
    if (!slot.open || slot.pid != pid || slot.value != AsValue(h)) continue;
    // [RPC context handles]: a handle of an earlier run of the server is
    // unknown to it (RPC_X_SS_CONTEXT_MISMATCH);
    // while the server is stopped the call does not reach it at all.
    if (m_s.down) {
      SetLastError(RPC_S_SERVER_UNAVAILABLE);
      return -1;
    }
    if (slot.run != m_s.run) {
      SetLastError(kContextMismatch);
      return -1;
    }
    return slot.printer;
  }
  ++m_s.badHandleUses;
  SetLastError(ERROR_INVALID_HANDLE);
  return -1;
}

int SpoolerCore::NotificationOfHandle(HANDLE h) const {
  const DWORD pid = GetCurrentProcessId();
  for (int i = 0; i < kMaxNotifications; ++i) {
    const auto& n = m_s.notifications[i];
    if (n.open && n.pid == pid && n.value == AsValue(h)) return i;
  }
  return -1;
}

JobSlot* SpoolerCore::QueuedJob(DWORD jobId, int printer) {
  for (auto& j : m_s.jobs) {
    if (j.inUse && j.queued && j.id == jobId && (printer < 0 || j.printer == printer)) return &j;
  }
  return nullptr;
}

void SpoolerCore::Active() const { SetEvent(m_place.activity); }

// Events of another process are reached by their names.
void SpoolerCore::Signal(NotificationSlot& n) {
  if (n.pid == GetCurrentProcessId()) {
    SetEvent(AsHandle(n.value));
    return;
  }
  std::string name = m_place.eventPrefix + ".Change." + std::to_string(n.serial);
  HANDLE h = OpenEventA(EVENT_MODIFY_STATE, FALSE, name.c_str());
  if (h) {
    SetEvent(h);
    CloseHandle(h);
  }
}

// A job changed: every notification of its printer that asked for one of
// the fields, or whose filter has the condition, keeps the change for its
// client and is signalled [FindFirst, Remarks].
void SpoolerCore::Changed(int jobSlot, DWORD fields, DWORD condition) {
  const JobSlot& job = m_s.jobs[jobSlot];
  for (auto& n : m_s.notifications) {
    if (!n.open || n.run != m_s.run || m_s.down || n.printer != job.printer) continue;
    // [FindNext], [MS-RPRN 2.2.1.13.3]: after a discarded block nothing is
    // sent until the client asks for a refresh.
    if (n.awaitingRefresh) continue;
    DWORD asked = 0;
    for (DWORD f = 0; f < n.fieldCount; ++f) asked |= Bit(n.fields[f]);
    if (!(fields & asked) && !(condition & n.filter)) continue;
    n.changes |= condition & n.filter;
    n.pending[jobSlot] |= fields & asked;
    DWORD entries = 0;
    for (DWORD bits : n.pending) {
      for (; bits; bits &= bits - 1) ++entries;
    }
    // [PRINTER_NOTIFY_INFO, Remarks]: an overflow loses notifications.
    if (entries > kMaxPendingEntries) {
      n.overflowed = TRUE;
      std::memset(n.pending, 0, sizeof(n.pending));
    }
    Signal(n);
  }
  Active();
}

// A job that has left its queue is forgotten once every notification of
// its printer has told its client.
void SpoolerCore::FreeGoneJobs() {
  for (int i = 0; i < kMaxJobs; ++i) {
    JobSlot& j = m_s.jobs[i];
    if (!j.inUse || j.queued) continue;
    bool told = true;
    for (const auto& n : m_s.notifications) {
      if (n.open && n.run == m_s.run && !m_s.down && n.pending[i]) told = false;
    }
    if (told) j.inUse = FALSE;
  }
}

std::vector<int> SpoolerCore::QueueSlots(int printer) const {
  std::vector<int> slots;
  for (int i = 0; i < kMaxJobs; ++i) {
    if (m_s.jobs[i].inUse && m_s.jobs[i].queued && m_s.jobs[i].printer == printer) {
      slots.push_back(i);
    }
  }
  // Ids grow with every job added: queue order is id order.
  std::sort(slots.begin(), slots.end(),
            [this](int a, int b) { return m_s.jobs[a].id < m_s.jobs[b].id; });
  return slots;
}

// ---------------------------------------------------------------- platform

BOOL SpoolerCore::OpenPrinterA(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSA) {
  Guard guard(*this);
  if (!phPrinter) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (m_s.down) {
    SetLastError(RPC_S_SERVER_UNAVAILABLE);   // [RPC context handles]: no server
    return FALSE;
  }
  int printer = FindPrinter(pPrinterName);
  if (printer < 0) {
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  for (auto& slot : m_s.printerHandles) {
    if (slot.open) continue;
    slot = PrinterHandleSlot{TRUE, GetCurrentProcessId(),
                             kPrinterHandleBase + 8 * static_cast<uint64_t>(++m_s.lastHandleSerial),
                             printer, m_s.run};
    *phPrinter = AsHandle(slot.value);
    Active();
    return TRUE;
  }
  ++m_s.tableFull;
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return FALSE;
}

// A handle that the spooler no longer knows is still given back by the
// client [RPC context handles]; the call then reports the spooler's answer.
BOOL SpoolerCore::ClosePrinter(HANDLE hPrinter) {
  Guard guard(*this);
  const DWORD pid = GetCurrentProcessId();
  for (auto& slot : m_s.printerHandles) {
    if (slot.open && slot.pid == pid && slot.value == AsValue(hPrinter)) {
      slot.open = FALSE;
      Active();
      if (!m_s.down && slot.run == m_s.run) return TRUE;
      SetLastError(m_s.down ? RPC_S_SERVER_UNAVAILABLE : kContextMismatch);
      return FALSE;
    }
  }
  ++m_s.badPrinterCloses;
  Active();
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

HANDLE SpoolerCore::FindFirstPrinterChangeNotification(HANDLE hPrinter, DWORD fdwFilter, DWORD,
                                                       LPVOID pPrinterNotifyOptions) {
  Guard guard(*this);
  int printer = PrinterOfHandle(hPrinter);
  // [FindFirst]: failure is INVALID_HANDLE_VALUE.
  if (printer < 0) {
    Active();
    return INVALID_HANDLE_VALUE;
  }
  if (m_s.printers[printer].refuseNotifications) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return INVALID_HANDLE_VALUE;
  }
  for (auto& n : m_s.notifications) {
    if (n.open) continue;
    n = NotificationSlot{};
    n.serial = ++m_s.lastNotificationSerial;
    std::string name = m_place.eventPrefix + ".Change." + std::to_string(n.serial);
    HANDLE h = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
    if (!h) return INVALID_HANDLE_VALUE;
    n.open = TRUE;
    n.pid = GetCurrentProcessId();
    n.value = AsValue(h);
    n.printer = printer;
    n.run = m_s.run;
    n.filter = fdwFilter;
    // [PRINTER_NOTIFY_OPTIONS]: FindFirst ignores Flags; the job fields of
    // its types are what later blocks carry.
    auto* options = static_cast<const PRINTER_NOTIFY_OPTIONS*>(pPrinterNotifyOptions);
    for (DWORD t = 0; options && t < options->Count; ++t) {
      const PRINTER_NOTIFY_OPTIONS_TYPE& type = options->pTypes[t];
      if (type.Type != JOB_NOTIFY_TYPE || !type.pFields) continue;
      for (DWORD f = 0; f < type.Count && n.fieldCount < kMaxFields; ++f) {
        n.fields[n.fieldCount++] = type.pFields[f];
      }
    }
    Active();
    return h;
  }
  ++m_s.tableFull;
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return INVALID_HANDLE_VALUE;
}

// [FindNext], [PRINTER_NOTIFY_INFO], [MS-RPRN 2.2.1.13.3-5]: one block of
// Version 2 holding, with the refresh flag, every asked field of every
// queued job, else the asked fields that changed since the last fetch, of
// the jobs that changed, several jobs in one block; the fields of a job in
// the order they were asked for, changes of one field collapsed into one
// entry with its current data.
PPRINTER_NOTIFY_INFO SpoolerCore::BuildBlock(NotificationSlot& n, bool refresh, DWORD flags) {
  struct Planned {
    int slot;
    WORD field;
    EntryData data;
  };
  std::vector<Planned> planned;
  std::vector<int> slots;
  for (int i = 0; i < kMaxJobs; ++i) {
    const JobSlot& j = m_s.jobs[i];
    if (j.inUse && j.printer == n.printer && (refresh ? j.queued != FALSE : n.pending[i] != 0)) {
      slots.push_back(i);
    }
  }
  std::sort(slots.begin(), slots.end(),
            [this](int a, int b) { return m_s.jobs[a].id < m_s.jobs[b].id; });
  for (int s = 0; !(flags & PRINTER_NOTIFY_INFO_DISCARDED) && s < static_cast<int>(slots.size());
       ++s) {
    const int slot = slots[s];
    for (DWORD f = 0; f < n.fieldCount; ++f) {
      if (!refresh && !(n.pending[slot] & Bit(n.fields[f]))) continue;
      planned.push_back({slot, n.fields[f], FieldData(n.fields[f], m_s.jobs[slot])});
    }
  }
  // One allocation: the header with its entries, then each entry's data.
  size_t head = offsetof(PRINTER_NOTIFY_INFO, aData) +
                std::max<size_t>(1, planned.size()) * sizeof(PRINTER_NOTIFY_INFO_DATA);
  size_t total = AlignUp(head);
  for (const auto& p : planned) total += AlignUp(p.data.size);
  auto* base = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, total));
  if (!base) return nullptr;
  auto* info = reinterpret_cast<PPRINTER_NOTIFY_INFO>(base);
  info->Version = 2;
  info->Flags = flags;
  info->Count = static_cast<DWORD>(planned.size());
  BYTE* data = base + AlignUp(head);
  for (size_t i = 0; i < planned.size(); ++i) {
    PRINTER_NOTIFY_INFO_DATA& e = info->aData[i];
    e.Type = JOB_NOTIFY_TYPE;
    e.Field = planned[i].field;
    e.Id = m_s.jobs[planned[i].slot].id;
    const EntryData& d = planned[i].data;
    e.Reserved = d.table;
    if (d.table == kTableDword) {
      e.NotifyData.adwData[0] = d.value;
    } else if (d.data) {
      std::memcpy(data, d.data, d.size);
      e.NotifyData.Data.cbBuf = d.size;
      e.NotifyData.Data.pBuf = data;
      data += AlignUp(d.size);
    }
  }
  return info;
}

BOOL SpoolerCore::FindNextPrinterChangeNotification(HANDLE hChange, PDWORD pdwChange,
                                                    LPVOID pPrinterNotifyOptions,
                                                    LPVOID* ppPrinterNotifyInfo) {
  Guard guard(*this);
  int index = NotificationOfHandle(hChange);
  if (index < 0) {
    ++m_s.badHandleUses;
    Active();
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  NotificationSlot& n = m_s.notifications[index];
  if (ppPrinterNotifyInfo) *ppPrinterNotifyInfo = nullptr;
  auto* options = static_cast<const PRINTER_NOTIFY_OPTIONS*>(pPrinterNotifyOptions);
  FetchRecord record = {};
  record.printer = n.printer;
  record.refreshAsked = options && (options->Flags & PRINTER_NOTIFY_OPTIONS_REFRESH);
  record.outcome = FetchOutcome::Failed;
  DWORD error = ERROR_SUCCESS;
  if (m_s.down || n.run != m_s.run) {
    error = m_s.down ? RPC_S_SERVER_UNAVAILABLE : kContextMismatch;
  } else if (m_s.failNextFetches) {
    --m_s.failNextFetches;
    error = ERROR_NOT_ENOUGH_MEMORY;
  } else {
    // [FindNext]: the object is not signalled again until the next change.
    ResetEvent(hChange);
    if (pdwChange) *pdwChange = n.changes;
    n.changes = 0;
    // [FindNext, Remarks]: even a refresh may come back discarded.
    DWORD flags = 0;
    if (m_s.discardNextFetches) {
      --m_s.discardNextFetches;
      flags = PRINTER_NOTIFY_INFO_DISCARDED;
    } else if (!record.refreshAsked && (n.overflowed || n.awaitingRefresh)) {
      flags = PRINTER_NOTIFY_INFO_DISCARDED;
    }
    BlockSlot* slot = nullptr;
    for (auto& b : m_s.blocks) {
      if (!b.out) {
        slot = &b;
        break;
      }
    }
    PPRINTER_NOTIFY_INFO info = nullptr;
    if (!ppPrinterNotifyInfo || n.fieldCount == 0) {
      record.outcome = FetchOutcome::NoBlock;
    } else if (!slot || !(info = BuildBlock(n, record.refreshAsked, flags))) {
      if (!slot) ++m_s.tableFull;
      error = ERROR_NOT_ENOUGH_MEMORY;
    } else {
      *slot = BlockSlot{TRUE, GetCurrentProcessId(), AsValue(info),
                        static_cast<DWORD>(HeapSize(GetProcessHeap(), 0, info))};
      ++m_s.blocksGiven;
      record.outcome = flags ? FetchOutcome::Discarded : FetchOutcome::Data;
      record.entries = info->Count;
      for (DWORD i = 0; i < info->Count; ++i) {
        record.jobs += (i == 0 || info->aData[i].Id != info->aData[i - 1].Id) ? 1 : 0;
      }
      *ppPrinterNotifyInfo = info;
    }
    if (error == ERROR_SUCCESS) {
      // Told now: what was kept goes; a discarded block leaves the
      // notification silent until a refresh, which ends that.
      std::memset(n.pending, 0, sizeof(n.pending));
      n.overflowed = FALSE;
      n.awaitingRefresh = flags != 0;
      FreeGoneJobs();
    }
  }
  if (m_s.fetchCount < kMaxFetches) m_s.fetches[m_s.fetchCount] = record;
  ++m_s.fetchCount;
  Active();
  if (error == ERROR_SUCCESS) return TRUE;
  SetLastError(error);
  return FALSE;
}

BOOL SpoolerCore::FindClosePrinterChangeNotification(HANDLE hChange) {
  Guard guard(*this);
  int index = NotificationOfHandle(hChange);
  if (index < 0) {
    ++m_s.badNotificationCloses;
    Active();
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // [FindClose]: the handle cannot be used afterwards, whatever the
  // spooler answers (as for a printer handle above).
  NotificationSlot& n = m_s.notifications[index];
  n.open = FALSE;
  CloseHandle(hChange);
  FreeGoneJobs();
  Active();
  if (!m_s.down && n.run == m_s.run) return TRUE;
  SetLastError(m_s.down ? RPC_S_SERVER_UNAVAILABLE : kContextMismatch);
  return FALSE;
}

BOOL SpoolerCore::FreePrinterNotifyInfo(PPRINTER_NOTIFY_INFO pInfo) {
  Guard guard(*this);
  const DWORD pid = GetCurrentProcessId();
  for (auto& b : m_s.blocks) {
    if (b.out && b.pid == pid && b.address == AsValue(pInfo)) {
      b.out = FALSE;
      ++m_s.blocksFreed;
      std::memset(pInfo, 0xDD, b.bytes);
      m_retired.push_back(pInfo);
      if (m_retired.size() > kRetiredKept) {
        HeapFree(GetProcessHeap(), 0, m_retired.front());
        m_retired.pop_front();
      }
      Active();
      return TRUE;
    }
  }
  ++m_s.badFrees;
  Active();
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

BOOL SpoolerCore::SetJobA(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE, DWORD Command) {
  Guard guard(*this);
  int printer = PrinterOfHandle(hPrinter);
  if (printer < 0) {
    Active();
    return FALSE;
  }
  CommandRecord record = {};
  std::wcscpy(record.printer, m_s.printers[printer].name);
  record.jobId = JobId;
  record.level = Level;
  record.command = Command;
  DWORD error = ERROR_SUCCESS;
  JobSlot* job = QueuedJob(JobId, printer);
  if (m_s.failNextSetJobs) {
    --m_s.failNextSetJobs;
    error = ERROR_ACCESS_DENIED;   // [SetJob]: a failure returns zero
  } else if (!job) {
    error = ERROR_INVALID_PARAMETER;   // [SetJob, Remarks]: no such job
  } else if (Level != 0) {
    error = ERROR_NOT_SUPPORTED;   // only commands are simulated, not job changes
  } else if (Command < JOB_CONTROL_PAUSE || Command > kLastJobControl) {
    error = ERROR_INVALID_PARAMETER;
  }
  record.applied = error == ERROR_SUCCESS;
  if (m_s.commandCount < kMaxCommands) m_s.commands[m_s.commandCount] = record;
  ++m_s.commandCount;
  if (!record.applied) {
    Active();
    SetLastError(error);
    return FALSE;
  }
  // [SetJob]: the commands, and the status each leaves [JOB_INFO_2].
  const JobSlot before = *job;
  switch (Command) {
    case JOB_CONTROL_PAUSE: job->status |= JOB_STATUS_PAUSED; break;
    case JOB_CONTROL_RESUME: job->status &= ~JOB_STATUS_PAUSED; break;
    case JOB_CONTROL_CANCEL:
    case JOB_CONTROL_DELETE: RemoveJob(JobId); return TRUE;
    case JOB_CONTROL_RESTART:
      job->status = (job->status & ~(JOB_STATUS_PRINTED | JOB_STATUS_COMPLETE)) | JOB_STATUS_RESTART;
      job->bytesPrinted = 0;
      job->pagesPrinted = 0;
      break;
    default: break;   // sent, ejected, retain, release: nothing a test looks at
  }
  Changed(static_cast<int>(job - m_s.jobs), ChangedFields(before, *job), PRINTER_CHANGE_SET_JOB);
  return TRUE;
}

// [GetJob], [EnumJobs]: with a buffer too small (or none), FALSE with
// ERROR_INSUFFICIENT_BUFFER and the size needed.
BOOL SpoolerCore::ListJobs(const std::vector<int>& slots, DWORD level, bool wide, LPBYTE pJob,
                           DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned) {
  // Level 2 only: nothing here asks for another.
  if (level != 2) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  const size_t record = wide ? sizeof(JOB_INFO_2W) : sizeof(JOB_INFO_2A);
  for (int pass = 0; pass < 2; ++pass) {
    BYTE* base = pass == 0 ? nullptr : pJob;
    Packer pack(base, record * slots.size());
    for (size_t i = 0; i < slots.size(); ++i) {
      const JobSlot& j = m_s.jobs[slots[i]];
      BYTE* at = base ? base + i * record : nullptr;
      if (wide) {
        PackJob<JOB_INFO_2W, WCHAR>(pack, at, j, m_s.printers[j.printer]);
      } else {
        PackJob<JOB_INFO_2A, char>(pack, at, j, m_s.printers[j.printer]);
      }
    }
    if (pass == 1) break;
    *pcbNeeded = static_cast<DWORD>(pack.Used());
    if (pcReturned) *pcReturned = 0;
    if (slots.empty()) return TRUE;
    if (pack.Used() > cbBuf || !pJob) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    std::memset(pJob, 0, pack.Used());
  }
  if (pcReturned) *pcReturned = static_cast<DWORD>(slots.size());
  return TRUE;
}

BOOL SpoolerCore::EnumJobsA(HANDLE hPrinter, DWORD FirstJob, DWORD NoJobs, DWORD Level,
                            LPBYTE pJob, DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned) {
  Guard guard(*this);
  int printer = PrinterOfHandle(hPrinter);
  ++m_s.enumJobsCalls;
  Active();
  if (printer < 0) return FALSE;
  if (!pcbNeeded || !pcReturned) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (m_s.failNextEnumJobs) {
    --m_s.failNextEnumJobs;
    *pcbNeeded = 0;
    *pcReturned = 0;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  std::vector<int> queue = QueueSlots(printer);
  std::vector<int> slots;
  for (size_t i = FirstJob; i < queue.size() && slots.size() < NoJobs; ++i) slots.push_back(queue[i]);
  return ListJobs(slots, Level, false, pJob, cbBuf, pcbNeeded, pcReturned);
}

BOOL SpoolerCore::GetJob(HANDLE hPrinter, DWORD JobId, DWORD Level, bool wide, LPBYTE pJob,
                         DWORD cbBuf, LPDWORD pcbNeeded) {
  Guard guard(*this);
  int printer = PrinterOfHandle(hPrinter);
  ++m_s.getJobCalls;
  Active();
  if (printer < 0) return FALSE;
  if (!pcbNeeded) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  JobSlot* job = QueuedJob(JobId, printer);
  if (!job) {
    *pcbNeeded = 0;
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return ListJobs({static_cast<int>(job - m_s.jobs)}, Level, wide, pJob, cbBuf, pcbNeeded,
                  nullptr);
}

BOOL SpoolerCore::GetJobA(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD cbBuf,
                          LPDWORD pcbNeeded) {
  return GetJob(hPrinter, JobId, Level, false, pJob, cbBuf, pcbNeeded);
}

BOOL SpoolerCore::GetJobW(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD cbBuf,
                          LPDWORD pcbNeeded) {
  return GetJob(hPrinter, JobId, Level, true, pJob, cbBuf, pcbNeeded);
}

// ---------------------------------------------------------------- tests' side

bool SpoolerCore::AddPrinter(const std::string& name) {
  Guard guard(*this);
  if (FindPrinter(name.c_str()) >= 0) return false;
  for (auto& p : m_s.printers) {
    if (p.inUse) continue;
    p = PrinterSlot{};
    p.inUse = TRUE;
    CopyText(p.name, Wide(name.c_str()));
    Active();
    return true;
  }
  return false;
}

bool SpoolerCore::RefuseNotifications(const std::string& printer, bool refuse) {
  Guard guard(*this);
  int p = FindPrinter(printer.c_str());
  if (p < 0) return false;
  m_s.printers[p].refuseNotifications = refuse;
  return true;
}

bool SpoolerCore::KeepPrintedJobs(const std::string& printer, bool keep) {
  Guard guard(*this);
  int p = FindPrinter(printer.c_str());
  if (p < 0) return false;
  m_s.printers[p].keepPrintedJobs = keep;
  return true;
}

void SpoolerCore::SetSpoolDirectory(const std::string& directory) {
  Guard guard(*this);
  CopyText(m_s.spoolDirectory, Wide(directory.c_str()));
}

DWORD SpoolerCore::AddJob(const std::string& printer, const JobFields& fields) {
  Guard guard(*this);
  int p = FindPrinter(printer.c_str());
  if (p < 0) return 0;
  FreeGoneJobs();
  for (int i = 0; i < kMaxJobs; ++i) {
    JobSlot& j = m_s.jobs[i];
    if (j.inUse) continue;
    j = JobSlot{};
    j.inUse = TRUE;
    j.queued = TRUE;
    j.id = ++m_s.lastJobId;
    j.printer = p;
    j.priority = DEF_PRIORITY;
    StoreJob(j, fields);
    if (m_s.spoolDirectory[0]) {
      const DEVMODEW* devMode = fields.shadowDevMode ? &*fields.shadowDevMode
                                : fields.devMode      ? &*fields.devMode
                                                      : nullptr;
      HANDLE spl = WriteJobFiles(m_s.spoolDirectory, j.id, j.status, j.priority, devMode,
                                 fields.spoolData);
      if (spl) m_spoolFiles[j.id] = spl;
    }
    // A new job: every field is news.
    Changed(i, ~0u, PRINTER_CHANGE_ADD_JOB);
    return j.id;
  }
  return 0;
}

bool SpoolerCore::UpdateJob(DWORD jobId, const std::function<void(JobFields&)>& change) {
  Guard guard(*this);
  JobSlot* job = QueuedJob(jobId, -1);
  if (!job) return false;
  JobFields fields = LoadJob(*job);
  change(fields);
  const JobSlot before = *job;
  StoreJob(*job, fields);
  Changed(static_cast<int>(job - m_s.jobs), ChangedFields(before, *job), PRINTER_CHANGE_SET_JOB);
  return true;
}

// [JOB_INFO_2] JOB_STATUS_DELETED "Job has been deleted"; the .NET
// PrintJobStatus.Deleted adds "deleted from the queue, typically after
// printing". The removal is a change of the status like any other.
bool SpoolerCore::RemoveJob(DWORD jobId) {
  Guard guard(*this);
  JobSlot* job = QueuedJob(jobId, -1);
  if (!job) return false;
  job->queued = FALSE;
  job->status |= JOB_STATUS_DELETED;
  // [Spool files]: the job's files go with it.
  auto held = m_spoolFiles.find(jobId);
  if (held != m_spoolFiles.end()) {
    CloseHandle(held->second);
    m_spoolFiles.erase(held);
  }
  if (m_s.spoolDirectory[0]) DeleteJobFiles(m_s.spoolDirectory, jobId);
  Changed(static_cast<int>(job - m_s.jobs), Bit(JOB_NOTIFY_FIELD_STATUS), PRINTER_CHANGE_DELETE_JOB);
  FreeGoneJobs();
  return true;
}

// [JOB_INFO_2] JOB_STATUS_PRINTING, then JOB_STATUS_PRINTED; [PRINTER_INFO_2]
// PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS: without it the spooler deletes a job
// once it has printed.
bool SpoolerCore::PrintJob(DWORD jobId) {
  Guard guard(*this);
  JobSlot* job = QueuedJob(jobId, -1);
  if (!job) return false;
  const bool keep = m_s.printers[job->printer].keepPrintedJobs != FALSE;
  UpdateJob(jobId, [](JobFields& f) {
    f.status = (f.status & ~JOB_STATUS_SPOOLING) | JOB_STATUS_PRINTING;
    f.bytesPrinted = f.totalBytes / 2;
  });
  UpdateJob(jobId, [](JobFields& f) {
    f.status = (f.status & ~JOB_STATUS_PRINTING) | JOB_STATUS_PRINTED;
    f.bytesPrinted = f.totalBytes;
    f.pagesPrinted = f.totalPages;
  });
  return keep || RemoveJob(jobId);
}

std::optional<JobFields> SpoolerCore::Job(DWORD jobId) const {
  Guard guard(*this);
  for (const auto& j : m_s.jobs) {
    if (j.inUse && j.queued && j.id == jobId) return LoadJob(j);
  }
  return std::nullopt;
}

std::vector<DWORD> SpoolerCore::Queue(const std::string& printer) const {
  Guard guard(*this);
  std::vector<DWORD> ids;
  int p = FindPrinter(printer.c_str());
  if (p < 0) return ids;
  for (int s : QueueSlots(p)) ids.push_back(m_s.jobs[s].id);
  return ids;
}

void SpoolerCore::Stop() {
  Guard guard(*this);
  ++m_s.run;
  m_s.down = TRUE;
  FreeGoneJobs();
  Active();
}

void SpoolerCore::Start() {
  Guard guard(*this);
  m_s.down = FALSE;
  Active();
}

std::vector<JobCommand> SpoolerCore::Commands() const {
  Guard guard(*this);
  std::vector<JobCommand> commands;
  DWORD n = std::min<DWORD>(m_s.commandCount, kMaxCommands);
  for (DWORD i = 0; i < n; ++i) {
    const CommandRecord& r = m_s.commands[i];
    commands.push_back({Ansi(r.printer), r.jobId, r.command, r.applied != FALSE});
  }
  return commands;
}

std::vector<Fetch> SpoolerCore::Fetches() const {
  Guard guard(*this);
  std::vector<Fetch> fetches;
  DWORD n = std::min<DWORD>(m_s.fetchCount, kMaxFetches);
  for (DWORD i = 0; i < n; ++i) {
    const FetchRecord& r = m_s.fetches[i];
    fetches.push_back({Ansi(m_s.printers[r.printer].name), r.refreshAsked != FALSE, r.outcome,
                       r.entries, r.jobs});
  }
  return fetches;
}

SpoolerCounts SpoolerCore::Counts() const {
  Guard guard(*this);
  SpoolerCounts c;
  for (const auto& h : m_s.printerHandles) c.openPrinters += h.open ? 1 : 0;
  for (const auto& n : m_s.notifications) c.openNotifications += n.open ? 1 : 0;
  c.fetches = m_s.fetchCount;
  c.blocksGiven = m_s.blocksGiven;
  c.blocksFreed = m_s.blocksFreed;
  c.commands = m_s.commandCount;
  c.enumJobsCalls = m_s.enumJobsCalls;
  c.getJobCalls = m_s.getJobCalls;
  return c;
}

void SpoolerCore::FailNextFetches(DWORD n) {
  Guard guard(*this);
  m_s.failNextFetches = n;
}

void SpoolerCore::DiscardNextFetches(DWORD n) {
  Guard guard(*this);
  m_s.discardNextFetches = n;
}

void SpoolerCore::FailNextEnumJobs(DWORD n) {
  Guard guard(*this);
  m_s.failNextEnumJobs = n;
}

void SpoolerCore::FailNextSetJobs(DWORD n) {
  Guard guard(*this);
  m_s.failNextSetJobs = n;
}

bool SpoolerCore::WaitUntil(const std::function<bool(const SpoolerCounts&)>& done,
                            DWORD timeoutMs) const {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    if (done(Counts())) return true;
    ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    // The activity event is set after every change, so a change between
    // the look above and this wait is not missed.
    WaitForSingleObject(m_place.activity, static_cast<DWORD>(deadline - now));
  }
}

bool SpoolerCore::WaitForCommands(DWORD n, DWORD timeoutMs) const {
  return WaitUntil([n](const SpoolerCounts& c) { return c.commands >= n; }, timeoutMs);
}

bool SpoolerCore::WaitForFetches(DWORD n, DWORD timeoutMs) const {
  return WaitUntil([n](const SpoolerCounts& c) { return c.fetches >= n; }, timeoutMs);
}

std::string SpoolerCore::Leaks() const {
  Guard guard(*this);
  SpoolerCounts c = Counts();
  std::string leaks;
  auto add = [&leaks](DWORD n, const char* what) {
    if (n) leaks += std::to_string(n) + " " + what + "; ";
  };
  add(c.openPrinters, "printer handle(s) still open");
  add(c.openNotifications, "change notification(s) still open");
  add(c.blocksGiven - c.blocksFreed, "notification block(s) never freed");
  add(m_s.badFrees, "FreePrinterNotifyInfo call(s) on a block not given out or already freed");
  add(m_s.badPrinterCloses, "ClosePrinter call(s) on a handle not open");
  add(m_s.badNotificationCloses, "FindClosePrinterChangeNotification call(s) on a handle not open");
  add(m_s.badHandleUses, "call(s) with a printer or notification handle not open");
  add(m_s.tableFull, "call(s) refused because the simulated spooler was full");
  return leaks;
}

}  // namespace sim
