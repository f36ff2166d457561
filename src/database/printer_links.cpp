#include "database/printer_links.h"

#include <cstring>
#include <new>
#include <string>

#include "database/append_seam.h"
#include "database/com_errors.h"
#include "database/record_classes.h"
#include "database/recordset.h"

namespace {

// Whether the source selects a row for the pair; the recordset stays open
// (and the connection held) for an append to its table.
bool LinkExists(const ConnectionPtr& pConnection, const char* pszSource,
                int32_t lIdPrinter, int32_t lIdMember, CRecordset& recordset,
                CPrinterLinkRecord& record) {
  record.dwIdPrinterStatus = kStatusUnset;
  record.dwIdMemberStatus = kStatusUnset;
  recordset.Open(pszSource, pConnection, {lIdPrinter, lIdMember});
  recordset.BindToRecordset(&record);
  return record.dwIdPrinterStatus == adFldOK && record.dwIdMemberStatus == adFldOK;
}

}  // namespace

int EnsurePrinterLink(ConnectionPtr pConnection, const char* pszSource,
                      CPairCache& cache, int32_t lIdPrinter, int32_t lIdMember) {
  const DWORD dwPrinter = static_cast<DWORD>(lIdPrinter);
  const DWORD dwMember = static_cast<DWORD>(lIdMember);
  if (cache.Contains(dwPrinter, dwMember)) return 0;
  if (!pszSource) return E_POINTER;

  try {
    CPrinterLinkRecord record;
    CRecordset recordset;
    if (!LinkExists(pConnection, pszSource, lIdPrinter, lIdMember, recordset, record)) {
      record.lIdPrinter = lIdPrinter;
      record.lIdMember = lIdMember;
      PrepareForAppend(record);
      RunBeforeAppendSeam(std::string(pszSource, std::strcspn(pszSource, " ")).c_str());
      try {
        recordset.AddNew(&record);
      } catch (const _com_error& e) {
        // Another service appended the pair since the lookup, and the
        // unique key refused ours; without the pair there, the refusal
        // had another cause and stands.
        if (!IsConstraintViolation(e)) throw;
        CPrinterLinkRecord found;
        CRecordset again;
        if (!LinkExists(pConnection, pszSource, lIdPrinter, lIdMember, again, found)) throw;
      }
    }
    cache.Add(dwPrinter, dwMember);
    recordset.Close();
    return 0;
  } catch (const _com_error& e) {
    return e.Error();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

int EnsurePrinterUser(ConnectionPtr pConnection, CRegistrationCaches& caches,
                      int32_t lIdPrinter, int32_t lIdUser) {
  return EnsurePrinterLink(pConnection, "PRNUSERS WHERE idPrinter = ? AND idUser = ?",
                           caches.printerUsers, lIdPrinter, lIdUser);
}

int EnsurePrinterComputer(ConnectionPtr pConnection, CRegistrationCaches& caches,
                          int32_t lIdPrinter, int32_t lIdComp) {
  return EnsurePrinterLink(pConnection, "PRNCOMPS WHERE idPrinter = ? AND idComp = ?",
                           caches.printerComputers, lIdPrinter, lIdComp);
}
