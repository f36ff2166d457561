// The keeper on its own, with a recorder played by the test: what happens to
// a taken job when its completion fails on the way.
#include <windows.h>

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "job_accounting/job_keeper.h"

namespace {

class CPlayedRecorder : public IJobRecorder {
 public:
  JOURNALED_JOB CompleteJob(const TAKEN_JOB& taken, HANDLE) override {
    ++completions;
    if (bOutOfMemory) throw std::bad_alloc();
    JOURNALED_JOB facts;
    facts.document = "Doc " + std::to_string(taken.job.dwTotalPages);
    facts.lPages = static_cast<int32_t>(taken.job.dwTotalPages);
    return facts;
  }
  HRESULT WriteJob(const JOURNALED_JOB& job, bool, bool) override {
    written.push_back(job.document);
    return S_OK;
  }
  void ReleaseJobFile(const TAKEN_JOB&) override { ++released; }
  ConnectionPtr RecorderConnection() override { return ConnectionPtr(); }
  void RecorderReport(WORD, DWORD dwId, const char*, const char*, const char*) override {
    events.push_back(dwId);
  }

  bool bOutOfMemory = false;
  int completions = 0;
  int released = 0;
  std::vector<std::string> written;
  std::vector<DWORD> events;
};

TEST(JobKeeperTest, AJobWhoseCompletionFailsStaysInTheJournalAndIsNotWrittenOutOfItsTurn) {
  char szTemp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, szTemp);
  const std::string path =
      std::string(szTemp) + "quillon-keeper-" + std::to_string(GetCurrentProcessId()) + ".jnl";
  DeleteFileA(path.c_str());
  KEEPER_SETTINGS settings;
  CPlayedRecorder recorder;
  {
    CJobKeeper keeper(recorder, path, 1 << 20, settings);
    TAKEN_JOB job;
    job.job.dwTotalPages = 1;
    recorder.bOutOfMemory = true;
    keeper.Settle(keeper.Take(job), nullptr);
    EXPECT_EQ(keeper.InFlight(), 0u);
    EXPECT_EQ(keeper.Waiting(), 1u) << "the job was dropped";
    EXPECT_EQ(recorder.released, 0) << "its file went although it was not counted";
    // The next job goes behind it, not ahead.
    recorder.bOutOfMemory = false;
    job.job.dwTotalPages = 2;
    keeper.Settle(keeper.Take(job), nullptr);
    EXPECT_TRUE(recorder.written.empty()) << "a job was written ahead of one before it";
    EXPECT_EQ(keeper.Waiting(), 2u);
  }
  size_t nJobs = 0;
  ASSERT_TRUE(CountJournalRecords(path, &nJobs));
  EXPECT_EQ(nJobs, 2u) << "the journal lost a job";
  DeleteFileA(path.c_str());
}

}  // namespace
