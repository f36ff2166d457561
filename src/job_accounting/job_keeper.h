// CJobKeeper: every job the service takes is kept until its row is
// committed. It owns the journal (job_journal.h), the replay thread, the
// outage state and the refusal streak; the service object owns it.
//
// The road of a job:
//   Take    the job's facts as taken are appended to the journal and
//           flushed; from here a kill, a crash or a power loss loses
//           nothing. This is the only step before the pipe's client is
//           answered, and it never waits on the database or the spooler.
//   Settle  the facts are completed (client computer, pages, size: the
//           steps that can wait), then the row is written together with
//           the job's key in JOURNALKEYS, unless jobs wait in the journal
//           before it (the order stays) or the service is stopping. A job
//           whose row is not written has its completed facts journaled,
//           flushed, and is left to the replay.
//   Replay  the replay thread writes the waiting jobs in the order they
//           were taken, at start and as soon as the database answers
//           again, each row with its key in one transaction, skipping a
//           job whose key is there already.
// Why none is written twice: a row commits with its key, and the replay
// skips a key it finds; keys are deleted from JOURNALKEYS only below the
// oldest job still held, after the journal is flushed. Why none is lost:
// the journal forgets a job (a done record, or emptying the file once
// nothing is held) only after its row committed.
//
// Why the connection is reopened only when needed: a new connection costs a
// login, and it empties the prepared statements; a refusal or a lock does
// not go away by reconnecting. The replay reopens after a lost connection
// (com_errors.h: IsConnectionLost), or after a failure that names no cause
// when the connection no longer answers a probe; after a busy database it
// waits for the back-off and retries as it is. A job the database keeps
// refusing is passed over by the rule in refusal_streak.h (event 114).
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "database/com_errors.h"
#include "database/connection.h"
#include "job_accounting/job_journal.h"
#include "job_accounting/refusal_streak.h"
#include "service_core/win_owners.h"

// What the keeper needs of the service: the steps that complete a job's
// facts, the database side of a row, and the event log.
class IJobRecorder {
 public:
  virtual ~IJobRecorder() = default;
  // The job's completed facts (the key is the caller's to set). May wait on
  // the spooler; its pauses end when hStop (may be null) is set.
  virtual JOURNALED_JOB CompleteJob(const TAKEN_JOB& taken, HANDLE hStop) = 0;
  // Writes the job's row and the printer's links. bKeyed: the row commits
  // with the job's key in JOURNALKEYS; bLookUp: a job whose key is there
  // already is skipped (S_FALSE). Raises _com_error or std::bad_alloc.
  virtual HRESULT WriteJob(const JOURNALED_JOB& job, bool bKeyed, bool bLookUp) = 0;
  // The file the job named for the page counter is no longer needed.
  virtual void ReleaseJobFile(const TAKEN_JOB& taken) = 0;
  virtual ConnectionPtr RecorderConnection() = 0;
  virtual void RecorderReport(WORD wType, DWORD dwEventId, const char* s1,
                              const char* s2 = nullptr, const char* s3 = nullptr) = 0;
};

// What only tests change.
struct KEEPER_SETTINGS {
  // The limits of the pass-over rule (refusal_streak.h).
  unsigned nPassOverRefusals = kPassOverRefusals;
  DWORD dwPassOverAfterMs = kPassOverAfterMs;
  // Called after a replayed row's commit, before anything else: a seam for
  // the tests that end a replay at that moment.
  void (*pfnAfterReplayCommit)(void* pContext) = nullptr;
  void* pAfterReplayContext = nullptr;
  // Keys below the oldest job held are deleted from JOURNALKEYS after this
  // many rows.
  unsigned nPruneEvery = 256;
};

class CJobKeeper {
 public:
  // The settings are read where they are used, so they may change between
  // calls.
  CJobKeeper(IJobRecorder& recorder, std::string journalPath, uint64_t cbLimit,
             const KEEPER_SETTINGS& settings);
  // Ends the replay thread (it must have been asked to stop) and waits for it.
  ~CJobKeeper();
  CJobKeeper(const CJobKeeper&) = delete;
  CJobKeeper& operator=(const CJobKeeper&) = delete;

  // A taken job until it is settled. Durable() when the journal holds it:
  // then, and only then, may its sender be told that it was taken. A ticket
  // dropped without being settled (an exception on its way) leaves the job
  // to the replay, as taken.
  class CTicket {
   public:
    CTicket() = default;
    CTicket(CTicket&& other) noexcept;
    CTicket& operator=(CTicket&& other) noexcept;
    ~CTicket();
    bool Durable() const { return m_bDurable; }
    const TAKEN_JOB& Job() const { return m_taken; }

   private:
    friend class CJobKeeper;
    CJobKeeper* m_pKeeper = nullptr;
    TAKEN_JOB m_taken;
    bool m_bDurable = false;
  };

