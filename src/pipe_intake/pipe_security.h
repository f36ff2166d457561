// The security of the pipe: who may connect, create instances, and change
// rules.
#pragma once

#include <windows.h>

#include "pipe_intake/pipe_protocol.h"
#include "service_core/explicit_security.h"

// The pipe's access list. Every local user may connect and write a
// message (kPipeClientAccess); only LocalSystem and the Administrators may
// create instances of the name (FILE_CREATE_PIPE_INSTANCE), change its
// security or take it over. Network logons are denied, beside the pipe's
// own refusal of remote clients. The handle is inheritable, as before.
class CPipeSecurity : public CExplicitSecurity {
 public:
  CPipeSecurity()
      : CExplicitSecurity({{false, WinNetworkSid, FILE_ALL_ACCESS},
                           {true, WinWorldSid, kPipeEveryoneAccess},
                           {true, WinLocalSystemSid, FILE_ALL_ACCESS},
                           {true, WinBuiltinAdministratorsSid, FILE_ALL_ACCESS}},
                          true) {}

  // What Everyone is granted: what a client asks for, and no more.
  static constexpr ACCESS_MASK kPipeEveryoneAccess =
      FILE_GENERIC_READ | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES;
};

// True when the client at the other end of the connected server instance is
// a member of the Administrators group or is the local system account. The
// calling thread impersonates the client for as long as it takes to open its
// token and always reverts; false on every failure (a client that has sent
// nothing yet, or that allows only anonymous impersonation, included).
bool PipeClientIsAdministrator(HANDLE hPipe);
