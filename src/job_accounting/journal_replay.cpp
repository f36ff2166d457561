// CJobKeeper's replay: the jobs left to it are written in journal order, and
// the keys of JOURNALKEYS that no job needs any more are deleted.
#include <algorithm>
#include <new>
#include <string>

#include "database/journal_keys.h"
#include "job_accounting/job_keeper.h"
#include "messages.h"
#include "service_core/text_utils.h"

namespace {

// Replays after a failure back off up to this delay.
constexpr DWORD kMaxReplayDelay = 60000;

DWORD ReplayDelay(unsigned nFailures) {
  if (nFailures == 0) return 0;
  return std::min<DWORD>(1000u << std::min(nFailures - 1, 6u), kMaxReplayDelay);
}

bool IsSet(HANDLE hEvent) { return hEvent && WaitForSingleObject(hEvent, 0) == WAIT_OBJECT_0; }

}  // namespace

void CJobKeeper::PassOver(const JOURNALED_JOB& job, const std::string& why) {
  InsertJournalKey(m_recorder.RecorderConnection(), job.key);
  const std::string refused = std::to_string(m_refusals.Refusals()) + " times in " +
                              std::to_string(m_refusals.SpanMs() / 1000) + " s";
  m_refusals.Reset();
  m_recorder.RecorderReport(EVENTLOG_ERROR_TYPE, EVMSG_JOB_PASSED_OVER, refused.c_str(),
                            OneLine(why).c_str(), OneLine(CJobJournal::Encode(job)).c_str());
}

bool CJobKeeper::Replay(HANDLE hStop) {
  EnsureThreadComApartment();
  bool bReopen;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    LoadLocked();
    bReopen = m_bReopen;
    m_bReopen = false;
  }
  // The verdict on a job's own failure, judged where it happened.
  FAILURE_VERDICT verdict;
  bool bJudged = false;
  try {
    bool bPrepared = false;
    // Passed over once the job behind it is written.
    std::string refusedKey, refusedWhy;
    JOURNALED_JOB refused;
    for (;;) {
      if (IsSet(hStop)) return false;
      JOURNAL_ENTRY entry;
      bool bLast;
      {
        std::lock_guard<std::mutex> lock(m_lock);
        auto it = m_waiting.begin();
        if (!refusedKey.empty()) {
          it = std::find_if(m_waiting.begin(), m_waiting.end(),
                            [&](const JOURNAL_ENTRY& e) { return e.key == refusedKey; });
          if (it != m_waiting.end()) ++it;
        }
        if (it == m_waiting.end()) break;
        entry = *it;
        bLast = it + 1 == m_waiting.end();
      }
      if (!bPrepared) {
        const ConnectionPtr connection = m_recorder.RecorderConnection();
        if (bReopen && connection) connection->Reopen();
        EnsureJournalKeys(connection);
        bPrepared = true;
      }
      if (!entry.bCompleted) {
        // Taken and never completed (a crash, a stop, a failure on the
        // way): completed now, and journaled before the named file goes.
        entry.facts = m_recorder.CompleteJob(entry.taken, hStop);
        entry.facts.key = entry.key;
        entry.bCompleted = true;
        bool bKept = false;
        {
          std::lock_guard<std::mutex> lock(m_lock);
          bKept = m_journal.Keep(entry.facts) == CJobJournal::Append::Written;
          if (bKept) {
            for (JOURNAL_ENTRY& e : m_waiting) {
              if (e.key == entry.key) e = entry;
            }
          }
        }
        if (bKept) m_recorder.ReleaseJobFile(entry.taken);
      }
      HRESULT hr;
      try {
        std::lock_guard<std::mutex> gate(m_writeGate);
        hr = m_recorder.WriteJob(entry.facts, true, true);
        if (hr == S_OK) {
          std::lock_guard<std::mutex> lock(m_lock);
          ++m_nReplayWritten;
        }
        if (m_settings.pfnAfterReplayCommit) {
          m_settings.pfnAfterReplayCommit(m_settings.pAfterReplayContext);
        }
      } catch (const _com_error& e) {
        verdict = JudgeFailure(&e);
        bJudged = true;
        // A refusal of the job behind a refused one: the database refuses
        // more than one job, and the streak stays as it is.
        if (!verdict.bRefusal || !refusedKey.empty()) throw;
        // The rule that passes a job over is set out in refusal_streak.h.
        m_refusals.Refused(entry.key, GetTickCount64());
        if (bLast || !m_refusals.Reached(entry.key, m_settings.nPassOverRefusals,
                                         m_settings.dwPassOverAfterMs)) {
          throw;
        }
        refusedKey = entry.key;
        refused = entry.facts;
        refusedWhy = ComFailureText(e);
        bJudged = false;
        continue;
      }
      {
        std::lock_guard<std::mutex> lock(m_lock);
        m_journal.Done(entry.key);
        RemoveWaiting(entry.key);
        ++m_nSincePrune;
      }
      if (!refusedKey.empty()) {
        PassOver(refused, refusedWhy);
        std::lock_guard<std::mutex> lock(m_lock);
        m_journal.Done(refusedKey);
        RemoveWaiting(refusedKey);
        refusedKey.clear();
      }
    }
    m_refusals.Reset();
  } catch (const _com_error& e) {
    if (!bJudged) verdict = JudgeFailure(&e);
    if (!bJudged || !verdict.bRefusal) m_refusals.Reset();
    std::lock_guard<std::mutex> lock(m_lock);
    if (verdict.bReopen) m_bReopen = true;
    ++m_nReplayFailures;
    return false;
  } catch (const std::bad_alloc&) {
    m_refusals.Reset();
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_nReplayFailures;
    return false;
  }
  std::lock_guard<std::mutex> lock(m_lock);
  m_nReplayFailures = 0;
  if (m_waiting.empty() && m_flying.empty()) m_journal.Clear();
  if (m_bOutage || m_nReplayWritten) {
    m_bOutage = false;
    const std::string written = std::to_string(m_nReplayWritten);
    m_nReplayWritten = 0;
    m_recorder.RecorderReport(EVENTLOG_INFORMATION_TYPE, EVMSG_DB_REACHABLE, written.c_str());
  }
  return m_waiting.empty();
}

