// CQuillonService's journal of jobs not yet recorded: keeping a job whose
// row cannot be written, and writing the journal's jobs once the database
// can be reached again.
//
// Why no job is written twice: a journaled job's row commits in one
// transaction with its key in JOURNALKEYS, and a job whose key is found is
// skipped. The journal forgets its jobs only after every one of them is
// committed; a replay ended at any moment before that finds the keys of the
// rows it committed and writes only the others. Why none is lost: the job
// is flushed to the journal before AccountJob returns, and the journal is
// emptied only when a replay found every job it read written.
//
// Why the connection is reopened only when needed: a new connection costs a
// login, and it empties the prepared statements; a refusal or a lock does
// not go away by reconnecting. The replay reopens after a lost connection
// (com_errors.h: IsConnectionLost), or after a failure that names no cause
// when the connection no longer answers a probe; after a busy database it
// waits for the back-off and retries as it is.
#include <algorithm>
#include <string>

#include "database/com_errors.h"
#include "database/journal_keys.h"
#include "job_accounting/job_journal.h"
#include "service_core/configuration.h"
#include "service_core/quillon_service.h"
#include "service_core/win_owners.h"

namespace {

// Replays after a failure back off up to this delay.
constexpr DWORD kMaxReplayDelay = 60000;

DWORD ReplayDelay(unsigned nFailures) {
  if (nFailures == 0) return 0;
  return std::min<DWORD>(1000u << std::min(nFailures - 1, 6u), kMaxReplayDelay);
}

std::string ExeDirectory() {
  char szPath[MAX_PATH] = {};
  DWORD n = GetModuleFileNameA(nullptr, szPath, MAX_PATH);
  std::string dir(szPath, n < MAX_PATH ? n : 0);
  return dir.substr(0, dir.find_last_of("\\/") + 1);
}

}  // namespace

CJobJournal& CQuillonService::Journal() {
  std::lock_guard<std::mutex> lock(m_journalLock);
  if (!m_pJournal) {
    const uint64_t cbLimit = static_cast<uint64_t>(ReadJournalLimitKB(kDefaultJournalLimitKB)) * 1024;
    m_pJournal.reset(new CJobJournal(ExeDirectory() + kJournalFile, cbLimit));
    // What an earlier run left is replayed before any new job is written.
    m_nJournaled = m_pJournal->ReadAll().size();
  }
  return *m_pJournal;
}

CQuillonService::FAILURE_VERDICT CQuillonService::JudgeFailure(const _com_error* pError) {
  FAILURE_VERDICT verdict = {pError ? ClassifyDbFailure(*pError) : DbFailure::Unknown, false,
                             false};
  switch (verdict.kind) {
    case DbFailure::ConnectionLost:
      verdict.bReopen = true;
      break;
    case DbFailure::Busy:
      break;
    case DbFailure::Refused:
    case DbFailure::Unknown: {
      const bool bSound = pConnection && pConnection->Probe();
      verdict.bReopen = !bSound;
      verdict.bRefusal = bSound && verdict.kind == DbFailure::Refused;
      break;
    }
  }
  return verdict;
}

void CQuillonService::KeepJob(JOURNALED_JOB& job, const std::string& why, bool bReopen) {
  CJobJournal& journal = Journal();
  std::lock_guard<std::mutex> lock(m_journalLock);
  const CJobJournal::Append result = journal.Add(job);
  if (result == CJobJournal::Append::Written) {
    ++m_nJournaled;
    if (bReopen) m_bReopen = true;
    if (!m_bOutage && !why.empty()) {
      m_bOutage = true;
      const std::string kept = std::to_string(m_nJournaled);
      ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_DB_UNREACHABLE, why.c_str(), kept.c_str());
    }
    if (m_hReplayKick) SetEvent(m_hReplayKick.get());
    return;
  }
  // Lost: the administrator gets every fact needed to charge it by hand.
  const std::string reason = result == CJobJournal::Append::Full
                                 ? "the journal " + journal.Path() + " is full (" +
                                       std::to_string(journal.Limit()) + " bytes)"
                                 : "the journal " + journal.Path() + " cannot be written";
  std::string facts = CJobJournal::Encode(job);
  std::replace(facts.begin(), facts.end(), '\n', ';');
  ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_JOURNAL_FULL, reason.c_str(), facts.c_str());
}

namespace {

std::string FailureText(const _com_error& e) {
  std::string text = ComErrorText(e);
  const std::string diagnostic = ComErrorDescription(e);
  if (!diagnostic.empty()) text += " - " + diagnostic;
  return text;
}

std::string OneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ';');
  std::replace(text.begin(), text.end(), '\r', ' ');
  return text;
}

}  // namespace

