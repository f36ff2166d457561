// The states of a queue's jobs, fed by blocks made here: the watcher's rules
// without a spooler.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "printer_monitor/queue_jobs.h"

namespace {

// What a block tells of one job, field by field.
struct Told {
  JOB_FACTS facts;
  explicit Told(DWORD dwId) : facts(NoFacts(dwId)) {}
  Told& Status(DWORD dw) {
    facts.dwStatus = dw;
    facts.dwTold |= kToldStatus;
    return *this;
  }
  Told& Bytes(DWORD dwPrinted, DWORD dwTotal) {
    facts.dwBytesPrinted = dwPrinted;
    facts.dwTotalBytes = dwTotal;
    facts.dwTold |= kToldBytesPrinted | kToldTotalBytes;
    return *this;
  }
  Told& Pages(DWORD dw) {
    facts.job.dwTotalPages = dw;
    facts.dwTold |= kToldTotalPages;
    return *this;
  }
};

NOTIFY_READING Block(std::vector<Told> jobs) {
  NOTIFY_READING reading;
  for (const Told& t : jobs) reading.jobs.push_back(t.facts);
  return reading;
}

// Records what the rule asked for, in order: "decide 5", "record 5".
class CRecorder : public IJobActions {
 public:
  std::set<DWORD> handled;   // jobs that get a command
  std::vector<std::string> calls;
  std::vector<JOB_FACTS> recorded;

