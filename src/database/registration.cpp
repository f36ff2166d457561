#include "database/registration.h"

#include <cstring>
#include <new>

#include "database/append_seam.h"
#include "database/com_errors.h"
#include "database/field_text.h"
#include "database/record_classes.h"
#include "database/recordset.h"

namespace {

// Where a registration finds its table's name and id in its record.
template <class TRecord, size_t N>
struct NAME_TABLE {
  const char* pszTable;
  const char* pszSource;   // selects rows by name, the name as parameter
  size_t cbWidth;
  char (TRecord::*szName)[N];
  DWORD TRecord::*dwNameStatus;
  int32_t TRecord::*lId;
  DWORD TRecord::*dwIdStatus;
};

// The id of the first row with the name, or -1; the recordset stays open
// (and the connection held) for an append to its table.
template <class TRecord, size_t N>
int32_t Lookup(const ConnectionPtr& pConnection, const NAME_TABLE<TRecord, N>& table,
               const std::string& name, CRecordset& recordset, TRecord& record) {
  record.*table.dwIdStatus = kStatusUnset;
  recordset.Open(table.pszSource, pConnection, {name});
  recordset.BindToRecordset(&record);
  return record.*table.dwIdStatus == adFldOK ? record.*table.lId : -1;
}

template <class TRecord, size_t N>
int Register(const ConnectionPtr& pConnection, CNameIdCache& cache,
             const NAME_TABLE<TRecord, N>& table, const char* pszName,
             int32_t& lId, int bInsert) {
  lId = -1;
  if (!pszName) {
    PassErrorInfo(nullptr);
    return E_POINTER;
  }
  const std::string name = CutToWidth(pszName, table.cbWidth);
  int32_t lCached = -1;
  if (cache.FindId(name, &lCached)) {
    lId = lCached;
    return 0;
  }

  try {
    TRecord record;
    CRecordset recordset;
    lId = Lookup(pConnection, table, name, recordset, record);
    if (lId == -1 && bInsert) {
      char* pszField = record.*table.szName;
      std::memset(pszField, 0, N);
      std::memcpy(pszField, name.data(), name.size());
      PrepareForAppend(record);
      RunBeforeAppendSeam(table.pszTable);
      try {
        recordset.AddNew(&record);
        if (record.*table.dwIdStatus == adFldOK &&
            record.*table.dwNameStatus == adFldOK) {
          lId = record.*table.lId;
        }
      } catch (const _com_error& e) {
        // Another service appended the name since the lookup, and the
        // unique key refused ours: that service's row is the name's. When
        // no row is there, the refusal had another cause and stands.
        if (!IsConstraintViolation(e)) throw;
        TRecord found;
        CRecordset again;
        lId = Lookup(pConnection, table, name, again, found);
        if (lId == -1) throw;
      }
    }
    cache.Store(name, lId);
    recordset.Close();
    return 0;
  } catch (const _com_error& e) {
    PassErrorInfo(&e);
    return e.Error();
  } catch (const std::bad_alloc&) {
    PassErrorInfo(nullptr);
    return E_OUTOFMEMORY;
  }
}

}  // namespace

int RegisterComputer(ConnectionPtr pConnection, CRegistrationCaches& caches,
                     const char* pszName, int32_t& lIdComp, int bInsert) {
  static const NAME_TABLE<CComputerRecord, 20> table = {
      "COMPUTERS", "COMPUTERS WHERE CompName = ?", kComputerNameWidth,
      &CComputerRecord::szCompName, &CComputerRecord::dwCompNameStatus,
      &CComputerRecord::lIdComp, &CComputerRecord::dwIdCompStatus};
  return Register(pConnection, caches.computers, table, pszName, lIdComp, bInsert);
}

int RegisterPrinter(ConnectionPtr pConnection, CRegistrationCaches& caches,
                    const char* pszName, int32_t& lIdPrinter, int bInsert) {
  static const NAME_TABLE<CPrinterRecord, 256> table = {
      "PRINTERS", "PRINTERS WHERE PrnName = ?", kPrinterNameWidth,
      &CPrinterRecord::szPrnName, &CPrinterRecord::dwPrnNameStatus,
      &CPrinterRecord::lIdPrinter, &CPrinterRecord::dwIdPrinterStatus};
  return Register(pConnection, caches.printers, table, pszName, lIdPrinter, bInsert);
}
