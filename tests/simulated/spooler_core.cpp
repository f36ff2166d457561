#include "spooler_core.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace sim {

using namespace spool;

namespace {

// Printer handles are plain values: far from the small multiples of four
// that kernel handles are, so that mixing the two up is seen.
constexpr uint64_t kPrinterHandleBase = 0x51AB0000;
constexpr size_t kRetiredKept = 64;

HANDLE AsHandle(uint64_t v) { return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(v)); }
uint64_t AsValue(HANDLE h) { return static_cast<uint64_t>(reinterpret_cast<ULONG_PTR>(h)); }

size_t AlignUp(size_t n) { return (n + 7) & ~static_cast<size_t>(7); }

void CopyName(char (&to)[kNameChars], const std::string& from) {
  size_t n = std::min(from.size(), static_cast<size_t>(kNameChars - 1));
  std::memcpy(to, from.data(), n);
  to[n] = 0;
}

void StoreText(TextValue& to, const std::optional<std::string>& from) {
  to.present = from.has_value();
  size_t n = from ? std::min(from->size(), static_cast<size_t>(kTextChars - 1)) : 0;
  if (n) std::memcpy(to.text, from->data(), n);
  to.text[n] = 0;
}

std::optional<std::string> LoadText(const TextValue& t) {
  if (!t.present) return std::nullopt;
  return std::string(t.text);
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
  slot.devMode = f.devMode ? *f.devMode : DEVMODEA{};
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
  f.devMode = slot.hasDevMode ? std::optional<DEVMODEA>(slot.devMode) : std::nullopt;
  f.submitted = slot.hasSubmitted ? std::optional<SYSTEMTIME>(slot.submitted) : std::nullopt;
  return f;
}

// What one notification entry carries: a number, or data of some bytes,
// or nothing (the field is reported without data).
struct EntryData {
  bool numeric = false;
  DWORD value = 0;
  const void* data = nullptr;
  DWORD size = 0;
};

EntryData Text(const char* text) { return {false, 0, text, static_cast<DWORD>(std::strlen(text) + 1)}; }
EntryData Text(const TextValue& t) { return t.present ? Text(t.text) : EntryData{}; }
EntryData Number(DWORD v) { return {true, v, nullptr, 0}; }

const char kDatatype[] = "RAW";
const char kPrintProcessor[] = "winprint";
const char kDriverName[] = "Simulated Printer Driver";
const char kPortName[] = "SIM:";
const char kNoText[] = "";

EntryData FieldData(WORD field, const JobSlot& job, const PrinterSlot& printer, DWORD position) {
  switch (field) {
    case JOB_NOTIFY_FIELD_PRINTER_NAME: return Text(printer.name);
    case JOB_NOTIFY_FIELD_MACHINE_NAME: return Text(job.machine);
    case JOB_NOTIFY_FIELD_PORT_NAME: return Text(kPortName);
    case JOB_NOTIFY_FIELD_USER_NAME: return Text(job.user);
    case JOB_NOTIFY_FIELD_NOTIFY_NAME: return Text(job.user);
    case JOB_NOTIFY_FIELD_DATATYPE: return Text(kDatatype);
    case JOB_NOTIFY_FIELD_PRINT_PROCESSOR: return Text(kPrintProcessor);
    case JOB_NOTIFY_FIELD_PARAMETERS: return Text(kNoText);
    case JOB_NOTIFY_FIELD_DRIVER_NAME: return Text(kDriverName);
    case JOB_NOTIFY_FIELD_DEVMODE:
      return job.hasDevMode ? EntryData{false, 0, &job.devMode, sizeof(DEVMODEA)} : EntryData{};
    case JOB_NOTIFY_FIELD_STATUS: return Number(job.status);
    case JOB_NOTIFY_FIELD_DOCUMENT: return Text(job.document);
    case JOB_NOTIFY_FIELD_PRIORITY: return Number(job.priority);
    case JOB_NOTIFY_FIELD_POSITION: return Number(position);
    case JOB_NOTIFY_FIELD_SUBMITTED:
      return job.hasSubmitted ? EntryData{false, 0, &job.submitted, sizeof(SYSTEMTIME)}
                              : EntryData{};
    case JOB_NOTIFY_FIELD_TOTAL_PAGES: return Number(job.totalPages);
    case JOB_NOTIFY_FIELD_PAGES_PRINTED: return Number(job.pagesPrinted);
    case JOB_NOTIFY_FIELD_TOTAL_BYTES: return Number(job.totalBytes);
    case JOB_NOTIFY_FIELD_BYTES_PRINTED: return Number(job.bytesPrinted);
    case JOB_NOTIFY_FIELD_START_TIME:
    case JOB_NOTIFY_FIELD_UNTIL_TIME:
    case JOB_NOTIFY_FIELD_TIME: return Number(0);
    default: return EntryData{};   // status string, security descriptor
  }
}

}  // namespace

