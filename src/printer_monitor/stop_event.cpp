#include "printer_monitor/stop_event.h"

UniqueHandle DuplicateStopEvent(HANDLE hStop) {
  HANDLE hCopy = nullptr;
  if (!hStop || !DuplicateHandle(GetCurrentProcess(), hStop, GetCurrentProcess(), &hCopy,
                                 SYNCHRONIZE, FALSE, 0)) {
    return UniqueHandle();
  }
  return UniqueHandle(hCopy);
}
