#include "database/registration.h"

#include <cstring>
#include <new>

#include "database/com_errors.h"
#include "database/field_text.h"
#include "database/record_classes.h"
#include "database/recordset.h"

namespace {

// Where a registration finds its table's name and id in its record.
template <class TRecord, size_t N>
struct NAME_TABLE {
  const char* pszSource;   // selects rows by name, the name as parameter
  size_t cbWidth;
  char (TRecord::*szName)[N];
  DWORD TRecord::*dwNameStatus;
  int32_t TRecord::*lId;
  DWORD TRecord::*dwIdStatus;
};

template <class TRecord, size_t N>
int Register(const ConnectionPtr& pConnection, CNameIdCache& cache,
             const NAME_TABLE<TRecord, N>& table, const char* pszName,
             int32_t& lId, int bInsert) {
  lId = -1;
  if (!pszName) return E_POINTER;
  const std::string name = CutToWidth(pszName, table.cbWidth);
  int32_t lCached = -1;
  if (cache.FindId(name, &lCached)) {
    lId = lCached;
    return 0;
  }

  try {
    TRecord record;
    record.*table.dwIdStatus = kStatusUnset;
    CRecordset recordset;
    recordset.Open(table.pszSource, pConnection, {name});
    recordset.BindToRecordset(&record);
    if (record.*table.dwIdStatus == adFldOK) {
      lId = record.*table.lId;
    } else if (bInsert) {
      char* pszField = record.*table.szName;
      std::memset(pszField, 0, N);
      std::memcpy(pszField, name.data(), name.size());
      PrepareForAppend(record);
      recordset.AddNew(&record);
      if (record.*table.dwIdStatus == adFldOK &&
          record.*table.dwNameStatus == adFldOK) {
        lId = record.*table.lId;
      }
    }
    cache.Store(name, lId);
    recordset.Close();
    return 0;
  } catch (const _com_error& e) {
    return e.Error();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace

int RegisterComputer(ConnectionPtr pConnection, CRegistrationCaches& caches,
                     const char* pszName, int32_t& lIdComp, int bInsert) {
  static const NAME_TABLE<CComputerRecord, 20> table = {
      "COMPUTERS WHERE CompName = ?", kComputerNameWidth,
      &CComputerRecord::szCompName, &CComputerRecord::dwCompNameStatus,
      &CComputerRecord::lIdComp, &CComputerRecord::dwIdCompStatus};
  return Register(pConnection, caches.computers, table, pszName, lIdComp, bInsert);
}

int RegisterPrinter(ConnectionPtr pConnection, CRegistrationCaches& caches,
                    const char* pszName, int32_t& lIdPrinter, int bInsert) {
  static const NAME_TABLE<CPrinterRecord, 256> table = {
      "PRINTERS WHERE PrnName = ?", kPrinterNameWidth,
      &CPrinterRecord::szPrnName, &CPrinterRecord::dwPrnNameStatus,
      &CPrinterRecord::lIdPrinter, &CPrinterRecord::dwIdPrinterStatus};
  return Register(pConnection, caches.printers, table, pszName, lIdPrinter, bInsert);
}
