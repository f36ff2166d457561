#include "database/reference_caches.h"

#include "database/field_text.h"

namespace {

constexpr DWORD kEveryone = static_cast<DWORD>(-1);

}  // namespace

bool CNameIdMap::Find(const char* pszName, int32_t& id) const {
  if (!pszName) return false;
  const std::string name = CutToWidth(pszName, m_cbWidth);
  std::shared_lock<std::shared_mutex> lock(m_lock);
  auto it = m_map.find(name);
  if (it == m_map.end()) return false;
  id = it->second;
  return true;
}

void CNameIdMap::Store(const char* pszName, int32_t id) {
  if (!pszName) return;
  std::string name = CutToWidth(pszName, m_cbWidth);
  std::unique_lock<std::shared_mutex> lock(m_lock);
  m_map[std::move(name)] = id;
}

void CNameIdMap::Clear() {
  std::unique_lock<std::shared_mutex> lock(m_lock);
  m_map.clear();
}

size_t CNameIdMap::Size() const {
  std::shared_lock<std::shared_mutex> lock(m_lock);
  return m_map.size();
}

std::map<std::string, int32_t> CNameIdMap::Snapshot() const {
  std::shared_lock<std::shared_mutex> lock(m_lock);
  return m_map;
}

void CPermissionMap::Set(const PERMISSION_ENTRY& entry) {
  std::unique_lock<std::shared_mutex> lock(m_lock);
  m_map[static_cast<DWORD>(entry.idPrinter)][static_cast<DWORD>(entry.idUser)] = entry;
}

PERMISSION_ENTRY CPermissionMap::Get(int32_t idPrinter, int32_t idUser) const {
  PERMISSION_ENTRY entry = {idUser, idPrinter, 0};
  std::shared_lock<std::shared_mutex> lock(m_lock);
  auto printer = m_map.find(static_cast<DWORD>(idPrinter));
  if (printer != m_map.end()) {
    auto rule = printer->second.find(static_cast<DWORD>(idUser));
    if (rule == printer->second.end()) rule = printer->second.find(kEveryone);
    if (rule != printer->second.end()) return rule->second;
  }
  auto everyPrinter = m_map.find(kEveryone);
  if (everyPrinter != m_map.end()) {
    auto rule = everyPrinter->second.find(kEveryone);
    if (rule != everyPrinter->second.end()) return rule->second;
  }
  return entry;
}

size_t CPermissionMap::RulesFor(int32_t idPrinter) const {
  std::shared_lock<std::shared_mutex> lock(m_lock);
  auto printer = m_map.find(static_cast<DWORD>(idPrinter));
  return printer == m_map.end() ? 0 : printer->second.size();
}

size_t CPermissionMap::Size() const {
  std::shared_lock<std::shared_mutex> lock(m_lock);
  size_t n = 0;
  for (const auto& printer : m_map) n += printer.second.size();
  return n;
}

void CPermissionMap::Clear() {
  std::unique_lock<std::shared_mutex> lock(m_lock);
  m_map.clear();
}

bool CNameIdCache::FindId(const std::string& name, int32_t* pId) const {
  std::shared_lock<std::shared_mutex> lock(m_lock);
  auto it = m_map.find(name);
  if (it == m_map.end() || it->second == -1) return false;
  *pId = it->second;
  return true;
}

void CNameIdCache::Store(const std::string& name, int32_t id) {
  std::unique_lock<std::shared_mutex> lock(m_lock);
  auto it = m_map.find(name);
  if (it == m_map.end()) {
    m_map.emplace(name, id);
  } else if (it->second == -1) {
    it->second = id;
  }
}

bool CNameIdCache::Contains(const std::string& name) const {
  std::shared_lock<std::shared_mutex> lock(m_lock);
  return m_map.count(name) != 0;
}

bool CPairCache::Contains(DWORD dwPrinter, DWORD dwMember) const {
  std::shared_lock<std::shared_mutex> lock(m_lock);
  return ContainsLocked(dwPrinter, dwMember);
}

void CPairCache::Add(DWORD dwPrinter, DWORD dwMember) {
  std::unique_lock<std::shared_mutex> lock(m_lock);
  if (!ContainsLocked(dwPrinter, dwMember)) m_pairs.emplace(dwPrinter, dwMember);
}

bool CPairCache::ContainsLocked(DWORD dwPrinter, DWORD dwMember) const {
  auto range = m_pairs.equal_range(dwPrinter);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second == dwMember) return true;
  }
  return false;
}
