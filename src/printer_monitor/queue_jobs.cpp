#include "printer_monitor/queue_jobs.h"

#include <set>

bool CQueueJobs::IsFinished(const JOB_FACTS& job) {
  const DWORD dwStatus = job.dwStatus;
  if (dwStatus & JOB_STATUS_SPOOLING) return false;
  const DWORD dwDone = JOB_STATUS_PRINTED | JOB_STATUS_COMPLETE | JOB_STATUS_DELETING;
  return (dwStatus & dwDone) != 0 ||
         (job.dwBytesPrinted == job.dwTotalBytes && job.dwBytesPrinted != 0);
}

bool CQueueJobs::Advance(STATE& state, bool bGone, IJobActions& actions) {
  if (state.phase == Phase::Unseen) {
    state.phase = actions.Decide(state.facts) ? Phase::Handled : Phase::LetRun;
  }
  if (state.phase == Phase::LetRun && (bGone || IsFinished(state.facts))) {
    state.phase = Phase::Recorded;
    actions.Finished(state.facts);
  }
  return !bGone;
}

void CQueueJobs::Take(const NOTIFY_READING& block, bool bRefresh, IJobActions& actions) {
  const bool bFirst = !m_bWatching;
  m_bWatching = true;
  std::set<DWORD> listed;
  for (const JOB_FACTS& told : block.jobs) {
    const DWORD dwId = told.job.dwJobId;
    listed.insert(dwId);
    auto it = m_jobs.find(dwId);
    if (it == m_jobs.end()) it = m_jobs.emplace(dwId, STATE{NoFacts(dwId), Phase::Unseen}).first;
    MergeFacts(it->second.facts, told);
    if (bFirst && IsFinished(it->second.facts)) it->second.phase = Phase::Recorded;
    const bool bGone = (told.dwTold & kToldStatus) && (told.dwStatus & JOB_STATUS_DELETED);
    if (!Advance(it->second, bGone, actions)) m_jobs.erase(it);
  }
  if (!bRefresh) return;
  for (auto it = m_jobs.begin(); it != m_jobs.end();) {
    if (listed.count(it->first) || Advance(it->second, true, actions)) {
      ++it;
    } else {
      it = m_jobs.erase(it);
    }
  }
}
