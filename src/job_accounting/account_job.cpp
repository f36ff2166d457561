// CQuillonService::AccountJob and GetJobSize: a finished job becomes one row
// of PRNDATA, with its printer, user and computer registered on the way.
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "database/com_errors.h"
#include "database/field_text.h"
#include "database/journal_keys.h"
#include "database/odbc_statement.h"
#include "database/printer_links.h"
#include "database/record_classes.h"
#include "database/recordset.h"
#include "database/registration.h"
#include "database/transaction.h"
#include "database/wide_text.h"
#include "job_accounting/client_computer.h"
#include "job_accounting/counted_file.h"
#include "job_accounting/job_data.h"
#include "job_accounting/job_journal.h"
#include "job_accounting/job_keeper.h"
#include "job_accounting/job_thread.h"
#include "job_accounting/spool_file.h"
#include "page_quota/quota_decision.h"
#include "service_core/exc.h"
#include "service_core/lock.h"
#include "service_core/quillon_service.h"
#include "service_core/text_utils.h"
#include "service_core/win_owners.h"

namespace {

// The spooler is asked this often for a job's size while it still spools.
constexpr int kJobSizeAttempts = 30;
// A JOB_INFO_2 with its texts and device mode is a few kilobytes; a size
// beyond this is not a job record.
constexpr DWORD kMaxJobInfoBytes = 1 << 20;
constexpr int32_t kMaxPages = std::numeric_limits<int32_t>::max();

// A JOB_DATA text as ANSI, read no further than its field and cut to the
// width of the buffer it is read into (a character is never split).
std::string JobText(const WCHAR* pwszField, size_t cchField, size_t cbWidth) {
  const auto* pwsz = reinterpret_cast<const wchar_t*>(pwszField);
  return CutToWidth(WideToAnsi(pwsz, wcsnlen(pwsz, cchField)).c_str(), cbWidth);
}

// "\\server\share" or "server\x": the first non-empty piece between
// backslashes, skipping the trail bytes of double-byte characters.
std::string FirstNamePiece(const std::string& name) {
  std::string piece;
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (IsDBCSLeadByte(c) && i + 1 < name.size()) {
      piece += name.substr(i, 2);
      ++i;
    } else if (c == '\\') {
      if (!piece.empty()) return piece;
    } else {
      piece += static_cast<char>(c);
    }
  }
  return piece.empty() ? name : piece;
}

// pages × copies, held to what the PRNDATA column can store.
int32_t Product(uint64_t pages, uint64_t copies) {
  const uint64_t product = pages * copies;   // both below 2^32: no wrap
  return product > static_cast<uint64_t>(kMaxPages) ? kMaxPages : static_cast<int32_t>(product);
}

// Waits dwMs, or less when hStop is set; true when it was.
bool Pause(HANDLE hStop, DWORD dwMs) {
  if (!hStop) {
    Sleep(dwMs);
    return false;
  }
  return WaitForSingleObject(hStop, dwMs) == WAIT_OBJECT_0;
}

void Fill(CPrnDataRecord& row, const std::string& document, int32_t lPages,
          DWORD dwBytes, const JOB_DATA& job) {
  std::memcpy(row.szDocName, document.c_str(), document.size() + 1);
  row.lPages = lPages;
  // The column is signed: a size beyond 2 GB is held at its largest value.
  row.lJobSize = dwBytes > static_cast<DWORD>(kMaxPages) ? kMaxPages
                                                          : static_cast<int32_t>(dwBytes);
  row.lSubmitted = job.tSubmitted;
  row.nPaperLength = job.wPaperLength;
  row.nPaperWidth = job.wPaperWidth;
  row.nColor = job.wColor;
  row.nDuplex = job.wDuplex;
}

}  // namespace

int CQuillonService::AccountJob(const JOB_DATA& job, JobOrigin origin) {
  try {
    SettleJob(TakeJob(job, origin));
  } catch (const std::bad_alloc&) {
    // Not even taken: nothing was journaled, nothing written.
    ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_JOURNAL_FULL, "not enough memory",
                     JobText(job.wszDocument, kJobDocumentChars, 254).c_str());
  }
  return 1;
}

CJobKeeper::CTicket CQuillonService::TakeJob(const JOB_DATA& job, JobOrigin origin) {
  TAKEN_JOB taken;
  taken.job = job;
  taken.origin = origin;
  return Keeper().Take(taken);
}

CJobKeeper::CTicket CQuillonService::TakeJob(const TAKEN_JOB& taken) {
  return Keeper().Take(taken);
}

void CQuillonService::SettleJob(CJobKeeper::CTicket ticket) {
  Keeper().Settle(std::move(ticket), m_hStopEvent);
  // Step 12: whether the row was written or left to the replay.
  PulseJobEvent();
}

