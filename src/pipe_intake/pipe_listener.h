// Accepts connections on the service's named pipe, one thread per connection.
#pragma once

#include <windows.h>

// Started by the worker body with the service object as its argument. Creates
// one instance at a time (CPipeIntakeSettings: name, pause; null DACL, up to
// 100 instances, 1024-byte buffers), waits for a client together with the
// stop event, hands the connected instance to a new ExtractDataFromPipe and
// pauses before the next, so at most one connection a second is accepted.
// Returns 0 at stop, once every connection it started has ended (each ends
// promptly at the stop); -1 without a service object, or when an instance
// cannot be created or connected (reported as event 110). A client that
// connected and went before it was seen costs only its instance.
DWORD WINAPI PipeListenerThread(LPVOID pService);

enum class PipeConnect { Connected, ClientGone, Stopped, Failed };

// Waits on a new overlapped instance for a client, or until hStop is set
// (the connect is then cancelled and has ended on return). hConnected is a
// manual-reset event for the connect's OVERLAPPED.
PipeConnect ConnectPipeClient(HANDLE hPipe, HANDLE hConnected, HANDLE hStop);
