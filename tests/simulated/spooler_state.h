// The simulated spooler's whole state as one plain block of fixed size, so
// that the same bytes can live on the heap of a test program or in a named
// file mapping that the winspool.drv stand-in and a driving test program
// share across processes. All zero is a valid empty spooler.
#pragma once

#include <windows.h>

#include <cstdint>

namespace sim {
namespace spool {

constexpr int kMaxPrinters = 32;
constexpr int kMaxJobs = 256;
constexpr int kMaxPrinterHandles = 256;
constexpr int kMaxNotifications = 128;
constexpr int kMaxBlocks = 512;
constexpr int kMaxCommands = 1024;
constexpr int kMaxFetches = 1024;
constexpr int kMaxFields = 32;
constexpr int kNameChars = 256;
constexpr int kTextChars = 1024;

// A text of a job; without `present` the field is reported without data.
struct TextValue {
  BOOL present;
  char text[kTextChars];
};

struct PrinterSlot {
  BOOL inUse;
  BOOL refuseNotifications;   // FindFirstPrinterChangeNotification fails
  char name[kNameChars];
};

struct JobSlot {
  BOOL inUse;
  DWORD id;
  int printer;   // index into printers
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
  DEVMODEA devMode;
  BOOL hasSubmitted;
  SYSTEMTIME submitted;   // UTC
};

// Handle values are process-local: each record says whose it is.
struct PrinterHandleSlot {
  BOOL open;
  DWORD pid;
  uint64_t value;
  int printer;
};

struct NotificationSlot {
  BOOL open;
  DWORD pid;
  uint64_t value;     // the event handle in the owner's process
  DWORD serial;       // names the event for other processes
  int printer;
  DWORD changes;      // PRINTER_CHANGE_* seen since the last fetch
  DWORD fieldCount;   // JOB_NOTIFY_TYPE fields asked for, in order
  WORD fields[kMaxFields];
};

struct BlockSlot {
  BOOL out;
  DWORD pid;
  uint64_t address;
  DWORD bytes;
};

struct CommandRecord {
  char printer[kNameChars];
  DWORD jobId;
  DWORD level;
  DWORD command;
  BOOL applied;
};

// Why a FindNextPrinterChangeNotification call gave what it gave.
enum class FetchOutcome : DWORD { Data = 0, Failed, Discarded, Empty, NoBlock };

struct FetchRecord {
  int printer;
  BOOL refreshAsked;   // PRINTER_NOTIFY_OPTIONS_REFRESH in the call's options
  FetchOutcome outcome;
  DWORD entries;
};

struct State {
  DWORD lastJobId;
  DWORD lastHandleSerial;
  DWORD lastNotificationSerial;
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
  DWORD emptyNextFetches;
  DWORD failNextEnumJobs;
};

}  // namespace spool
}  // namespace sim
