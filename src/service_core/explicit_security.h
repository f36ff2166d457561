// Security attributes with an access list of the service's own choosing,
// built from well-known accounts: for the kernel objects and the pipe that
// other programs open, which a null access list would let any local user
// change, lock away or take over.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <vector>

struct ACCESS_ENTRY {
  bool bAllow;                 // false: a denying entry (list those first)
  WELL_KNOWN_SID_TYPE account;
  ACCESS_MASK mask;
};

class CExplicitSecurity {
 public:
  CExplicitSecurity(std::initializer_list<ACCESS_ENTRY> entries, bool bInheritHandle);
  CExplicitSecurity(const CExplicitSecurity&) = delete;
  CExplicitSecurity& operator=(const CExplicitSecurity&) = delete;

  // Null when the access list could not be built: the object then gets the
  // creator's default access list, which is narrower, never a null one.
  SECURITY_ATTRIBUTES* Attributes() { return m_bBuilt ? &m_attributes : nullptr; }

 private:
  std::vector<std::vector<BYTE>> m_sids;
  std::vector<BYTE> m_acl;
  SECURITY_DESCRIPTOR m_descriptor;
  SECURITY_ATTRIBUTES m_attributes;
  bool m_bBuilt;
};