  bool Decide(JOB_FACTS& job) override {
    calls.push_back("decide " + std::to_string(job.job.dwJobId));
    return handled.count(job.job.dwJobId) != 0;
  }
  void Finished(const JOB_FACTS& job) override {
    calls.push_back("record " + std::to_string(job.job.dwJobId));
    recorded.push_back(job);
  }
  std::vector<std::string> Take() {
    std::vector<std::string> taken;
    taken.swap(calls);
    return taken;
  }
};

using Calls = std::vector<std::string>;

TEST(QueueJobsTest, EveryJobOfABlockIsDealtWithInBlockOrder) {
  CQueueJobs jobs;
  CRecorder rec;
  rec.handled = {5};
  jobs.Take(Block({}), true, rec);   // the watch begins on an empty queue
  jobs.Take(Block({Told(6).Status(JOB_STATUS_SPOOLING), Told(5), Told(4).Status(JOB_STATUS_PRINTED)}),
            false, rec);
  EXPECT_EQ(rec.Take(), (Calls{"decide 6", "decide 5", "decide 4", "record 4"}));
  // The older job finishes while the newer one still spools; the handled
  // one is ignored whatever it shows.
  jobs.Take(Block({Told(6).Status(JOB_STATUS_SPOOLING), Told(5).Status(JOB_STATUS_PRINTED),
                   Told(4).Status(JOB_STATUS_PRINTED)}),
            false, rec);
  EXPECT_EQ(rec.Take(), Calls{}) << "a finished job that stays queued was recorded again";
  jobs.Take(Block({Told(6).Status(JOB_STATUS_PRINTED)}), false, rec);
  EXPECT_EQ(rec.Take(), Calls{"record 6"});
}

// What the first refresh shows finished may have been recorded by an earlier
// run of the service: it is neither decided nor recorded again.
TEST(QueueJobsTest, AJobFinishedBeforeTheWatchBeganIsNotRecordedAgain) {
  CQueueJobs jobs;
  CRecorder rec;
  jobs.Take(Block({Told(1).Status(JOB_STATUS_PRINTED), Told(2).Status(JOB_STATUS_SPOOLING)}), true,
            rec);
  EXPECT_EQ(rec.Take(), Calls{"decide 2"});
  jobs.Take(Block({Told(1).Status(JOB_STATUS_PRINTED | JOB_STATUS_DELETED),
                   Told(2).Status(JOB_STATUS_PRINTED)}),
            false, rec);
  EXPECT_EQ(rec.Take(), Calls{"record 2"});
  EXPECT_EQ(jobs.Size(), 1u);
}

TEST(QueueJobsTest, DeltasBuildUpAJobsFactsWithoutTheStatusAndBytesTrio) {
  CQueueJobs jobs;
  CRecorder rec;
  jobs.Take(Block({Told(3).Pages(4)}), false, rec);
  EXPECT_EQ(rec.Take(), Calls{"decide 3"}) << "first sight needs no status";
  jobs.Take(Block({Told(3).Bytes(0, 800)}), false, rec);
  jobs.Take(Block({Told(3).Bytes(400, 800)}), false, rec);
  EXPECT_EQ(rec.Take(), Calls{});
  // Only the bytes printed change: all of them printed finishes the job,
  // with every fact told before.
  JOB_FACTS last = NoFacts(3);
  last.dwBytesPrinted = 800;
  last.dwTold = kToldBytesPrinted;
  NOTIFY_READING reading;
  reading.jobs.push_back(last);
  jobs.Take(reading, false, rec);
  ASSERT_EQ(rec.Take(), Calls{"record 3"});
  const JOB_FACTS& recorded = rec.recorded.back();
  EXPECT_EQ(recorded.dwTotalBytes, 800u);
  EXPECT_EQ(recorded.job.dwTotalPages, 4u);
  EXPECT_EQ(recorded.dwTold, static_cast<DWORD>(kToldTotalPages | kToldBytesPrinted |
                                                kToldTotalBytes));
}

TEST(QueueJobsTest, AJobThatStillSpoolsIsNotFinished) {
  const DWORD dwSpooling = JOB_STATUS_SPOOLING;
  struct Case {
    DWORD dwStatus;
    DWORD dwPrinted, dwTotal;
    bool bFinished;
  } cases[] = {
      {JOB_STATUS_PRINTED, 0, 0, true},
      {JOB_STATUS_COMPLETE, 0, 0, true},
      {JOB_STATUS_DELETING, 0, 0, true},
      {JOB_STATUS_PRINTING, 500, 500, true},
      {JOB_STATUS_PRINTING, 0, 0, false},
      {JOB_STATUS_PRINTING, 499, 500, false},
      {dwSpooling | JOB_STATUS_PRINTED, 0, 0, false},
      {dwSpooling | JOB_STATUS_PRINTING, 500, 500, false},
  };
  for (const Case& c : cases) {
    JOB_FACTS job = NoFacts(1);
    job.dwStatus = c.dwStatus;
    job.dwBytesPrinted = c.dwPrinted;
    job.dwTotalBytes = c.dwTotal;
    EXPECT_EQ(CQueueJobs::IsFinished(job), c.bFinished)
        << "status " << c.dwStatus << ", bytes " << c.dwPrinted << " of " << c.dwTotal;
  }
}

TEST(QueueJobsTest, LeavingTheQueueFinishesAJobWhateverItsStatusAndDropsIt) {
  CQueueJobs jobs;
  CRecorder rec;
  rec.handled = {2};
  jobs.Take(Block({Told(1).Status(JOB_STATUS_SPOOLING), Told(2), Told(3), Told(4)}), false, rec);
  rec.Take();
  ASSERT_EQ(jobs.Size(), 4u);
  // Printed and gone before the next fetch: one status, with DELETED.
  jobs.Take(Block({Told(1).Status(JOB_STATUS_PRINTED | JOB_STATUS_DELETED),
                   Told(2).Status(JOB_STATUS_DELETED)}),
            false, rec);
  EXPECT_EQ(rec.Take(), Calls{"record 1"}) << "the handled job is never recorded";
  // A refresh that no longer lists a job: it is gone.
  jobs.Take(Block({Told(4)}), true, rec);
  EXPECT_EQ(rec.Take(), Calls{"record 3"});
  EXPECT_EQ(jobs.Size(), 1u);
  // A job first seen as it leaves is decided, then recorded.
  jobs.Take(Block({Told(9).Status(JOB_STATUS_DELETED)}), false, rec);
  EXPECT_EQ(rec.Take(), (Calls{"decide 9", "record 9"}));
  EXPECT_EQ(jobs.Size(), 1u);
  // Gone and seen again (a new job under a reused id): seen anew.
  jobs.Take(Block({Told(1)}), false, rec);
  EXPECT_EQ(rec.Take(), Calls{"decide 1"});
}

}  // namespace
