// Reading back an object's access list, entry by entry, for the tests that
// check what the service lets other programs do with its event and pipe.
#pragma once

#include <windows.h>
#include <aclapi.h>

#include <sstream>
#include <string>

#include "service_core/win_owners.h"

// What a DACL's entries allow and deny one well-known account.
struct ACCOUNT_ACCESS {
  ACCESS_MASK allowed = 0;
  ACCESS_MASK denied = 0;
};

inline ACCOUNT_ACCESS AccessOf(PACL pDacl, WELL_KNOWN_SID_TYPE type) {
  ACCOUNT_ACCESS access;
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD cb = sizeof(sid);
  if (!CreateWellKnownSid(type, nullptr, sid, &cb)) return access;
  for (DWORD i = 0; pDacl && i < pDacl->AceCount; ++i) {
    ACE_HEADER* pAce = nullptr;
    if (!GetAce(pDacl, i, reinterpret_cast<void**>(&pAce))) continue;
    // Allowed and denied entries share their layout.
    auto* pEntry = reinterpret_cast<ACCESS_ALLOWED_ACE*>(pAce);
    if (pAce->AceType == ACCESS_ALLOWED_ACE_TYPE && EqualSid(&pEntry->SidStart, sid)) {
      access.allowed |= pEntry->Mask;
    } else if (pAce->AceType == ACCESS_DENIED_ACE_TYPE && EqualSid(&pEntry->SidStart, sid)) {
      access.denied |= pEntry->Mask;
    }
  }
  return access;
}

// The entries of any kind but a plain "allowed" one.
inline DWORD EntriesNotAllowing(PACL pDacl) {
  DWORD n = 0;
  for (DWORD i = 0; pDacl && i < pDacl->AceCount; ++i) {
    ACE_HEADER* pAce = nullptr;
    if (GetAce(pDacl, i, reinterpret_cast<void**>(&pAce)) && pAce->AceType != ACCESS_ALLOWED_ACE_TYPE) {
      ++n;
    }
  }
  return n;
}

// What is wrong with the access list that a client of the service's pipe
// reads back, as the service means it (pipe_intake/pipe_security.h): empty
// when there is one, Everyone may write a message but neither create
// instances nor change or take the pipe, network logons are denied, and
// LocalSystem and the Administrators have full access.
inline std::string PipeAccessListFaults(HANDLE hClient) {
  PACL pDacl = nullptr;
  LocalBuffer<void> descriptor;
  if (GetSecurityInfo(hClient, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                      &pDacl, nullptr, descriptor.put()) != ERROR_SUCCESS) {
    return "the access list cannot be read";
  }
  if (!pDacl) return "a null access list: anyone may create instances of the name";
  std::ostringstream faults;
  faults << std::hex;
  const ACCESS_MASK everyone = AccessOf(pDacl, WinWorldSid).allowed;
  if (!(everyone & FILE_WRITE_DATA)) faults << "Everyone may not write a message; ";
  for (ACCESS_MASK forbidden : {ACCESS_MASK(FILE_CREATE_PIPE_INSTANCE), ACCESS_MASK(WRITE_DAC),
                                ACCESS_MASK(WRITE_OWNER), ACCESS_MASK(DELETE)}) {
    if (everyone & forbidden) faults << "Everyone may " << forbidden << "; ";
  }
  if (AccessOf(pDacl, WinNetworkSid).denied != FILE_ALL_ACCESS) {
    faults << "network logons are not denied; ";
  }
  if (EntriesNotAllowing(pDacl) != 1) faults << "denying entries beyond the network's; ";
  for (WELL_KNOWN_SID_TYPE owner : {WinLocalSystemSid, WinBuiltinAdministratorsSid}) {
    if (AccessOf(pDacl, owner).allowed != FILE_ALL_ACCESS) faults << "account " << owner << " lacks full access; ";
  }
  return faults.str();
}
