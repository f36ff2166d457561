#include "printer_monitor/prn_obj.h"

#include <cstdlib>
#include <cstring>

#include "service_core/exc.h"
#include "service_core/text_utils.h"
#include "service_core/win_owners.h"

CPrnObj::CPrnObj(const char* pszName, DWORD dwKind, BOOL bOpen)
    : m_hPrinter(nullptr), m_pszName(nullptr), m_dwKind(dwKind) {
  if (!pszName) Fail("Bad printer name");
  size_t cb = std::strlen(pszName) + 1;
  m_pszName = static_cast<char*>(std::malloc(cb));
  if (!m_pszName) Fail("Not enough memory");
  std::memcpy(m_pszName, pszName, cb);
  if (bOpen) {
    try {
      Open();
    } catch (...) {
      // The object never reaches the list: its copy of the name goes now.
      std::free(m_pszName);
      m_pszName = nullptr;
      throw;
    }
  }
}

// Copies share the handle and the name; the list's owner closes them.
CPrnObj::~CPrnObj() = default;

void CPrnObj::Fail(const char* pszMessage) {
  throw new CExc("CPrnObj", pszMessage);
}

void CPrnObj::FailSystem() {
  LocalBuffer<char> text(GetLastErrorText());
  throw new CExc("CPrnObj", text ? text.get() : "");
}

void CPrnObj::Open() {
  if (!m_pszName) Fail("Bad printer name");
  PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
  if (!OpenPrinterA(m_pszName, &m_hPrinter, &defaults)) {
    m_hPrinter = nullptr;
    FailSystem();
  }
}

void CPrnObj::Close() {
  if (m_hPrinter) ClosePrinter(m_hPrinter);
  m_hPrinter = nullptr;
  std::free(m_pszName);
  m_pszName = nullptr;
}
