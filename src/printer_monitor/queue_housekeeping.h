#pragma once

#include <windows.h>

// Keeps the queues of the GDI printers and the finished-job table clean; runs at the lowest priority.
// Started by the worker body with the service object as its argument.
DWORD WINAPI CleanQueues(LPVOID pService);
