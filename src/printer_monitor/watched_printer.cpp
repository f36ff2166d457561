#include "printer_monitor/watched_printer.h"

#include <mutex>
#include <shared_mutex>

#include "service_core/quillon_service.h"

CNotifyOptions::CNotifyOptions()
    : m_fields{JOB_NOTIFY_FIELD_STATUS,       JOB_NOTIFY_FIELD_BYTES_PRINTED,
               JOB_NOTIFY_FIELD_DOCUMENT,     JOB_NOTIFY_FIELD_USER_NAME,
               JOB_NOTIFY_FIELD_MACHINE_NAME, JOB_NOTIFY_FIELD_TOTAL_PAGES,
               JOB_NOTIFY_FIELD_DEVMODE,      JOB_NOTIFY_FIELD_SUBMITTED,
               JOB_NOTIFY_FIELD_TOTAL_BYTES},
      m_type(),
      m_refresh(),
      m_delta() {
  m_type.Type = JOB_NOTIFY_TYPE;
  m_type.Count = sizeof(m_fields) / sizeof(m_fields[0]);
  m_type.pFields = m_fields;
  m_refresh.Version = 2;
  m_refresh.Flags = PRINTER_NOTIFY_OPTIONS_REFRESH;
  m_refresh.Count = 1;
  m_refresh.pTypes = &m_type;
  m_delta = m_refresh;
  m_delta.Flags = 0;
}

CWatchedPrinter::CWatchedPrinter(CQuillonService& service, std::vector<CPrnObj*> elements)
    : m_service(service), m_elements(std::move(elements)), m_bGdi(false) {
  for (const CPrnObj* pElement : m_elements) m_bGdi |= (pElement->m_dwKind & PRN_GDI) != 0;
}

bool CWatchedPrinter::OpenElements() {
  for (CPrnObj* pElement : m_elements) {
    if (pElement->m_hPrinter) continue;
    HANDLE hPrinter = nullptr;
    PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (!OpenPrinterA(pElement->m_pszName, &hPrinter, &defaults)) return false;
    std::unique_lock<std::shared_mutex> lock(m_service.m_printersLock);
    pElement->m_hPrinter = hPrinter;
  }
  return true;
}

bool CWatchedPrinter::Connect(CNotifyOptions& options) {
  if (!OpenElements()) {
    LastErrorKeeper keep;
    keep.Capture();
    Disconnect();
    return false;
  }
  m_hChange.reset(FindFirstPrinterChangeNotification(Printer(), PRINTER_CHANGE_DELETE_JOB, 0,
                                                     options.Get(true)));
  if (m_hChange) return true;
  // The handle may be one the spooler no longer knows: the printer is opened
  // afresh, and stays open for the housekeeping until the next try.
  LastErrorKeeper keep;
  keep.Capture();
  Disconnect();
  OpenElements();
  return false;
}

void CWatchedPrinter::Disconnect() {
  // The notification goes first: its printer handle must outlive it.
  m_hChange.reset();
  std::unique_lock<std::shared_mutex> lock(m_service.m_printersLock);
  for (CPrnObj* pElement : m_elements) {
    // A handle the spooler no longer knows is given back all the same.
    if (pElement->m_hPrinter) ClosePrinter(pElement->m_hPrinter);
    pElement->m_hPrinter = nullptr;
  }
}

bool CWatchedPrinter::Fetch(CNotifyOptions& options, bool bRefresh, NotifyInfoBlock& block) {
  PPRINTER_NOTIFY_INFO pInfo = nullptr;
  DWORD dwChange = 0;
  const BOOL bOk = FindNextPrinterChangeNotification(m_hChange.get(), &dwChange,
                                                     options.Get(bRefresh),
                                                     reinterpret_cast<LPVOID*>(&pInfo));
  block.reset(bOk ? pInfo : nullptr);
  return bOk != FALSE;
}
