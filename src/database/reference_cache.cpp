// Reference tables held in memory by the service object: permissions,
// printers and users, loaded once and kept current by the service itself.
#include <cstring>
#include <new>

#include "database/com_errors.h"
#include "database/field_text.h"
#include "database/record_classes.h"
#include "database/recordset.h"
#include "service_core/quillon_service.h"

namespace {

constexpr DWORD kEveryone = static_cast<DWORD>(-1);

}  // namespace

int CQuillonService::LoadPermissionTable() {
  try {
    CPermissionRecord record;
    record.dwIdPrinterStatus = kStatusUnset;
    record.dwIdUserStatus = kStatusUnset;
    record.dwActionStatus = kStatusUnset;
    CRecordset recordset;
    recordset.Open("PRNPERMISSIONS", pConnection);
    recordset.BindToRecordset(&record);
    while (!recordset.IsEOF()) {
      PERMISSION_ENTRY entry = {record.lIdUser, record.lIdPrinter, record.lAction};
      SetPermission(&entry);
      recordset.MoveNext();
    }
    recordset.Close();
    return 1;
  } catch (const _com_error&) {
    return 0;
  }
}

namespace {

// Fills one name cache from its table; what was read before a failure stays.
template <class TRecord, size_t N>
int LoadNames(const ConnectionPtr& pConnection, const char* pszTable,
              char (TRecord::*szName)[N], int32_t TRecord::*lId,
              CQuillonService* pService,
              void (CQuillonService::*pfnStore)(const char*, int32_t)) {
  try {
    TRecord record;
    CRecordset recordset;
    recordset.Open(pszTable, pConnection);
    recordset.BindToRecordset(&record);
    while (!recordset.IsEOF()) {
      (pService->*pfnStore)(record.*szName, record.*lId);
      recordset.MoveNext();
    }
    recordset.Close();
    return 1;
  } catch (const _com_error&) {
    return 0;
  }
}

}  // namespace

int CQuillonService::LoadPrinterTable() {
  {
    std::unique_lock<std::shared_mutex> lock(m_printersLock);
    mapPrinters.clear();
  }
  return LoadNames(pConnection, "PRINTERS", &CPrinterRecord::szPrnName,
                   &CPrinterRecord::lIdPrinter, this,
                   &CQuillonService::StorePrinter);
}

int CQuillonService::LoadUserTable() {
  {
    std::unique_lock<std::shared_mutex> lock(m_usersLock);
    mapUsers.clear();
  }
  return LoadNames(pConnection, "USERS", &CUserRecord::szUserName,
                   &CUserRecord::lIdUser, this, &CQuillonService::StoreUser);
}

void CQuillonService::SetPermission(const PERMISSION_ENTRY* pEntry) {
  if (!pEntry) return;
  std::unique_lock<std::shared_mutex> lock(m_permissionsLock);
  mapPermissions[static_cast<DWORD>(pEntry->idPrinter)]
                [static_cast<DWORD>(pEntry->idUser)] = *pEntry;
}

int CQuillonService::GetPermission(int32_t idPrinter, int32_t idUser,
                                   PERMISSION_ENTRY& entry) const {
  entry.idUser = idUser;
  entry.idPrinter = idPrinter;
  entry.Action = 0;
  std::shared_lock<std::shared_mutex> lock(m_permissionsLock);
  auto printer = mapPermissions.find(static_cast<DWORD>(idPrinter));
  if (printer != mapPermissions.end()) {
    auto rule = printer->second.find(static_cast<DWORD>(idUser));
    if (rule == printer->second.end()) rule = printer->second.find(kEveryone);
    if (rule != printer->second.end()) {
      entry = rule->second;
      return 1;
    }
  }
  // A rule for every printer and one particular user is never consulted.
  auto everyPrinter = mapPermissions.find(kEveryone);
  if (everyPrinter != mapPermissions.end()) {
    auto rule = everyPrinter->second.find(kEveryone);
    if (rule != everyPrinter->second.end()) entry = rule->second;
  }
  return 1;
}

int CQuillonService::AddUser(const char* pszUserName, int32_t& idUser) {
  if (!pszUserName) return 0;
  try {
    const std::string name = CutToWidth(pszUserName, kUserNameWidth);
    CUserRecord record;
    record.dwIdUserStatus = kStatusUnset;
    CRecordset recordset;
    // The bare table: the append neither reads nor holds its rows.
    recordset.Open("USERS", pConnection);
    std::memcpy(record.szUserName, name.data(), name.size());
    record.lIdUser = 1;
    record.dwIdUserStatus = adFldDefault;
    record.dwUserNameStatus = adFldOK;
    recordset.AddNew(&record);
    if (record.dwIdUserStatus == adFldOK && record.dwUserNameStatus == adFldOK) {
      idUser = record.lIdUser;
      StoreUser(name.c_str(), record.lIdUser);
    }
    recordset.Close();
    return 1;
  } catch (const _com_error&) {
    return 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

bool CQuillonService::FindPrinter(const char* pszName, int32_t& idPrinter) const {
  if (!pszName) return false;
  std::string name = CutToWidth(pszName, kPrinterNameWidth);
  std::shared_lock<std::shared_mutex> lock(m_printersLock);
  auto it = mapPrinters.find(name);
  if (it == mapPrinters.end()) return false;
  idPrinter = it->second;
  return true;
}

void CQuillonService::StorePrinter(const char* pszName, int32_t idPrinter) {
  if (!pszName) return;
  std::string name = CutToWidth(pszName, kPrinterNameWidth);
  std::unique_lock<std::shared_mutex> lock(m_printersLock);
  mapPrinters[name] = idPrinter;
}

bool CQuillonService::FindUser(const char* pszName, int32_t& idUser) const {
  if (!pszName) return false;
  std::string name = CutToWidth(pszName, kUserNameWidth);
  std::shared_lock<std::shared_mutex> lock(m_usersLock);
  auto it = mapUsers.find(name);
  if (it == mapUsers.end()) return false;
  idUser = it->second;
  return true;
}

void CQuillonService::StoreUser(const char* pszName, int32_t idUser) {
  if (!pszName) return;
  std::string name = CutToWidth(pszName, kUserNameWidth);
  std::unique_lock<std::shared_mutex> lock(m_usersLock);
  mapUsers[name] = idUser;
}