JOURNALED_JOB CQuillonService::CompleteJob(const TAKEN_JOB& taken, HANDLE hStop) {
  const JOB_DATA& job = taken.job;
  // Steps 1 to 3: the texts as ANSI, in buffers of the documented widths.
  JOURNALED_JOB facts;
  facts.printer = JobText(job.wszPrinter, kJobPrinterChars, 254);
  std::string computerText =
      FirstNamePiece(JobText(job.wszComputer, kJobComputerChars, kComputerBufferSize - 1));
  facts.user = JobText(job.wszUser, kJobUserChars, 254);
  std::string document = JobText(job.wszDocument, kJobDocumentChars, 254);
  // The spooler's UTF-16 leaves nothing to guess, and the repair would turn
  // legitimate characters of code page 1252 (the pound, copyright or degree
  // sign) into others.
  if (taken.origin == JobOrigin::Client) FixOemText(&document[0]);
  facts.document = document;

  // Step 4. A negative copy count is not a count: the job printed once.
  // A count of 0 means that the copies are not known (see step 7). The
  // copies of a job finished on a GDI printer whose notifications told
  // none are asked of the spooler now.
  const int32_t lCopies = taken.bCopiesKnown ? job.dwCopies : JobCopies(job);
  const DWORD dwCopies = lCopies < 0 ? 1u : static_cast<DWORD>(lCopies);
  int32_t lPages = Product(job.dwTotalPages, dwCopies);
  int16_t nPaperSize = job.wPaperSize;

  // Step 5: the client of the user's network session, if there is one.
  char szComputer[kComputerBufferSize] = {};
  std::memcpy(szComputer, computerText.c_str(), computerText.size() + 1);
  GetClientComputer(facts.user.c_str(), szComputer);
  facts.computer = szComputer;

  // Steps 6 and 7: the named file, only when it is a plain file of the
  // service's directory, is counted; it is deleted once the job's facts are
  // kept (ReleaseJobFile). A job that names no such file and that the
  // spooler did not count has its spool file counted instead, read only:
  // that file is the spooler's, and it stays.
  const std::string fileName = JobText(job.wszFile, kJobFileChars, kComputerBufferSize - 1);
  const std::string filePath = fileName.empty() ? std::string() : CountedFilePath(fileName.c_str());
  if ((lPages == 0 || !filePath.empty()) && m_pfnGetPageCount) {
    const std::string countedPath = filePath.empty() ? SpoolFilePath(job.dwJobId) : filePath;
    PAGE_COUNT_RESULT result = {};
    try {
      if (m_pfnGetPageCount(countedPath.c_str(), facts.printer.c_str(), &result)) {
        const uint64_t counted = result.dwPages ? result.dwPages : 1;
        if (result.wPaperSize) nPaperSize = static_cast<int16_t>(result.wPaperSize);
        lPages = Product(counted, dwCopies ? dwCopies : 1);
      }
    } catch (...) {
      // The counter's failure leaves the spooler's count standing.
    }
  }
  // The spool data is read: the housekeeping may delete the job now. Only
  // the watcher's own jobs release it; a report cannot.
  if (taken.origin == JobOrigin::Spooler) m_spoolHolds.Release(job.dwJobId);

  // Step 9: the size the watcher saw, else the spooler's.
  const DWORD dwBytes = taken.bSizeKnown
                            ? taken.dwSize
                            : GetJobSize(job.dwJobId, facts.printer.c_str(), hStop);
  CPrnDataRecord row;
  Fill(row, document, lPages, dwBytes, job);
  facts.lPages = row.lPages;
  facts.lJobSize = row.lJobSize;
  facts.lSubmitted = row.lSubmitted;
  facts.nPaperSize = nPaperSize;
  facts.nPaperLength = row.nPaperLength;
  facts.nPaperWidth = row.nPaperWidth;
  facts.nColor = row.nColor;
  facts.nDuplex = row.nDuplex;
  return facts;
}

void CQuillonService::ReleaseJobFile(const TAKEN_JOB& taken) {
  // Step 8, once the counted pages are kept: the named file only, never the
  // spool file of a job that named none.
  const std::string fileName = JobText(taken.job.wszFile, kJobFileChars, kComputerBufferSize - 1);
  if (fileName.empty()) return;
  const std::string filePath = CountedFilePath(fileName.c_str());
  if (!filePath.empty()) DeleteFileA(filePath.c_str());
}