void CJobKeeper::PruneKeys() {
  std::string low, high;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    LoadLocked();
    // Done records and a clear reach the disk before the keys they stand
    // for go: a start after a crash must not find a job written whose key
    // is gone.
    if (!m_journal.Flush()) return;
    const std::string& prefix = m_journal.KeyPrefix();
    low = prefix + std::string(kJournalKeyChars - prefix.size(), '0');
    high = m_journal.NextKey();
    auto lower = [&](const std::string& key) {
      if (key.size() == kJournalKeyChars && key.compare(0, prefix.size(), prefix) == 0 &&
          key < high) {
        high = key;
      }
    };
    for (const std::string& key : m_flying) lower(key);
    for (const JOURNAL_ENTRY& entry : m_waiting) lower(entry.key);
    m_nSincePrune = 0;
  }
  try {
    EnsureThreadComApartment();
    DeleteJournalKeys(m_recorder.RecorderConnection(), low, high);
  } catch (const _com_error&) {
    // Tried again after the next rows; a key left behind costs a row only.
  } catch (const std::bad_alloc&) {
  }
}

bool CJobKeeper::StartReplaying(HANDLE hStop) {
  if (m_hReplayThread) return true;
  if (!DuplicateHandle(GetCurrentProcess(), hStop, GetCurrentProcess(), m_hStop.put(), 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    return false;
  }
  m_hReplayThread.reset(CreateThread(nullptr, 0, ReplayThreadRoutine, this, 0, nullptr));
  return static_cast<bool>(m_hReplayThread);
}

void CJobKeeper::EndReplaying() {
  if (m_hReplayThread) WaitForSingleObject(m_hReplayThread.get(), INFINITE);
  m_hReplayThread.reset();
  m_hStop.reset();
}

DWORD WINAPI CJobKeeper::ReplayThreadRoutine(LPVOID pParam) {
  auto* self = static_cast<CJobKeeper*>(pParam);
  HANDLE waits[2] = {self->m_hStop.get(), self->m_hKick.get()};
  // At start: what an earlier run left, then the keys no job needs.
  if (self->Replay(waits[0])) self->PruneKeys();
  for (;;) {
    size_t nWaiting;
    unsigned nFailures;
    bool bPrune;
    {
      std::lock_guard<std::mutex> lock(self->m_lock);
      nWaiting = self->m_waiting.size();
      nFailures = self->m_nReplayFailures;
      bPrune = self->m_nSincePrune >= self->m_settings.nPruneEvery;
    }
    if (bPrune) self->PruneKeys();
    const DWORD dwDelay = nWaiting ? ReplayDelay(nFailures) : INFINITE;
    // During a back-off new jobs do not hasten the next attempt.
    const DWORD nWaits = nFailures ? 1 : 2;
    const DWORD dwWait = WaitForMultipleObjects(nWaits, waits, FALSE, dwDelay);
    if (dwWait == WAIT_OBJECT_0 || dwWait == WAIT_FAILED) return 0;
    self->Replay(waits[0]);
  }
}
