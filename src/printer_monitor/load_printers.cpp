// CQuillonService::LoadPrinters: the watched printers from the two list
// files beside the executable (the current directory).
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "printer_monitor/ini_file.h"
#include "printer_monitor/prn_obj.h"
#include "service_core/exc.h"
#include "service_core/quillon_service.h"

namespace {

constexpr const char kBadIniFile[] = "Bad ini file";

}  // namespace

void CQuillonService::AddListedPrinters(CIniFile& list, DWORD dwKind) {
  char szEntry[kListLineBuffer];
  while (list.GetNextLine(szEntry, sizeof(szEntry))) {
    try {
      CPrnObj printer(szEntry, dwKind, FALSE);
      try {
        m_printers.push_back(printer);
      } catch (...) {
        printer.Close();   // the list never took it: nobody else would
        throw;
      }
      // One that does not open now is kept, unopened: the watcher tries it
      // again now and then.
      m_printers.back().Open();
    } catch (CExc* pExc) {
      std::unique_ptr<CExc> owned(pExc);
      ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_PRINTER_INIT, szEntry, owned->Message());
    }
  }
}

BOOL CQuillonService::LoadPrinters() {
  std::unique_lock<std::shared_mutex> lock(m_printersLock);
  int nNormal = 0;
  try {
    CIniFile list(kPrinterListFile, "a+");
    nNormal = list.GetCount();
    if (nNormal == 0) ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_ERROR, kBadIniFile);
    m_printers.clear();
    AddListedPrinters(list, PRN_NORMAL);
  } catch (const BadIniFile&) {
    ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_ERROR, kBadIniFile);
    nNormal = 0;
  }

  try {
    CIniFile list(kGdiPrinterListFile, "a+");
    int nGdi = list.GetCount();
    if (nGdi == 0 && nNormal == 0) {
      ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_ERROR, kBadIniFile);
      return FALSE;
    }
    AddListedPrinters(list, PRN_GDI);
  } catch (const BadIniFile&) {
    ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_ERROR, kBadIniFile);
    return FALSE;
  }
  return TRUE;
}
