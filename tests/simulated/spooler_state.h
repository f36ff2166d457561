// The simulated spooler's whole state as one plain block of fixed size, so
// that the same bytes can live on the heap of a test program or in a named
// file mapping that the winspool.drv stand-in and a driving test program
// share across processes. All zero is a valid empty spooler, running.
#pragma once

#include <windows.h>

#include <cstdint>

namespace sim {
namespace spool {

constexpr int kMaxPrinters = 80;
constexpr int kMaxJobs = 256;
constexpr int kMaxPrinterHandles = 256;
constexpr int kMaxNotifications = 128;
constexpr int kMaxBlocks = 512;
constexpr int kMaxCommands = 1024;
constexpr int kMaxFetches = 1024;
constexpr int kMaxFields = 32;
constexpr int kNameChars = 256;
constexpr int kTextChars = 300;
// Entries a notification holds for its client between two fetches; one more
// is an overflow, told by a block flagged PRINTER_NOTIFY_INFO_DISCARDED.
constexpr DWORD kMaxPendingEntries = 256;

// A text of a job (UTF-16); without `present` the job has none.
struct TextValue {
  BOOL present;
  WCHAR text[kTextChars];
};

struct PrinterSlot {
  BOOL inUse;
  BOOL refuseNotifications;   // FindFirstPrinterChangeNotification fails
  BOOL keepPrintedJobs;       // PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS
  WCHAR name[kNameChars];
};

struct JobSlot {
  BOOL inUse;     // holds a job: queued, or gone but not yet told to every notification
  BOOL queued;
  DWORD id;
  int printer;
  TextValue document;
  TextValue user;
  TextValue machine;
  DWORD status;
  DWORD bytesPrinted;
  DWORD totalBytes;
  DWORD totalPages;
  DWORD pagesPrinted;
  DWORD priority;
  BOOL hasDevMode;
  DEVMODEW devMode;   // its dmSize bytes are the job's device mode
  BOOL hasSubmitted;
  SYSTEMTIME submitted;   // UTC
};

// Handle values are process-local: each record says whose it is, and of
// which run of the spooler (a restart leaves the older ones invalid).
struct PrinterHandleSlot {
  BOOL open;
  DWORD pid;
  uint64_t value;
  int printer;
  DWORD run;
};

struct NotificationSlot {
  BOOL open;
  DWORD pid;
  uint64_t value;     // the event handle in the owner's process
  DWORD serial;       // names the event for other processes
  int printer;
  DWORD run;
  DWORD filter;       // fdwFilter: PRINTER_CHANGE_* conditions
  DWORD changes;      // conditions met since the last fetch
  DWORD fieldCount;   // JOB_NOTIFY_TYPE fields asked for, in order
  WORD fields[kMaxFields];
  BOOL overflowed;        // the next fetch tells PRINTER_NOTIFY_INFO_DISCARDED
  BOOL awaitingRefresh;   // nothing is kept or signalled until a refresh
  DWORD pending[kMaxJobs];   // per job slot: bit f set when field f changed
};

struct BlockSlot {
  BOOL out;
  DWORD pid;
  uint64_t address;
  DWORD bytes;
};

struct CommandRecord {
  WCHAR printer[kNameChars];
  DWORD jobId;
  DWORD level;
  DWORD command;
  BOOL applied;
};

// Why a FindNextPrinterChangeNotification call gave what it gave.
enum class FetchOutcome : DWORD { Data = 0, Failed, Discarded, NoBlock };

struct FetchRecord {
  int printer;
  BOOL refreshAsked;   // PRINTER_NOTIFY_OPTIONS_REFRESH in the call's options
  FetchOutcome outcome;
  DWORD entries;
  DWORD jobs;          // distinct jobs among the entries
};

struct State {
  // Where the spooler keeps each queued job's spool and shadow files; empty:
  // it keeps none.
  WCHAR spoolDirectory[MAX_PATH];
  DWORD lastJobId;
  DWORD lastHandleSerial;
  DWORD lastNotificationSerial;
  DWORD run;    // counts the spooler's restarts
  BOOL down;    // the spooler is stopped: no call reaches it
  PrinterSlot printers[kMaxPrinters];
  JobSlot jobs[kMaxJobs];
  PrinterHandleSlot printerHandles[kMaxPrinterHandles];
  NotificationSlot notifications[kMaxNotifications];
  BlockSlot blocks[kMaxBlocks];
  DWORD commandCount;   // may exceed kMaxCommands; only the first are kept
  CommandRecord commands[kMaxCommands];
  DWORD fetchCount;
  FetchRecord fetches[kMaxFetches];
  DWORD enumJobsCalls;
  DWORD getJobCalls;
  // What the code under test did wrong.
  DWORD blocksGiven;
  DWORD blocksFreed;
  DWORD badFrees;
  DWORD badPrinterCloses;
  DWORD badNotificationCloses;
  DWORD badHandleUses;
  DWORD tableFull;
  // Faults to inject into the next calls.
  DWORD failNextFetches;
  DWORD discardNextFetches;
  DWORD failNextEnumJobs;
  DWORD failNextSetJobs;
};

}  // namespace spool
}  // namespace sim
