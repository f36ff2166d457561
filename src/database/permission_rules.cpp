#include "database/permission_rules.h"

#include <map>

#include "database/com_errors.h"
#include "database/record_classes.h"
#include "database/recordset.h"
#include "database/reference_caches.h"
#include "database/reference_tables.h"
#include "database/registration.h"
#include "database/transaction.h"

namespace {

std::map<int32_t, std::string> NamesById(const CNameIdMap& names) {
  std::map<int32_t, std::string> byId;
  for (const auto& named : names.Snapshot()) byId[named.second] = named.first;
  return byId;
}

std::string NameOf(const std::map<int32_t, std::string>& byId, int32_t id) {
  auto it = byId.find(id);
  return it == byId.end() ? std::string() : it->second;
}

// Removes the rows of the pair; how many there were.
size_t RemoveRulesOfPair(CConnection* pConn, int32_t idPrinter, int32_t idUser) {
  COdbcStatement stmt(pConn->Handle());
  stmt.Prepare(L"DELETE FROM PRNPERMISSIONS WHERE idPrinter = ? AND idUser = ?");
  std::vector<CParameterValue> values = {idPrinter, idUser};
  BindParameters(stmt, values);
  stmt.Execute();
  const SQLLEN nRows = stmt.RowCount();
  return nRows > 0 ? static_cast<size_t>(nRows) : 0;
}

}  // namespace

std::vector<NAMED_RULE> ListRules(const ConnectionPtr& pConnection) {
  CNameIdMap printers(kPrinterNameWidth), users(kUserNameWidth);
  if (!LoadPrinterRows(pConnection, printers) || !LoadUserRows(pConnection, users)) {
    RaiseComError(E_FAIL, L"PRINTERS or USERS cannot be read.");
  }
  const auto printerNames = NamesById(printers);
  const auto userNames = NamesById(users);
  std::vector<NAMED_RULE> rules;
  CPermissionRecord record;
  CRecordset recordset;
  recordset.Open("PRNPERMISSIONS", pConnection);
  recordset.BindToRecordset(&record);
  while (!recordset.IsEOF()) {
    NAMED_RULE rule;
    rule.entry = {record.lIdUser, record.lIdPrinter, record.lAction};
    rule.printer = NameOf(printerNames, record.lIdPrinter);
    rule.user = NameOf(userNames, record.lIdUser);
    rules.push_back(rule);
    recordset.MoveNext();
  }
  recordset.Close();
  return rules;
}

int32_t ResolvePrinter(const ConnectionPtr& pConnection, const std::string& name,
                       bool bRegister) {
  CNameIdMap printers(kPrinterNameWidth);
  if (!LoadPrinterRows(pConnection, printers)) {
    RaiseComError(E_FAIL, L"PRINTERS cannot be read.");
  }
  int32_t id = -1;
  if (printers.Find(name.c_str(), id)) return id;
  CRegistrationCaches caches;
  const int hr = RegisterPrinter(pConnection, caches, name.c_str(), id, bRegister ? 1 : 0);
  if (hr < 0) RaisePassedError(hr);
  return id;
}

int32_t ResolveUser(const ConnectionPtr& pConnection, const std::string& name, bool bRegister) {
  CNameIdMap users(kUserNameWidth);
  if (!LoadUserRows(pConnection, users)) RaiseComError(E_FAIL, L"USERS cannot be read.");
  int32_t id = -1;
  if (users.Find(name.c_str(), id) || !bRegister) return id;
  if (!AppendUser(pConnection, users, name.c_str(), id)) {
    RaiseComError(E_FAIL, L"The user cannot be added to USERS.");
  }
  return id;
}

size_t StoreRule(const ConnectionPtr& pConnection, const PERMISSION_ENTRY& rule) {
  CConnection* pConn = pConnection.operator->();
  std::lock_guard<std::recursive_mutex> lock(pConn->Mutex());
  return InTransaction(pConn, [&] {
    const size_t nReplaced = RemoveRulesOfPair(pConn, rule.idPrinter, rule.idUser);
    CPermissionRecord record;
    record.lIdPrinter = rule.idPrinter;
    record.lIdUser = rule.idUser;
    record.lAction = rule.Action;
    PrepareForAppend(record);
    CRecordset recordset;
    recordset.Open("PRNPERMISSIONS", pConnection);
    recordset.AddNew(&record);
    recordset.Close();
    return nReplaced;
  });
}

size_t DeleteRules(const ConnectionPtr& pConnection, int32_t idPrinter, int32_t idUser) {
  CConnection* pConn = pConnection.operator->();
  std::lock_guard<std::recursive_mutex> lock(pConn->Mutex());
  return RemoveRulesOfPair(pConn, idPrinter, idUser);
}
