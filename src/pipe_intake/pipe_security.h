// The security of the pipe: who may connect, and who may change rules.
#pragma once

#include <windows.h>

// Security attributes with a null DACL, so that every local user may connect
// to the pipe; the handle is inheritable. Valid while the object lives.
class CNullDaclSecurity {
 public:
  CNullDaclSecurity();
  CNullDaclSecurity(const CNullDaclSecurity&) = delete;
  CNullDaclSecurity& operator=(const CNullDaclSecurity&) = delete;
  // Null when the descriptor could not be built.
  SECURITY_ATTRIBUTES* Attributes();

 private:
  SECURITY_DESCRIPTOR m_descriptor;
  SECURITY_ATTRIBUTES m_attributes;
  bool m_bValid;
};

// True when the client at the other end of the connected server instance is
// a member of the Administrators group or is the local system account. The
// calling thread impersonates the client for as long as it takes to open its
// token and always reverts; false on every failure (a client that has sent
// nothing yet, or that allows only anonymous impersonation, included).
bool PipeClientIsAdministrator(HANDLE hPipe);
