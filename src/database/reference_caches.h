// Every in-memory cache of the service's database work, in one place. Each
// cache carries its own lock, so no caller can reach its contents without
// it, and a hit never touches the database. None of them is ever held while
// the database is being waited for.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "database/permission_entry.h"

// mapPrinters and mapUsers: name (byte string, case-sensitive) to id. Names
// are cut to the width of their database field before they are used as keys,
// as the database holds them. A later store for a name overwrites its id.
class CNameIdMap {
 public:
  explicit CNameIdMap(size_t cbWidth) : m_cbWidth(cbWidth) {}
  // False for an unknown name (or a null pointer).
  bool Find(const char* pszName, int32_t& id) const;
  void Store(const char* pszName, int32_t id);
  void Clear();
  size_t Size() const;
  std::map<std::string, int32_t> Snapshot() const;

 private:
  const size_t m_cbWidth;
  mutable std::shared_mutex m_lock;
  std::map<std::string, int32_t> m_map;
};

// mapPermissions: printer id → (user id → rule); -1 stands for every printer
// or every user. Keys are the ids as unsigned 32-bit values.
class CPermissionMap {
 public:
  // Stores the rule under its own (printer, user) pair, replacing the rule
  // stored there before.
  void Set(const PERMISSION_ENTRY& entry);
  // The rule that applies to a job: the exact (printer, user) rule, else the
  // printer's rule for every user, else the rule for every printer and every
  // user, else {idUser, idPrinter, 0}. A rule for every printer and one
  // particular user is never consulted.
  PERMISSION_ENTRY Get(int32_t idPrinter, int32_t idUser) const;
  // The number of rules stored under the printer id.
  size_t RulesFor(int32_t idPrinter) const;
  size_t Size() const;
  void Clear();

 private:
  mutable std::shared_mutex m_lock;
  std::map<DWORD, std::map<DWORD, PERMISSION_ENTRY>> m_map;
};

// The private cache of a registration: name to id, where -1 means that no id
// is known. Unlike CNameIdMap, the first id found for a name stays, and a
// known id is never replaced by -1.
class CNameIdCache {
 public:
  // True when the name is cached with an id other than -1.
  bool FindId(const std::string& name, int32_t* pId) const;
  // Stores the id unless the name already has one.
  void Store(const std::string& name, int32_t id);
  bool Contains(const std::string& name) const;

 private:
  mutable std::shared_mutex m_lock;
  std::map<std::string, int32_t> m_map;
};

// (printer id, member id) pairs known to have a row in their link table.
class CPairCache {
 public:
  bool Contains(DWORD dwPrinter, DWORD dwMember) const;
  void Add(DWORD dwPrinter, DWORD dwMember);

 private:
  bool ContainsLocked(DWORD dwPrinter, DWORD dwMember) const;

  mutable std::shared_mutex m_lock;
  std::multimap<DWORD, DWORD> m_pairs;
};

// The caches of the computer and printer registrations and of the printer
// links. The service object owns one; they live as long as it does, across
// restarts of its run sequence, since ids never change.
struct CRegistrationCaches {
  CNameIdCache computers;          // RegisterComputer
  CNameIdCache printers;           // RegisterPrinter
  CPairCache printerUsers;         // EnsurePrinterUser (PRNUSERS)
  CPairCache printerComputers;     // EnsurePrinterComputer (PRNCOMPS)
};
