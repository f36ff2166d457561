// Reads a block of a printer change notification as Windows writes it: the
// PRINTER_NOTIFY_INFO of FindNextPrinterChangeNotification, which has no
// ANSI form. Its texts are UTF-16 with cbBuf in bytes, its device mode a
// DEVMODEW, its submission time a SYSTEMTIME in UTC; a number is the
// entry's first data word. The texts are taken as they came (the record's
// fields are UTF-16 too), bounded by cbBuf and by the record's widths; a
// text without its terminator ends at cbBuf.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <vector>

#include "job_accounting/job_facts.h"

struct NOTIFY_READING {
  // PRINTER_NOTIFY_INFO_DISCARDED: notifications were lost, and no more
  // come until a fetch asks for a refresh.
  bool bDiscarded = false;
  // One element per job that the block mentions, in the order of its first
  // entry, with the facts its entries told; a later entry for a field
  // replaces an earlier one (the last entry holds the current data).
  std::vector<JOB_FACTS> jobs;
};

// Entries of another type than JOB_NOTIFY_TYPE, and job fields the record
// does not use, are passed over. A text entry without data, or with an
// empty text, tells "Unknown user", "Unknown document" or "Unknown
// computer"; a device mode that is not one (see ReadDeviceMode) tells
// nothing; a submission entry without a time tells the current time.
NOTIFY_READING ReadNotifyBlock(const PRINTER_NOTIFY_INFO& info);