void CQuillonService::PassOver(const JOURNALED_JOB& job, const std::string& why) {
  InsertJournalKey(pConnection, job.key);
  const std::string refused = std::to_string(m_refusals.Refusals()) + " times in " +
                              std::to_string(m_refusals.SpanMs() / 1000) + " s";
  m_refusals.Reset();
  ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_JOB_PASSED_OVER, refused.c_str(),
                   OneLine(why).c_str(), OneLine(CJobJournal::Encode(job)).c_str());
}

bool CQuillonService::ReplayJournal() {
  CJobJournal& journal = Journal();
  ComApartment apartment;
  for (;;) {
    std::vector<JOURNALED_JOB> jobs;
    bool bReopen;
    {
      std::lock_guard<std::mutex> lock(m_journalLock);
      if (m_nJournaled == 0) break;
      jobs = journal.ReadAll();
      m_nJournaled = jobs.size();
      bReopen = m_bReopen;
      m_bReopen = false;
    }
    // The verdict on a job's own failure, judged where it happened.
    FAILURE_VERDICT verdict = {DbFailure::Unknown, false, false};
    bool bJudged = false;
    try {
      if (bReopen && pConnection) pConnection->Reopen();
      EnsureJournalKeys(pConnection);
      const JOURNALED_JOB* pRefused = nullptr;   // passed over once the next is written
      std::string refusedWhy;
      for (size_t i = 0; i < jobs.size(); ++i) {
        const JOURNALED_JOB& job = jobs[i];
        try {
          WriteJob(job, true);
        } catch (const _com_error& e) {
          verdict = JudgeFailure(&e);
          bJudged = true;
          // A refusal of the job behind a refused one: the database refuses
          // more than one job, and the streak stays as it is.
          if (!verdict.bRefusal || pRefused) throw;
          // The rule that passes a job over is set out in refusal_streak.h.
          m_refusals.Refused(job.key, GetTickCount64());
          if (i + 1 == jobs.size() ||
              !m_refusals.Reached(job.key, m_nPassOverRefusals, m_dwPassOverAfterMs)) {
            throw;
          }
          pRefused = &job;
          refusedWhy = FailureText(e);
          bJudged = false;
          continue;
        }
        if (pRefused) {
          PassOver(*pRefused, refusedWhy);
          pRefused = nullptr;
        }
      }
      m_refusals.Reset();
    } catch (const _com_error& e) {
      if (!bJudged) verdict = JudgeFailure(&e);
      if (!bJudged || !verdict.bRefusal) m_refusals.Reset();
      std::lock_guard<std::mutex> lock(m_journalLock);
      if (verdict.bReopen) m_bReopen = true;
      ++m_nReplayFailures;
      return false;
    } catch (const std::bad_alloc&) {
      m_refusals.Reset();
      ++m_nReplayFailures;
      return false;
    }
    std::lock_guard<std::mutex> lock(m_journalLock);
    // Jobs journaled meanwhile are written by the next round.
    if (m_nJournaled == jobs.size() && journal.Clear()) m_nJournaled = 0;
  }
  std::lock_guard<std::mutex> lock(m_journalLock);
  m_nReplayFailures = 0;
  if (m_bOutage || m_nReplayWritten) {
    m_bOutage = false;
    const std::string written = std::to_string(m_nReplayWritten);
    m_nReplayWritten = 0;
    ReportToEventLog(EVENTLOG_INFORMATION_TYPE, EVMSG_DB_REACHABLE, written.c_str());
  }
  return true;
}

DWORD WINAPI CQuillonService::ReplayThread(LPVOID pParam) {
  auto* pService = static_cast<CQuillonService*>(pParam);
  HANDLE waits[2] = {pService->m_hStopEvent, pService->m_hReplayKick.get()};
  for (;;) {
    bool bPending;
    {
      std::lock_guard<std::mutex> lock(pService->m_journalLock);
      bPending = pService->m_nJournaled > 0;
    }
    DWORD dwDelay = bPending ? ReplayDelay(pService->m_nReplayFailures) : INFINITE;
    // During a back-off new jobs do not hasten the next attempt.
    const DWORD nWaits = pService->m_nReplayFailures ? 1 : 2;
    DWORD dwWait = WaitForMultipleObjects(nWaits, waits, FALSE, dwDelay);
    if (dwWait == WAIT_OBJECT_0 || dwWait == WAIT_FAILED) return 0;
    pService->ReplayJournal();
  }
}
