// CQuillonService::GetJobCommand: the job-control command for a new job.
#include <cwchar>
#include <new>
#include <string>

#include "database/com_errors.h"
#include "database/field_text.h"
#include "database/wide_text.h"
#include "job_accounting/job_data.h"
#include "job_accounting/name_registrations.h"
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

    // A known user on a known printer: the caches alone, whatever the
    // database is doing. A new name is registered first, for a moment.
    int32_t idPrinter = -1;
    int32_t idUser = 0;
    bool bPrinterKnown = mapPrinters.Find(printer.c_str(), idPrinter);
    bool bUserKnown = mapUsers.Find(user.c_str(), idUser);
    if (!bPrinterKnown || !bUserKnown) {
      m_names.Register(bPrinterKnown ? std::string() : printer,
                       bUserKnown ? std::string() : user, kNameWaitMs);
      if (!bPrinterKnown) bPrinterKnown = mapPrinters.Find(printer.c_str(), idPrinter);
      if (!bUserKnown && !mapUsers.Find(user.c_str(), idUser)) idUser = 0;
    }
    // A printer that cannot be resolved gets no command: the job is left
    // alone.
    if (!bPrinterKnown) return 0;

    PERMISSION_ENTRY entry = {};
    GetPermission(idPrinter, idUser, entry);
    return entry.Action;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}
