// CJobKeeper: taking and settling jobs, and the state they share with the
// replay (journal_replay.cpp).
#include "job_accounting/job_keeper.h"

#include <algorithm>
#include <new>
#include <utility>

#include "messages.h"
#include "service_core/text_utils.h"

CJobKeeper::CTicket::CTicket(CTicket&& other) noexcept
    : m_pKeeper(other.m_pKeeper), m_taken(std::move(other.m_taken)), m_bDurable(other.m_bDurable) {
  other.m_pKeeper = nullptr;
}

CJobKeeper::CTicket& CJobKeeper::CTicket::operator=(CTicket&& other) noexcept {
  if (this != &other) {
    if (m_pKeeper) m_pKeeper->Abandon(*this);
    m_pKeeper = other.m_pKeeper;
    m_taken = std::move(other.m_taken);
    m_bDurable = other.m_bDurable;
    other.m_pKeeper = nullptr;
  }
  return *this;
}

CJobKeeper::CTicket::~CTicket() {
  if (m_pKeeper) m_pKeeper->Abandon(*this);
}

CJobKeeper::CJobKeeper(IJobRecorder& recorder, std::string journalPath, uint64_t cbLimit,
                       const KEEPER_SETTINGS& settings)
    : m_recorder(recorder),
      m_settings(settings),
      m_journal(std::move(journalPath), cbLimit),
      m_hSettled(CreateEventA(nullptr, TRUE, TRUE, nullptr)),
      m_hKick(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

CJobKeeper::~CJobKeeper() {
  if (m_hReplayThread) {
    // Only a service that failed on its way out gets here with the thread
    // running; the stop ends it within one job.
    SetEvent(m_hStop.get());
    WaitForSingleObject(m_hReplayThread.get(), INFINITE);
  }
}

void CJobKeeper::LoadLocked() {
  if (m_bLoaded) return;
  m_bLoaded = true;
  // What an earlier run left is written before any new job.
  for (JOURNAL_ENTRY& entry : m_journal.ReadAll()) m_waiting.push_back(std::move(entry));
}

size_t CJobKeeper::Waiting() {
  std::lock_guard<std::mutex> lock(m_lock);
  LoadLocked();
  return m_waiting.size();
}

size_t CJobKeeper::InFlight() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_nInFlight;
}

unsigned CJobKeeper::ReplayFailures() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_nReplayFailures;
}

bool CJobKeeper::WaitUntilSettled(DWORD dwMilliseconds) const {
  return WaitForSingleObject(m_hSettled.get(), dwMilliseconds) == WAIT_OBJECT_0;
}

CJobKeeper::CTicket CJobKeeper::Take(const TAKEN_JOB& job) {
  CTicket ticket;
  ticket.m_taken = job;
  std::lock_guard<std::mutex> lock(m_lock);
  LoadLocked();
  ticket.m_bDurable = m_journal.Take(ticket.m_taken) == CJobJournal::Append::Written;
  if (ticket.m_bDurable) {
    m_flying.insert(ticket.m_taken.key);
  } else {
    ticket.m_taken.key.clear();   // the journal does not know it
  }
  if (m_nInFlight++ == 0) ResetEvent(m_hSettled.get());
  ticket.m_pKeeper = this;
  return ticket;
}

void CJobKeeper::LeaveFlight(const std::string& key, bool bDurable) {
  if (bDurable) m_flying.erase(key);
  if (--m_nInFlight == 0) SetEvent(m_hSettled.get());
}

void CJobKeeper::Settle(CTicket ticket, HANDLE hStop) {
  const bool bDurable = ticket.m_bDurable;
  JOURNALED_JOB facts;
  try {
    facts = m_recorder.CompleteJob(ticket.m_taken, hStop);
  } catch (...) {
    return;   // the ticket goes unsettled: the replay completes the job again
  }
  facts.key = ticket.m_taken.key;

  std::string why;
  FAILURE_VERDICT verdict;
  bool bWritten = false;
  try {
    std::lock_guard<std::mutex> gate(m_writeGate);
    const bool bStopping = hStop && WaitForSingleObject(hStop, 0) == WAIT_OBJECT_0;
    bool bBehind;
    {
      std::lock_guard<std::mutex> lock(m_lock);
      bBehind = !m_waiting.empty();
    }
    // A job the journal does not hold is better written out of order than
    // lost; one it holds waits its turn, and at a stop for the next start.
    if (!bStopping && (!bBehind || !bDurable)) {
      try {
        EnsureThreadComApartment();
        m_recorder.WriteJob(facts, bDurable, false);
        bWritten = true;
      } catch (const _com_error& e) {
        why = ComFailureText(e);
        verdict = JudgeFailure(&e);
      } catch (const std::bad_alloc&) {
        why = ComErrorText(E_OUTOFMEMORY);
        verdict = JudgeFailure(nullptr);
      }
    }
  } catch (...) {
    // The gate could not be had: the job goes to the replay.
  }
  ticket.m_pKeeper = nullptr;   // settled from here on
  if (bWritten) {
    Finish(ticket.m_taken, bDurable);
  } else {
    KeepForReplay(ticket.m_taken, bDurable, facts, why, verdict.bReopen);
  }
}