DEVMODEA MakeDevMode(short paperSize, short copies, short color, short duplex) {
  DEVMODEA dm = {};
  std::strcpy(reinterpret_cast<char*>(dm.dmDeviceName), "Simulated Printer");
  dm.dmSpecVersion = DM_SPECVERSION;
  dm.dmSize = sizeof(DEVMODEA);
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
  for (void* p : m_retired) HeapFree(GetProcessHeap(), 0, p);
}

int SpoolerCore::FindPrinter(const char* name) const {
  if (!name) return -1;
  for (int i = 0; i < kMaxPrinters; ++i) {
    if (m_s.printers[i].inUse && lstrcmpiA(m_s.printers[i].name, name) == 0) return i;
  }
  return -1;
}

int SpoolerCore::PrinterOfHandle(HANDLE h) const {
  const DWORD pid = GetCurrentProcessId();
  for (const auto& slot : m_s.printerHandles) {
    if (slot.open && slot.pid == pid && slot.value == AsValue(h)) return slot.printer;
  }
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

void SpoolerCore::Active() const { SetEvent(m_place.activity); }

// Signals every notification armed on the printer. Events of another
// process are reached by their names.
void SpoolerCore::Changed(int printer, DWORD change) {
  const DWORD pid = GetCurrentProcessId();
  for (auto& n : m_s.notifications) {
    if (!n.open || n.printer != printer) continue;
    n.changes |= change;
    if (n.pid == pid) {
      SetEvent(AsHandle(n.value));
      continue;
    }
    std::string name = m_place.eventPrefix + ".Change." + std::to_string(n.serial);
    HANDLE h = OpenEventA(EVENT_MODIFY_STATE, FALSE, name.c_str());
    if (h) {
      SetEvent(h);
      CloseHandle(h);
    }
  }
  Active();
}

std::vector<int> SpoolerCore::QueueSlots(int printer) const {
  std::vector<int> slots;
  for (int i = 0; i < kMaxJobs; ++i) {
    if (m_s.jobs[i].inUse && m_s.jobs[i].printer == printer) slots.push_back(i);
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
  int printer = FindPrinter(pPrinterName);
  if (printer < 0) {
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  for (auto& slot : m_s.printerHandles) {
    if (slot.open) continue;
    slot.open = TRUE;
    slot.pid = GetCurrentProcessId();
    slot.value = kPrinterHandleBase + 8 * static_cast<uint64_t>(++m_s.lastHandleSerial);
    slot.printer = printer;
    *phPrinter = AsHandle(slot.value);
    Active();
    return TRUE;
  }
  ++m_s.tableFull;
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return FALSE;
}

BOOL SpoolerCore::ClosePrinter(HANDLE hPrinter) {
  Guard guard(*this);
  const DWORD pid = GetCurrentProcessId();
  for (auto& slot : m_s.printerHandles) {
    if (slot.open && slot.pid == pid && slot.value == AsValue(hPrinter)) {
      slot.open = FALSE;
      Active();
      return TRUE;
    }
  }
  ++m_s.badPrinterCloses;
  Active();
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

HANDLE SpoolerCore::FindFirstPrinterChangeNotification(HANDLE hPrinter, DWORD, DWORD,
                                                       LPVOID pPrinterNotifyOptions) {
  Guard guard(*this);
  int printer = PrinterOfHandle(hPrinter);
  if (printer < 0) {
    ++m_s.badHandleUses;
    SetLastError(ERROR_INVALID_HANDLE);
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

PPRINTER_NOTIFY_INFO SpoolerCore::BuildBlock(int printer, const NotificationSlot& n, DWORD flags,
                                             bool withEntries) {
  struct Planned {
    DWORD jobId;
    WORD field;
    EntryData data;
  };
  std::vector<Planned> planned;
  if (withEntries) {
    std::vector<int> slots = QueueSlots(printer);
    for (size_t pos = 0; pos < slots.size(); ++pos) {
      const JobSlot& job = m_s.jobs[slots[pos]];
      for (DWORD f = 0; f < n.fieldCount; ++f) {
        planned.push_back({job.id, n.fields[f],
                           FieldData(n.fields[f], job, m_s.printers[printer],
                                     static_cast<DWORD>(pos + 1))});
      }
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
    e.Id = planned[i].jobId;
    const EntryData& d = planned[i].data;
    if (d.numeric) {
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
  // As the real call does: the object is not signalled again until the
  // next change.
  ResetEvent(hChange);
  if (pdwChange) *pdwChange = n.changes;
  n.changes = 0;
  if (ppPrinterNotifyInfo) *ppPrinterNotifyInfo = nullptr;

  auto* options = static_cast<const PRINTER_NOTIFY_OPTIONS*>(pPrinterNotifyOptions);
  FetchRecord record = {};
  record.printer = n.printer;
  record.refreshAsked = options && (options->Flags & PRINTER_NOTIFY_OPTIONS_REFRESH);
  BOOL ok = TRUE;
  if (m_s.failNextFetches) {
    --m_s.failNextFetches;
    record.outcome = FetchOutcome::Failed;
    ok = FALSE;
  } else if (!ppPrinterNotifyInfo || n.fieldCount == 0) {
    record.outcome = FetchOutcome::NoBlock;
  } else {
    DWORD flags = 0;
    bool withEntries = true;
    record.outcome = FetchOutcome::Data;
    if (m_s.discardNextFetches) {
      --m_s.discardNextFetches;
      flags = PRINTER_NOTIFY_INFO_DISCARDED;
      withEntries = false;
      record.outcome = FetchOutcome::Discarded;
    } else if (m_s.emptyNextFetches) {
      --m_s.emptyNextFetches;
      withEntries = false;
      record.outcome = FetchOutcome::Empty;
    }
    BlockSlot* slot = nullptr;
    for (auto& b : m_s.blocks) {
      if (!b.out) {
        slot = &b;
        break;
      }
    }
    PPRINTER_NOTIFY_INFO info = slot ? BuildBlock(n.printer, n, flags, withEntries) : nullptr;
    if (!info) {
      if (!slot) ++m_s.tableFull;
      record.outcome = FetchOutcome::Failed;
      ok = FALSE;
    } else {
      slot->out = TRUE;
      slot->pid = GetCurrentProcessId();
      slot->address = AsValue(info);
      slot->bytes = static_cast<DWORD>(HeapSize(GetProcessHeap(), 0, info));
      ++m_s.blocksGiven;
      record.entries = info->Count;
      *ppPrinterNotifyInfo = info;
    }
  }
  if (m_s.fetchCount < kMaxFetches) m_s.fetches[m_s.fetchCount] = record;
  ++m_s.fetchCount;
  Active();
  if (!ok) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return ok;
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
  m_s.notifications[index].open = FALSE;
  CloseHandle(hChange);
  Active();
  return TRUE;
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
    ++m_s.badHandleUses;
    Active();
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  CommandRecord record = {};
  std::strcpy(record.printer, m_s.printers[printer].name);
  record.jobId = JobId;
  record.level = Level;
  record.command = Command;
  DWORD error = ERROR_SUCCESS;
  JobSlot* job = nullptr;
  for (auto& j : m_s.jobs) {
    if (j.inUse && j.id == JobId && j.printer == printer) job = &j;
  }
  if (!job) {
    error = ERROR_INVALID_PARAMETER;
  } else if (Level != 0) {
    error = ERROR_NOT_SUPPORTED;   // only commands are simulated, not job changes
  } else {
    switch (Command) {
      case JOB_CONTROL_PAUSE: job->status |= JOB_STATUS_PAUSED; break;
      case JOB_CONTROL_RESUME: job->status &= ~JOB_STATUS_PAUSED; break;
      case JOB_CONTROL_CANCEL:
      case JOB_CONTROL_DELETE: job->inUse = FALSE; break;
      case JOB_CONTROL_RESTART:
        job->status = (job->status & ~(JOB_STATUS_PRINTED | JOB_STATUS_COMPLETE)) | JOB_STATUS_RESTART;
        job->bytesPrinted = 0;
        job->pagesPrinted = 0;
        break;
      case 6: case 7: case 8: case 9: break;   // sent, ejected, retain, release
      default: error = ERROR_INVALID_PARAMETER; break;
    }
  }
  record.applied = error == ERROR_SUCCESS;
  if (m_s.commandCount < kMaxCommands) m_s.commands[m_s.commandCount] = record;
  ++m_s.commandCount;
  if (record.applied) {
    Changed(printer, job->inUse ? PRINTER_CHANGE_SET_JOB : PRINTER_CHANGE_DELETE_JOB);
    return TRUE;
  }
  Active();
  SetLastError(error);
  return FALSE;
}

// Writes the records first and the texts and device modes after them, as
// the real spooler does, or says how much room that takes.
BOOL SpoolerCore::ListJobs(const std::vector<int>& slots, DWORD level, LPBYTE pJob, DWORD cbBuf,
                           LPDWORD pcbNeeded, LPDWORD pcReturned) {
  if (level != 1 && level != 2) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  const size_t record = level == 1 ? sizeof(JOB_INFO_1A) : sizeof(JOB_INFO_2A);
  auto textSize = [](const TextValue& t) { return t.present ? std::strlen(t.text) + 1 : 0; };
  size_t needed = AlignUp(record * slots.size());
  for (int s : slots) {
    const JobSlot& j = m_s.jobs[s];
    needed += std::strlen(m_s.printers[j.printer].name) + 1 + textSize(j.machine) +
              textSize(j.user) + textSize(j.document) + sizeof(kDatatype);
    if (level == 2) {
      needed += textSize(j.user) + sizeof(kPrintProcessor) + sizeof(kNoText) +
                sizeof(kDriverName);
      if (j.hasDevMode) needed = AlignUp(needed) + sizeof(DEVMODEA);
    }
  }
  *pcbNeeded = static_cast<DWORD>(needed);
  if (pcReturned) *pcReturned = 0;
  if (needed > cbBuf || (needed && !pJob)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (needed) std::memset(pJob, 0, needed);
  BYTE* next = pJob + AlignUp(record * slots.size());
  auto put = [&next](const char* text) -> LPSTR {
    size_t n = std::strlen(text) + 1;
    std::memcpy(next, text, n);
    LPSTR at = reinterpret_cast<LPSTR>(next);
    next += n;
    return at;
  };
  auto putText = [&put](const TextValue& t) -> LPSTR { return t.present ? put(t.text) : nullptr; };
  for (size_t i = 0; i < slots.size(); ++i) {
    const JobSlot& j = m_s.jobs[slots[i]];
    std::vector<int> queue = QueueSlots(j.printer);
    DWORD position = static_cast<DWORD>(
        std::find(queue.begin(), queue.end(), slots[i]) - queue.begin() + 1);
    if (level == 1) {
      auto* r = reinterpret_cast<JOB_INFO_1A*>(pJob) + i;
      r->JobId = j.id;
      r->pPrinterName = put(m_s.printers[j.printer].name);
      r->pMachineName = putText(j.machine);
      r->pUserName = putText(j.user);
      r->pDocument = putText(j.document);
      r->pDatatype = put(kDatatype);
      r->Status = j.status;
      r->Priority = j.priority;
      r->Position = position;
      r->TotalPages = j.totalPages;
      r->PagesPrinted = j.pagesPrinted;
      r->Submitted = j.submitted;
    } else {
      auto* r = reinterpret_cast<JOB_INFO_2A*>(pJob) + i;
      r->JobId = j.id;
      r->pPrinterName = put(m_s.printers[j.printer].name);
      r->pMachineName = putText(j.machine);
      r->pUserName = putText(j.user);
      r->pDocument = putText(j.document);
      r->pNotifyName = putText(j.user);
      r->pDatatype = put(kDatatype);
      r->pPrintProcessor = put(kPrintProcessor);
      r->pParameters = put(kNoText);
      r->pDriverName = put(kDriverName);
      if (j.hasDevMode) {
        next = pJob + AlignUp(static_cast<size_t>(next - pJob));
        std::memcpy(next, &j.devMode, sizeof(DEVMODEA));
        r->pDevMode = reinterpret_cast<LPDEVMODEA>(next);
        next += sizeof(DEVMODEA);
      }
      r->Status = j.status;
      r->Priority = j.priority;
      r->Position = position;
      r->TotalPages = j.totalPages;
      r->Size = j.totalBytes;
      r->Submitted = j.submitted;
      r->PagesPrinted = j.pagesPrinted;
    }
  }
  if (pcReturned) *pcReturned = static_cast<DWORD>(slots.size());
  return TRUE;
}

BOOL SpoolerCore::EnumJobsA(HANDLE hPrinter, DWORD FirstJob, DWORD NoJobs, DWORD Level,
                            LPBYTE pJob, DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned) {
  Guard guard(*this);
  int printer = PrinterOfHandle(hPrinter);
  if (printer < 0) {
    ++m_s.badHandleUses;
    Active();
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  ++m_s.enumJobsCalls;
  Active();
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
  return ListJobs(slots, Level, pJob, cbBuf, pcbNeeded, pcReturned);
}

BOOL SpoolerCore::GetJobA(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD cbBuf,
                          LPDWORD pcbNeeded) {
  Guard guard(*this);
  int printer = PrinterOfHandle(hPrinter);
  if (printer < 0) {
    ++m_s.badHandleUses;
    Active();
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  ++m_s.getJobCalls;
  Active();
  if (!pcbNeeded) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  for (int i = 0; i < kMaxJobs; ++i) {
    const JobSlot& j = m_s.jobs[i];
    if (j.inUse && j.id == JobId && j.printer == printer) {
      return ListJobs({i}, Level, pJob, cbBuf, pcbNeeded, nullptr);
    }
  }
  *pcbNeeded = 0;
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

// ---------------------------------------------------------------- tests' side

bool SpoolerCore::AddPrinter(const std::string& name) {
  Guard guard(*this);
  if (FindPrinter(name.c_str()) >= 0) return false;
  for (auto& p : m_s.printers) {
    if (p.inUse) continue;
    p = PrinterSlot{};
    p.inUse = TRUE;
    CopyName(p.name, name);
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

DWORD SpoolerCore::AddJob(const std::string& printer, const JobFields& fields) {
  Guard guard(*this);
  int p = FindPrinter(printer.c_str());
  if (p < 0) return 0;
  for (auto& j : m_s.jobs) {
    if (j.inUse) continue;
    j = JobSlot{};
    j.inUse = TRUE;
    j.id = ++m_s.lastJobId;
    j.printer = p;
    j.priority = 1;
    StoreJob(j, fields);
    Changed(p, PRINTER_CHANGE_ADD_JOB);
    return j.id;
  }
  return 0;
}

bool SpoolerCore::UpdateJob(DWORD jobId, const std::function<void(JobFields&)>& change) {
  Guard guard(*this);
  for (auto& j : m_s.jobs) {
    if (!j.inUse || j.id != jobId) continue;
    JobFields fields = LoadJob(j);
    change(fields);
    StoreJob(j, fields);
    Changed(j.printer, PRINTER_CHANGE_SET_JOB);
    return true;
  }
  return false;
}

bool SpoolerCore::RemoveJob(DWORD jobId) {
  Guard guard(*this);
  for (auto& j : m_s.jobs) {
    if (!j.inUse || j.id != jobId) continue;
    j.inUse = FALSE;
    Changed(j.printer, PRINTER_CHANGE_DELETE_JOB);
    return true;
  }
  return false;
}

std::optional<JobFields> SpoolerCore::Job(DWORD jobId) const {
  Guard guard(*this);
  for (const auto& j : m_s.jobs) {
    if (j.inUse && j.id == jobId) return LoadJob(j);
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

std::vector<JobCommand> SpoolerCore::Commands() const {
  Guard guard(*this);
  std::vector<JobCommand> commands;
  DWORD n = std::min<DWORD>(m_s.commandCount, kMaxCommands);
  for (DWORD i = 0; i < n; ++i) {
    const CommandRecord& r = m_s.commands[i];
    commands.push_back({r.printer, r.jobId, r.command, r.applied != FALSE});
  }
  return commands;
}

std::vector<Fetch> SpoolerCore::Fetches() const {
  Guard guard(*this);
  std::vector<Fetch> fetches;
  DWORD n = std::min<DWORD>(m_s.fetchCount, kMaxFetches);
  for (DWORD i = 0; i < n; ++i) {
    const FetchRecord& r = m_s.fetches[i];
    fetches.push_back({m_s.printers[r.printer].name, r.refreshAsked != FALSE, r.outcome, r.entries});
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

void SpoolerCore::EmptyNextFetches(DWORD n) {
  Guard guard(*this);
  m_s.emptyNextFetches = n;
}

void SpoolerCore::FailNextEnumJobs(DWORD n) {
  Guard guard(*this);
  m_s.failNextEnumJobs = n;
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

bool SpoolerCore::WaitForFreedBlocks(DWORD n, DWORD timeoutMs) const {
  return WaitUntil([n](const SpoolerCounts& c) { return c.blocksFreed >= n; }, timeoutMs);
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