  // Journals the job, flushed. A job the journal cannot take (full, or the
  // file cannot be written) gets a ticket that is not durable: it is then
  // written when it is settled, if the database takes it, even behind
  // waiting jobs, and otherwise reported with its facts (event 113).
  CTicket Take(const TAKEN_JOB& job);
  // Completes and records the job (see above). Never throws; hStop (may be
  // null) is the service's stop event.
  void Settle(CTicket ticket, HANDLE hStop);

  // Writes the waiting jobs in order, until all are written, one fails, or
  // hStop (may be null) is set: it is looked at before each job. Reports
  // event 112 when an outage ends. True when no job waits afterwards.
  bool Replay(HANDLE hStop);
  // Starts the replay thread, which replays at once, then whenever a job is
  // left to it, backing off 1 s to 60 s after failures. It ends when hStop
  // is set. False when no thread could be started.
  bool StartReplaying(HANDLE hStop);
  // The replay thread, to wait for at stop (null when none runs); it ends
  // within one job of the stop.
  HANDLE ReplayThread() const { return m_hReplayThread.get(); }
  // Waits for the replay thread, which must have seen its stop, and lets go
  // of it and of its copy of the stop event; StartReplaying may follow.
  void EndReplaying();

  // Deletes from JOURNALKEYS the keys of this journal below the oldest job
  // it holds (waiting or in flight), once the journal is flushed: no replay
  // can ask for them any more. The replay thread does so at start and after
  // every KEEPER_SETTINGS::nPruneEvery rows. A failure leaves them for the
  // next time.
  void PruneKeys();

  // Jobs waiting for the replay, and taken jobs not yet settled.
  size_t Waiting();
  size_t InFlight();
  // True once no taken job is unsettled, at once or within dwMilliseconds.
  bool WaitUntilSettled(DWORD dwMilliseconds) const;
  // Signalled while no taken job is unsettled (manual-reset).
  HANDLE SettledEvent() const { return m_hSettled.get(); }
  unsigned ReplayFailures();
  const std::string& JournalPath() const { return m_journal.Path(); }

 private:
  // What a failure of a database step means for the next attempt; pError
  // is null for a failure that is no _com_error (lack of memory).
  struct FAILURE_VERDICT {
    DbFailure kind = DbFailure::Unknown;
    bool bReopen = false;    // the connection is lost, or the probe failed
    bool bRefusal = false;   // the database refused, and the probe found it sound
  };
  FAILURE_VERDICT JudgeFailure(const _com_error* pError);
  // Under m_lock: reads what an earlier run left, once.
  void LoadLocked();
  // The job is no longer in flight: its row is committed.
  void Finish(const TAKEN_JOB& taken, bool bDurable);
  // Its row is not written: its completed facts go to the journal (or it
  // stays as taken when they cannot) and to the replay.
  void KeepForReplay(const TAKEN_JOB& taken, bool bDurable, JOURNALED_JOB& facts,
                     const std::string& why, bool bReopen);
  // A ticket that went unsettled: the job waits for the replay as taken.
  void Abandon(CTicket& ticket);
  void LeaveFlight(const std::string& key, bool bDurable);
  void RemoveWaiting(const std::string& key);
  // Records a passed-over job's key in JOURNALKEYS, so that no replay tries
  // it again, and reports it with all its facts (event 114).
  void PassOver(const JOURNALED_JOB& job, const std::string& why);
  static DWORD WINAPI ReplayThreadRoutine(LPVOID pParam);

  IJobRecorder& m_recorder;
  const KEEPER_SETTINGS& m_settings;

  // Orders the journal's appends and the state below.
  std::mutex m_lock;
  CJobJournal m_journal;
  bool m_bLoaded = false;
  std::deque<JOURNAL_ENTRY> m_waiting;   // in journal order
  std::set<std::string> m_flying;        // keys of durable tickets in flight
  size_t m_nInFlight = 0;                // every ticket in flight
  bool m_bOutage = false;                // event 111 reported, 112 not yet
  bool m_bReopen = false;                // a step failed: reopen before the next replay
  unsigned m_nReplayFailures = 0;
  size_t m_nReplayWritten = 0;           // by the replays since the outage began
  unsigned m_nSincePrune = 0;            // rows written since keys were last deleted
  UniqueHandle m_hSettled;               // manual-reset, set while nothing is in flight

  // Held across each row's write, by the settling threads and the replay,
  // so that a job never overtakes one that waits before it.
  std::mutex m_writeGate;
  CRefusalStreak m_refusals;   // of the first waiting job; the replay's own

  UniqueHandle m_hKick;        // a job was left to the replay
  UniqueHandle m_hStop;        // the replay thread's copy of the stop event
  UniqueHandle m_hReplayThread;
};
