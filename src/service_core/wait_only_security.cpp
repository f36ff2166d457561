#include "service_core/wait_only_security.h"

namespace {

bool MakeSid(WELL_KNOWN_SID_TYPE type, std::vector<BYTE>& sid) {
  DWORD cb = SECURITY_MAX_SID_SIZE;
  sid.assign(cb, 0);
  if (!CreateWellKnownSid(type, nullptr, sid.data(), &cb)) return false;
  sid.resize(cb);
  return true;
}

DWORD AceSize(const std::vector<BYTE>& sid) {
  return static_cast<DWORD>(sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + sid.size());
}

}  // namespace

CWaitOnlySecurity::CWaitOnlySecurity()
    : m_descriptor(), m_attributes(), m_bBuilt(false) {
  if (!MakeSid(WinWorldSid, m_everyone) || !MakeSid(WinLocalSystemSid, m_system) ||
      !MakeSid(WinBuiltinAdministratorsSid, m_admins)) {
    return;
  }
  const DWORD cbAcl = static_cast<DWORD>(sizeof(ACL)) + AceSize(m_everyone) +
                      AceSize(m_system) + AceSize(m_admins);
  m_acl.assign(cbAcl, 0);
  PACL pAcl = reinterpret_cast<PACL>(m_acl.data());
  if (!InitializeAcl(pAcl, cbAcl, ACL_REVISION) ||
      !AddAccessAllowedAce(pAcl, ACL_REVISION, SYNCHRONIZE, m_everyone.data()) ||
      !AddAccessAllowedAce(pAcl, ACL_REVISION, EVENT_ALL_ACCESS, m_system.data()) ||
      !AddAccessAllowedAce(pAcl, ACL_REVISION, EVENT_ALL_ACCESS, m_admins.data()) ||
      !InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&m_descriptor, TRUE, pAcl, FALSE)) {
    return;
  }
  m_attributes.nLength = sizeof(m_attributes);
  m_attributes.lpSecurityDescriptor = &m_descriptor;
  m_attributes.bInheritHandle = FALSE;
  m_bBuilt = true;
}
