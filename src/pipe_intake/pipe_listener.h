#pragma once

#include <windows.h>

// Accepts connections on the service's named pipe, one thread per connection.
// Started by the worker body with the service object as its argument.
DWORD WINAPI PipeListenerThread(LPVOID pService);