void CJobKeeper::Finish(const TAKEN_JOB& taken, bool bDurable) {
  m_recorder.ReleaseJobFile(taken);
  std::lock_guard<std::mutex> lock(m_lock);
  if (bDurable) {
    m_flying.erase(taken.key);
    try {
      // Nothing held: the file starts empty again; otherwise the job is
      // marked done, for a start after a crash to skip it.
      if (m_flying.empty() && m_waiting.empty()) {
        m_journal.Clear();
      } else {
        m_journal.Done(taken.key);
      }
    } catch (const std::bad_alloc&) {
      // Unmarked: the next start finds its key in JOURNALKEYS.
    }
    if (++m_nSincePrune >= m_settings.nPruneEvery) SetEvent(m_hKick.get());
  }
  LeaveFlight(taken.key, bDurable);
}

void CJobKeeper::KeepForReplay(const TAKEN_JOB& taken, bool bDurable, JOURNALED_JOB& facts,
                               const std::string& why, bool bReopen) {
  bool bKept = false;
  bool bRelease = true;
  std::string lost;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    try {
      JOURNAL_ENTRY entry;
      const CJobJournal::Append result = m_journal.Keep(facts);
      if (result == CJobJournal::Append::Written) {
        entry.key = facts.key;
        entry.bCompleted = true;
        entry.facts = facts;
        m_waiting.push_back(std::move(entry));
        bKept = true;
      } else if (bDurable) {
        // Its facts as taken stand: the replay completes it again, and
        // counts the named file, which therefore stays.
        entry.key = taken.key;
        entry.taken = taken;
        m_waiting.push_back(std::move(entry));
        bKept = true;
        bRelease = false;
      } else {
        lost = result == CJobJournal::Append::Full
                   ? "the journal " + m_journal.Path() + " is full (" +
                         std::to_string(m_journal.Limit()) + " bytes)"
                   : "the journal " + m_journal.Path() + " cannot be written";
      }
    } catch (const std::bad_alloc&) {
      lost = "not enough memory";
    }
    // Waiting now: it no longer counts among the jobs flying.
    if (bKept && bDurable) m_flying.erase(taken.key);
    if (bKept) {
      if (bReopen) m_bReopen = true;
      // The database just failed: the replay backs off before it tries.
      if (!why.empty() && m_nReplayFailures == 0) m_nReplayFailures = 1;
      if (!m_bOutage && !why.empty()) {
        m_bOutage = true;
        const std::string kept = std::to_string(m_waiting.size());
        m_recorder.RecorderReport(EVENTLOG_ERROR_TYPE, EVMSG_DB_UNREACHABLE, why.c_str(),
                                  kept.c_str());
      }
      SetEvent(m_hKick.get());
    }
  }
  if (!lost.empty()) {
    // Lost: the administrator gets every fact needed to charge it by hand.
    m_recorder.RecorderReport(EVENTLOG_ERROR_TYPE, EVMSG_JOURNAL_FULL, lost.c_str(),
                              OneLine(CJobJournal::Encode(facts)).c_str());
  }
  if (bRelease) m_recorder.ReleaseJobFile(taken);
  std::lock_guard<std::mutex> lock(m_lock);
  LeaveFlight(taken.key, bDurable);
}

void CJobKeeper::Abandon(CTicket& ticket) {
  ticket.m_pKeeper = nullptr;
  std::lock_guard<std::mutex> lock(m_lock);
  if (ticket.m_bDurable) {
    try {
      JOURNAL_ENTRY entry;
      entry.key = ticket.m_taken.key;
      entry.taken = ticket.m_taken;
      m_waiting.push_back(std::move(entry));
      SetEvent(m_hKick.get());
    } catch (const std::bad_alloc&) {
      // The journal holds it: the next start writes it.
    }
  }
  LeaveFlight(ticket.m_taken.key, ticket.m_bDurable);
}

void CJobKeeper::RemoveWaiting(const std::string& key) {
  auto it = std::find_if(m_waiting.begin(), m_waiting.end(),
                         [&](const JOURNAL_ENTRY& e) { return e.key == key; });
  if (it != m_waiting.end()) m_waiting.erase(it);
}

CJobKeeper::FAILURE_VERDICT CJobKeeper::JudgeFailure(const _com_error* pError) {
  FAILURE_VERDICT verdict;
  verdict.kind = pError ? ClassifyDbFailure(*pError) : DbFailure::Unknown;
  switch (verdict.kind) {
    case DbFailure::ConnectionLost:
      verdict.bReopen = true;
      break;
    case DbFailure::Busy:
      break;
    case DbFailure::Refused:
    case DbFailure::Unknown: {
      const ConnectionPtr connection = m_recorder.RecorderConnection();
      const bool bSound = connection && connection->Probe();
      verdict.bReopen = !bSound;
      verdict.bRefusal = bSound && verdict.kind == DbFailure::Refused;
      break;
    }
  }
  return verdict;
}
