// The winspool.drv stand-in loaded by a whole program: the probe beside it
// opens the simulated printer, is woken by a job that this test adds from
// its own process, and pauses it; this test reads the command back.
#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <string>

#include "spooler_driver.h"

namespace {

const char kProbeExe[] = "spooler_probe.exe";
const char kPrinter[] = "Sim Laser";

std::string ProbePath() {
  char full[MAX_PATH] = {};
  GetFullPathNameA(QUILLON_SPOOLER_PROBE, MAX_PATH, full, nullptr);
  return full;
}

class Process {
 public:
  explicit Process(const std::string& args) {
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    std::string cmd = "\"" + ProbePath() + "\" " + args;
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &m_pi)) {
      m_pi = {};
    }
  }
  ~Process() {
    if (!m_pi.hProcess) return;
    if (WaitForSingleObject(m_pi.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(m_pi.hProcess, 99);
    CloseHandle(m_pi.hProcess);
    CloseHandle(m_pi.hThread);
  }
  bool Started() const { return m_pi.hProcess != nullptr; }
  // The exit code, or STILL_ACTIVE when it did not end in time.
  DWORD Wait(DWORD timeoutMs) const {
    WaitForSingleObject(m_pi.hProcess, timeoutMs);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(m_pi.hProcess, &code);
    return code;
  }

 private:
  PROCESS_INFORMATION m_pi = {};
};

class SpoolerDllTest : public ::testing::Test {
 protected:
  void SetUp() override {
    spooler.Reset();
    ASSERT_TRUE(spooler.AddPrinter(kPrinter));
  }
  void TearDown() override { sim::SpoolerDriver::RemoveOverrideFor(kProbeExe); }

  sim::SpoolerDriver spooler;
};

TEST_F(SpoolerDllTest, ProgramBesideTheStandInIsDrivenFromThisProcess) {
  ASSERT_TRUE(sim::SpoolerDriver::OverrideFor(kProbeExe));
  Process probe(std::string("\"") + kPrinter + "\"");
  ASSERT_TRUE(probe.Started()) << GetLastError();
  ASSERT_TRUE(spooler.WaitUntil([](const sim::SpoolerCounts& c) { return c.openNotifications == 1; },
                                30000))
      << "the probe never armed a notification; it ended with " << probe.Wait(0);

  sim::JobFields job;
  job.user = L"alice";
  DWORD id = spooler.AddJob(kPrinter, job);
  ASSERT_TRUE(spooler.WaitForCommands(1, 30000));
  EXPECT_EQ(probe.Wait(30000), 0u);

  std::vector<sim::JobCommand> expected = {{kPrinter, id, JOB_CONTROL_PAUSE, true}};
  EXPECT_EQ(spooler.Commands(), expected);
  EXPECT_EQ(spooler.Job(id)->status, static_cast<DWORD>(JOB_STATUS_PAUSED));
  EXPECT_EQ(spooler.Counts().blocksFreed, 1u);
  EXPECT_EQ(spooler.Leaks(), "");
}

TEST_F(SpoolerDllTest, WithoutTheOverrideTheProgramGetsWinesOwnSpooler) {
  Process probe(std::string("\"") + kPrinter + "\"");
  ASSERT_TRUE(probe.Started()) << GetLastError();
  EXPECT_EQ(probe.Wait(30000), 2u) << "the probe opened a printer that only the stand-in has";
  EXPECT_EQ(spooler.Counts().openPrinters, 0);
}

}  // namespace
