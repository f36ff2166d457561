// Owner of a PRINTER_NOTIFY_INFO block that FindNextPrinterChangeNotification
// handed out: given back with FreePrinterNotifyInfo, once, unless released
// to the thread that takes it over.
#pragma once

#include <windows.h>
#include <winspool.h>

#include "service_core/win_owners.h"

namespace owners {
struct NotifyInfoTraits {
  static PPRINTER_NOTIFY_INFO Empty() { return nullptr; }
  static bool Held(PPRINTER_NOTIFY_INFO p) { return p != nullptr; }
  static void Free(PPRINTER_NOTIFY_INFO p) { FreePrinterNotifyInfo(p); }
};
}  // namespace owners

using NotifyInfoBlock = owners::Owner<PPRINTER_NOTIFY_INFO, owners::NotifyInfoTraits>;
