// Accepts connections on the service's named pipe, one thread per connection.
#pragma once

#include <windows.h>

// Started by the worker body with the service object as its argument; ends
// at the stop, once every connection it started has ended (each ends
// promptly at the stop), with 0; -1 without a service object.
//
// The name belongs to the service (CPipeIntakeSettings: name, pause):
// - the first instance is created with FILE_FLAG_FIRST_PIPE_INSTANCE, so a
//   name that another program holds is not joined: that is reported
//   (event 115, once) and tried again after 1 s, 2 s, 4 s ... up to 30 s,
//   and the listener goes on (event 116 when it has the name again);
// - it always holds an instance: the next one is created before a
//   connected one goes to its connection thread, so the name never lapses
//   for another program to take;
// - instances carry CPipeSecurity's access list and refuse remote clients
//   (PIPE_REJECT_REMOTE_CLIENTS); up to 100 instances, 1024-byte buffers.
// Each connected instance is handed to a new ExtractDataFromPipe, and the
// listener pauses before the next, so at most one connection a second is
// served. A client that connected and went before it was seen costs
// nothing: the same instance waits again. An instance that fails is
// reported like a held name and replaced after the back-off.
DWORD WINAPI PipeListenerThread(LPVOID pService);

enum class PipeConnect { Connected, ClientGone, Stopped, Failed };

// Waits on a new overlapped instance for a client, or until hStop is set
// (the connect is then cancelled and has ended on return). hConnected is a
// manual-reset event for the connect's OVERLAPPED.
PipeConnect ConnectPipeClient(HANDLE hPipe, HANDLE hConnected, HANDLE hStop);
