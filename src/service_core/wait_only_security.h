// Security for a named event that every program on the machine may wait on
// but only the service's own account and the administrators may change:
// Everyone gets SYNCHRONIZE alone; LocalSystem and the Administrators get
// full access. An event made with a null access list instead could be set,
// reset, or locked away (new access list, new owner) by any local user.
#pragma once

#include <windows.h>

#include <vector>

class CWaitOnlySecurity {
 public:
  CWaitOnlySecurity();
  CWaitOnlySecurity(const CWaitOnlySecurity&) = delete;
  CWaitOnlySecurity& operator=(const CWaitOnlySecurity&) = delete;

  // For CreateEvent; null when the access list could not be built, so that
  // the event gets the creator's default access list, which is narrower.
  SECURITY_ATTRIBUTES* Attributes() { return m_bBuilt ? &m_attributes : nullptr; }

 private:
  std::vector<BYTE> m_everyone, m_system, m_admins;
  std::vector<BYTE> m_acl;
  SECURITY_DESCRIPTOR m_descriptor;
  SECURITY_ATTRIBUTES m_attributes;
  bool m_bBuilt;
};
