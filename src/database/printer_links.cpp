#include "database/printer_links.h"

#include <new>

#include "database/com_errors.h"
#include "database/record_classes.h"
#include "database/recordset.h"

int EnsurePrinterLink(ConnectionPtr pConnection, const char* pszSource,
                      CPairCache& cache, int32_t lIdPrinter, int32_t lIdMember) {
  const DWORD dwPrinter = static_cast<DWORD>(lIdPrinter);
  const DWORD dwMember = static_cast<DWORD>(lIdMember);
  if (cache.Contains(dwPrinter, dwMember)) return 0;
  if (!pszSource) return E_POINTER;

  try {
    CPrinterLinkRecord record;
    record.dwIdPrinterStatus = kStatusUnset;
    record.dwIdMemberStatus = kStatusUnset;
    CRecordset recordset;
    recordset.Open(pszSource, pConnection, {lIdPrinter, lIdMember});
    recordset.BindToRecordset(&record);
    if (record.dwIdPrinterStatus != adFldOK || record.dwIdMemberStatus != adFldOK) {
      record.lIdPrinter = lIdPrinter;
      record.lIdMember = lIdMember;
      PrepareForAppend(record);
      recordset.AddNew(&record);
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
