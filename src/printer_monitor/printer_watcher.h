#pragma once

#include <windows.h>

// Waits for the spooler's change notifications of the watched printers and applies the job-control rules.
// Started by the worker body with the service object as its argument.
DWORD WINAPI WatchPrinters(LPVOID pService);