HRESULT CQuillonService::WriteJob(const JOURNALED_JOB& job, bool bKeyed, bool bLookUp) {
  int32_t idPrinter = -1;
  if (!mapPrinters.Find(job.printer.c_str(), idPrinter)) {
    int hr = RegisterPrinter(pConnection, m_registrations, job.printer.c_str(), idPrinter, 1);
    if (hr < 0) RaisePassedError(hr);
    mapPrinters.Store(job.printer.c_str(), idPrinter);
  }
  int32_t idComp = -1;
  int hr = RegisterComputer(pConnection, m_registrations, job.computer.c_str(), idComp, 1);
  if (hr < 0) RaisePassedError(hr);
  int32_t idUser = -1;
  if (!mapUsers.Find(job.user.c_str(), idUser) && !AddUser(job.user.c_str(), idUser)) {
    RaiseComError(E_FAIL, L"The user cannot be added.");
  }

  CPrnDataRecord row;
  row.lIdPrinter = idPrinter;
  row.lIdUser = idUser;
  row.lIdComp = idComp;
  std::memset(row.szDocName, 0, sizeof(row.szDocName));
  std::memcpy(row.szDocName, job.document.c_str(),
              std::min(job.document.size(), sizeof(row.szDocName) - 1));
  row.lPages = job.lPages;
  row.lJobSize = job.lJobSize;
  row.lSubmitted = job.lSubmitted;
  row.nPaperSize = job.nPaperSize;
  row.nPaperLength = job.nPaperLength;
  row.nPaperWidth = job.nPaperWidth;
  row.nColor = job.nColor;
  row.nDuplex = job.nDuplex;
  PrepareForAppend(row);
  bool bSkipped = false;
  if (!bKeyed) {
    CRecordset recordset;
    // The bare table: the append neither reads nor holds its rows.
    recordset.Open("PRNDATA", pConnection);
    recordset.AddNew(&row);
    recordset.Close();
  } else {
    // The row and its key commit together or not at all: a key in the
    // table says that the row is there.
    CConnection* pConn = pConnection.operator->();
    std::lock_guard<std::recursive_mutex> lock(pConn->Mutex());
    InTransaction(pConn, [&] {
      // A job settled at once has a key nobody else has seen.
      bSkipped = bLookUp && JournalKeyExists(pConnection, job.key);
      if (!bSkipped) {
        CRecordset recordset;
        recordset.Open("PRNDATA", pConnection);
        recordset.AddNew(&row);
        recordset.Close();
        InsertJournalKey(pConnection, job.key);
      }
    });
  }
  if (!bSkipped) CountRecordedRow(*this, row);
  // The links are looked up before they are added: doing them again is
  // harmless, and a failure leaves the pair uncached for the next job.
  EnsurePrinterUser(pConnection, m_registrations, idPrinter, idUser);
  EnsurePrinterComputer(pConnection, m_registrations, idPrinter, idComp);
  return bSkipped ? S_FALSE : S_OK;
}

DWORD CQuillonService::GetJobSize(DWORD dwJobId, const char* pszPrinter, HANDLE hStop) {
  try {
    CLock lock(kJobQueueTimeout, kJobQueueMutex);
    auto it = m_jobTable.find(dwJobId);
    if (it != m_jobTable.end()) {
      const DWORD dwBytes = it->second.dwBytesPrinted;
      m_jobTable.erase(it);
      return dwBytes;
    }
  } catch (CExc* pExc) {
    delete pExc;   // the table is left alone; the spooler is asked instead
  }

  PrinterHandle printer;
  if (!pszPrinter || !OpenPrinterA(const_cast<char*>(pszPrinter), printer.put(), nullptr)) {
    return 0;
  }
  DWORD dwSize = 0;
  std::vector<BYTE> buffer;
  for (int attempt = 0; attempt < kJobSizeAttempts; ++attempt) {
    DWORD cbNeeded = 0;
    if (GetJobA(printer.get(), dwJobId, 2, nullptr, 0, &cbNeeded) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || cbNeeded == 0 ||
        cbNeeded > kMaxJobInfoBytes) {
      continue;   // the spooler does not know the job (yet): no pause
    }
    buffer.assign(cbNeeded, 0);
    if (!GetJobA(printer.get(), dwJobId, 2, buffer.data(), cbNeeded, &cbNeeded)) {
      if (Pause(hStop, m_settings.dwJobSizeRetryMs)) break;
      continue;
    }
    const auto* pInfo = reinterpret_cast<const JOB_INFO_2A*>(buffer.data());
    dwSize = pInfo->Size;
    const DWORD dwDone = JOB_STATUS_PRINTED | JOB_STATUS_DELETED | JOB_STATUS_DELETING;
    if (!(pInfo->Status & JOB_STATUS_SPOOLING) || (pInfo->Status & dwDone)) break;
    // A stop ends the wait: the size read so far stands.
    if (Pause(hStop, m_settings.dwJobSizeRetryMs)) break;
  }
  return dwSize;
}
