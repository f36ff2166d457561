// In-memory caches of what the registrations and links have resolved. Safe
// for concurrent readers and writers; a hit never touches the database.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>

// Name (byte string, case-sensitive) to id; -1 means no id is known.
class CNameIdCache {
 public:
  // True when the name is cached with an id other than -1.
  bool FindId(const std::string& name, int32_t* pId) const {
    std::shared_lock<std::shared_mutex> lock(m_lock);
    auto it = m_map.find(name);
    if (it == m_map.end() || it->second == -1) return false;
    *pId = it->second;
    return true;
  }
  // Stores the id unless the name already has one: the first id found for a
  // name stays, and a known id is never replaced by -1.
  void Store(const std::string& name, int32_t id) {
    std::unique_lock<std::shared_mutex> lock(m_lock);
    auto it = m_map.find(name);
    if (it == m_map.end()) {
      m_map.emplace(name, id);
    } else if (it->second == -1) {
      it->second = id;
    }
  }
  bool Contains(const std::string& name) const {
    std::shared_lock<std::shared_mutex> lock(m_lock);
    return m_map.count(name) != 0;
  }

 private:
  mutable std::shared_mutex m_lock;
  std::map<std::string, int32_t> m_map;
};

// (printer id, member id) pairs known to have a row in their link table.
class CPairCache {
 public:
  bool Contains(DWORD dwPrinter, DWORD dwMember) const {
    std::shared_lock<std::shared_mutex> lock(m_lock);
    return ContainsLocked(dwPrinter, dwMember);
  }
  void Add(DWORD dwPrinter, DWORD dwMember) {
    std::unique_lock<std::shared_mutex> lock(m_lock);
    if (!ContainsLocked(dwPrinter, dwMember)) m_pairs.emplace(dwPrinter, dwMember);
  }

 private:
  bool ContainsLocked(DWORD dwPrinter, DWORD dwMember) const {
    auto range = m_pairs.equal_range(dwPrinter);
    for (auto it = range.first; it != range.second; ++it) {
      if (it->second == dwMember) return true;
    }
    return false;
  }

  mutable std::shared_mutex m_lock;
  std::multimap<DWORD, DWORD> m_pairs;
};
