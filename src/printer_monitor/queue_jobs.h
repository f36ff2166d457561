// The jobs of one watched queue as the watcher knows them, fed by every entry
// of every notification block of the printer, in the order of the block.
//
// The rule, job by job:
// - First sight: the job is decided at once (a command, or let run). A job
//   that got its command is handled and ignored from then on.
// - A job let run is finished when it is no longer spooling and its status
//   shows it printed, complete or being deleted, or all of its bytes printed
//   (bytes printed equal to a total other than 0). Its removal finishes it
//   whatever its status, being the last chance to see it: a status with
//   JOB_STATUS_DELETED, or its absence from a refresh, which lists every
//   queued job.
// - A finished job is recorded once; one that stays queued afterwards (the
//   printer keeps printed documents) is not recorded again.
// - A job's state is dropped when it leaves the queue.
// - The first block after the watch began (the refresh right after arming)
//   lists what was queued before: a job that shows finished there finished
//   before the watch, and may have been recorded by an earlier run of the
//   service (a printer that keeps printed jobs keeps them for days); it is
//   taken as recorded, neither decided nor recorded again. A job not yet
//   finished there is seen for the first time like any other.
// Since a block without the refresh flag tells only what changed, the facts
// of a job are gathered over the blocks; nothing is assumed of a field that
// no block has told yet.
#pragma once

#include <windows.h>

#include <map>

#include "job_accounting/job_facts.h"
#include "printer_monitor/notify_reader.h"

// What the watcher does when the rule says so.
class IJobActions {
 public:
  virtual ~IJobActions() = default;
  // A job seen for the first time; its facts may be completed here. True
  // when the job got a command (it is ignored from now on), false when it is
  // let run.
  virtual bool Decide(JOB_FACTS& job) = 0;
  // A job let run has finished or left the queue: record it. Once per job.
  virtual void Finished(const JOB_FACTS& job) = 0;
};

class CQueueJobs {
 public:
  // Applies one block: bRefresh for a block that answered a fetch with the
  // refresh flag and was not itself flagged as discarded. The actions are
  // called in block order; on a refresh, the jobs it no longer lists come
  // last, in id order.
  void Take(const NOTIFY_READING& block, bool bRefresh, IJobActions& actions);
  // The jobs whose state is kept (those queued, as far as the blocks told).
  size_t Size() const { return m_jobs.size(); }

  static bool IsFinished(const JOB_FACTS& job);

 private:
  enum class Phase { Unseen, LetRun, Handled, Recorded };
  struct STATE {
    JOB_FACTS facts;
    Phase phase;
  };
  // Moves one job on by the rule; false when it left the queue (the caller
  // drops it).
  static bool Advance(STATE& state, bool bGone, IJobActions& actions);

  std::map<DWORD, STATE> m_jobs;
  bool m_bWatching = false;   // a first block has been taken
};
