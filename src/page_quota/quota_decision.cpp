#include "page_quota/quota_decision.h"

#include <cwchar>
#include <ctime>
#include <limits>
#include <new>
#include <string>

#include "database/field_text.h"
#include "database/record_classes.h"
#include "database/wide_text.h"
#include "page_quota/page_quotas.h"
#include "service_core/quillon_service.h"

namespace {

// A name of the job's record as the caches hold it: ANSI, cut to 254 bytes.
std::string CacheName(const WCHAR* pwszField, size_t cchField) {
  const auto* pwsz = reinterpret_cast<const wchar_t*>(pwszField);
  return CutToWidth(WideToAnsi(pwsz, wcsnlen(pwsz, cchField)).c_str(), 254);
}

// An id that is no user's or printer's: a name not registered yet has no
// quota of its own and no use.
constexpr int32_t kUnknownId = -2;

const char* CommandWord(int32_t command) {
  static const char* const kWords[] = {"none", "pause", "resume", "cancel", "restart", "delete"};
  return command >= 0 && command <= 5 ? kWords[command] : "a number";
}

}  // namespace

int32_t QuotaCommand(CQuillonService& service, const JOB_FACTS& job, int64_t tNow) {
  try {
    const std::string user = CacheName(job.job.wszUser, kJobUserChars);
    const std::string printer = CacheName(job.job.wszPrinter, kJobPrinterChars);
    int32_t idUser = kUnknownId, idPrinter = kUnknownId;
    if (!service.mapUsers.Find(user.c_str(), idUser)) idUser = kUnknownId;
    if (!service.mapPrinters.Find(printer.c_str(), idPrinter)) idPrinter = kUnknownId;

    page_quota::JOB_PAGES pages;
    if ((job.dwTold & kToldTotalPages) && job.job.dwTotalPages > 0) {
      const int64_t copies = (job.dwTold & kToldCopies) && job.job.dwCopies > 0 ? job.job.dwCopies : 1;
      pages.pages = static_cast<int64_t>(job.job.dwTotalPages) * copies;
    }
    if (job.dwTold & kToldDeviceMode) pages.nColor = job.job.wColor;

    const page_quota::VERDICT verdict = service.m_quotas.Judge(idUser, idPrinter, pages, tNow);
    if (verdict.action == 0) return 0;
    const std::string facts =
        std::to_string(verdict.use) + " of " + std::to_string(verdict.limit) + " pages used, " +
        (pages.pages ? std::to_string(pages.pages) + " for this job" : "this job's not known yet") +
        "; its command: " + CommandWord(verdict.action) + " (" + std::to_string(verdict.action) +
        ")";
    service.ReportToEventLog(EVENTLOG_INFORMATION_TYPE, EVMSG_QUOTA_STOPPED, user.c_str(),
                             printer.c_str(), facts.c_str());
    return verdict.action;
  } catch (const std::bad_alloc&) {
    return 0;   // as without a quota
  }
}

void CountRecordedRow(CQuillonService& service, const CPrnDataRecord& row) {
  // The id is known only when the database handed it back.
  const int32_t id = row.dwIdPrnDataStatus == adFldOK ? row.lIdPrnData : 0;
  page_quota::USE_ROW use;
  use.tSubmitted = row.lSubmitted;
  use.idPrinter = row.lIdPrinter;
  use.pages = row.lPages;
  use.nColor = row.nColor;
  service.m_quotas.Recorded(id, row.lIdUser, use, static_cast<int64_t>(std::time(nullptr)));
}
