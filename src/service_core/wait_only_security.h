// Security for a named event that every program on the machine may wait on
// but only the service's own account and the administrators may change:
// Everyone gets SYNCHRONIZE alone; LocalSystem and the Administrators get
// full access. An event made with a null access list instead could be set,
// reset, or locked away (new access list, new owner) by any local user.
#pragma once

#include <windows.h>

#include "service_core/explicit_security.h"

class CWaitOnlySecurity : public CExplicitSecurity {
 public:
  CWaitOnlySecurity()
      : CExplicitSecurity({{true, WinWorldSid, SYNCHRONIZE},
                           {true, WinLocalSystemSid, EVENT_ALL_ACCESS},
                           {true, WinBuiltinAdministratorsSid, EVENT_ALL_ACCESS}},
                          false) {}
};
