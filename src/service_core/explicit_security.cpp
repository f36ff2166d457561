#include "service_core/explicit_security.h"

CExplicitSecurity::CExplicitSecurity(std::initializer_list<ACCESS_ENTRY> entries,
                                     bool bInheritHandle)
    : m_descriptor(), m_attributes(), m_bBuilt(false) {
  DWORD cbAcl = sizeof(ACL);
  for (const ACCESS_ENTRY& entry : entries) {
    DWORD cb = SECURITY_MAX_SID_SIZE;
    std::vector<BYTE> sid(cb, 0);
    if (!CreateWellKnownSid(entry.account, nullptr, sid.data(), &cb)) return;
    sid.resize(cb);
    // Allowed and denied entries have the same layout.
    cbAcl += static_cast<DWORD>(sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + cb);
    m_sids.push_back(std::move(sid));
  }
  m_acl.assign(cbAcl, 0);
  PACL pAcl = reinterpret_cast<PACL>(m_acl.data());
  if (!InitializeAcl(pAcl, cbAcl, ACL_REVISION)) return;
  size_t i = 0;
  for (const ACCESS_ENTRY& entry : entries) {
    void* pSid = m_sids[i++].data();
    if (!(entry.bAllow ? AddAccessAllowedAce(pAcl, ACL_REVISION, entry.mask, pSid)
                       : AddAccessDeniedAce(pAcl, ACL_REVISION, entry.mask, pSid))) {
      return;
    }
  }
  if (!InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&m_descriptor, TRUE, pAcl, FALSE)) {
    return;
  }
  m_attributes.nLength = sizeof(m_attributes);
  m_attributes.lpSecurityDescriptor = &m_descriptor;
  m_attributes.bInheritHandle = bInheritHandle ? TRUE : FALSE;
  m_bBuilt = true;
}
