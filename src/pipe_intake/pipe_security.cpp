#include "pipe_intake/pipe_security.h"

#include "service_core/win_owners.h"

namespace {

// The thread acts as the pipe's client from construction to Revert or
// destruction, whichever comes first.
class CClientImpersonation {
 public:
  explicit CClientImpersonation(HANDLE hPipe)
      : m_bActive(ImpersonateNamedPipeClient(hPipe) != FALSE) {}
  ~CClientImpersonation() { Revert(); }
  CClientImpersonation(const CClientImpersonation&) = delete;
  CClientImpersonation& operator=(const CClientImpersonation&) = delete;

  bool Active() const { return m_bActive; }
  // False when the thread could not return to its own identity.
  bool Revert() {
    if (!m_bActive) return true;
    m_bActive = false;
    return RevertToSelf() != FALSE;
  }

 private:
  bool m_bActive;
};

bool TokenIsMember(HANDLE hToken, WELL_KNOWN_SID_TYPE type) {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD cb = sizeof(sid);
  if (!CreateWellKnownSid(type, nullptr, sid, &cb)) return false;
  BOOL bMember = FALSE;
  return CheckTokenMembership(hToken, sid, &bMember) && bMember;
}

}  // namespace

bool PipeClientIsAdministrator(HANDLE hPipe) {
  UniqueHandle token;
  {
    CClientImpersonation impersonation(hPipe);
    if (!impersonation.Active()) return false;
    // Opened as the service itself: only the token is the client's.
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put())) return false;
    if (!impersonation.Revert()) return false;
  }
  return TokenIsMember(token.get(), WinBuiltinAdministratorsSid) ||
         TokenIsMember(token.get(), WinLocalSystemSid);
}
