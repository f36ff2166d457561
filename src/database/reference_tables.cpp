#include "database/reference_tables.h"

#include <cstring>
#include <new>

#include "database/append_seam.h"
#include "database/com_errors.h"
#include "database/field_text.h"
#include "database/record_classes.h"
#include "database/recordset.h"

int LoadPermissionRows(const ConnectionPtr& pConnection, CPermissionMap& permissions) {
  try {
    CPermissionRecord record;
    record.dwIdPrinterStatus = kStatusUnset;
    record.dwIdUserStatus = kStatusUnset;
    record.dwActionStatus = kStatusUnset;
    CRecordset recordset;
    recordset.Open("PRNPERMISSIONS", pConnection);
    recordset.BindToRecordset(&record);
    while (!recordset.IsEOF()) {
      permissions.Set({record.lIdUser, record.lIdPrinter, record.lAction});
      recordset.MoveNext();
    }
    recordset.Close();
    return 1;
  } catch (const _com_error&) {
    return 0;
  }
}

namespace {

// Fills one name map from its table; what was read before a failure stays.
template <class TRecord, size_t N>
int LoadNames(const ConnectionPtr& pConnection, const char* pszTable,
              char (TRecord::*szName)[N], int32_t TRecord::*lId, CNameIdMap& names) {
  names.Clear();
  try {
    TRecord record;
    CRecordset recordset;
    recordset.Open(pszTable, pConnection);
    recordset.BindToRecordset(&record);
    while (!recordset.IsEOF()) {
      names.Store(record.*szName, record.*lId);
      recordset.MoveNext();
    }
    recordset.Close();
    return 1;
  } catch (const _com_error&) {
    return 0;
  }
}

}  // namespace

int LoadPrinterRows(const ConnectionPtr& pConnection, CNameIdMap& printers) {
  return LoadNames(pConnection, "PRINTERS", &CPrinterRecord::szPrnName,
                   &CPrinterRecord::lIdPrinter, printers);
}

int LoadUserRows(const ConnectionPtr& pConnection, CNameIdMap& users) {
  return LoadNames(pConnection, "USERS", &CUserRecord::szUserName,
                   &CUserRecord::lIdUser, users);
}

int AppendUser(const ConnectionPtr& pConnection, CNameIdMap& users,
               const char* pszUserName, int32_t& idUser) {
  if (!pszUserName) return 0;
  try {
    const std::string name = CutToWidth(pszUserName, kUserNameWidth);
    CUserRecord record;
    std::memcpy(record.szUserName, name.data(), name.size());
    PrepareForAppend(record);
    CRecordset recordset;
    // The bare table: the append neither reads nor holds its rows.
    recordset.Open("USERS", pConnection);
    RunBeforeAppendSeam("USERS");
    try {
      recordset.AddNew(&record);
    } catch (const _com_error& e) {
      // The unique key holds the name already (another service appended
      // it, or it was never loaded): that row is the user's. Without the
      // row, the refusal had another cause and stands.
      if (!IsConstraintViolation(e)) throw;
      record.dwIdUserStatus = kStatusUnset;
      CRecordset existing;
      existing.Open("USERS WHERE UserName = ?", pConnection, {name});
      existing.BindToRecordset(&record);
      if (record.dwIdUserStatus != adFldOK) throw;
    }
    if (record.dwIdUserStatus == adFldOK && record.dwUserNameStatus == adFldOK) {
      idUser = record.lIdUser;
      users.Store(name.c_str(), record.lIdUser);
    }
    recordset.Close();
    return 1;
  } catch (const _com_error&) {
    return 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}
