// Reading back an object's access list, entry by entry, for the tests that
// check what the service lets other programs do with its event and pipe.
#pragma once

#include <windows.h>

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
