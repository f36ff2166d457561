// CQuillonService::GetJobCommand: the job-control command for a new job.
#include <cwchar>
#include <new>
#include <string>

#include "database/com_errors.h"
#include "database/field_text.h"
#include "database/registration.h"
#include "database/wide_text.h"
#include "job_accounting/job_data.h"
#include "service_core/quillon_service.h"

namespace {

// A JOB_DATA name as ANSI, read no further than its field and cut, as the
// caches and tables hold names, to 254 bytes.
std::string JobName(const WCHAR* pwszName, size_t cchField) {
  if (!pwszName) return std::string();
  const auto* pwsz = reinterpret_cast<const wchar_t*>(pwszName);
  std::string ansi = WideToAnsi(pwsz, wcsnlen(pwsz, cchField));
  return CutToWidth(ansi.c_str(), 254);
}

}  // namespace

int32_t CQuillonService::GetJobCommand(const WCHAR* pwszUser, const WCHAR* pwszPrinter) {
  try {
    const std::string user = JobName(pwszUser, kJobUserChars);
    const std::string printer = JobName(pwszPrinter, kJobPrinterChars);

    int32_t idPrinter = -1;
    if (!mapPrinters.Find(printer.c_str(), idPrinter)) {
      int hr = RegisterPrinter(pConnection, m_registrations, printer.c_str(), idPrinter, 1);
      if (hr < 0) throw _com_error(hr);
      // A row whose id did not come back resolves nothing: no rule can be
      // chosen for it, and caching -1 would make it one for every printer.
      if (idPrinter < 0) return 0;
      mapPrinters.Store(printer.c_str(), idPrinter);
    }

    int32_t idUser = 0;
    if (!mapUsers.Find(user.c_str(), idUser)) {
      idUser = 0;
      AddUser(user.c_str(), idUser);
    }

    PERMISSION_ENTRY entry = {};
    GetPermission(idPrinter, idUser, entry);
    return entry.Action;
  } catch (const _com_error&) {
    return 0;   // the printer could not be resolved: the job is left alone
  } catch (const std::bad_alloc&) {
    return 0;
  }
}
