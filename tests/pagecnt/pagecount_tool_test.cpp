// pagecount.exe, run as an administrator runs it: its lines and exit codes.
#include "page_counter_fixture.h"

namespace {

class PageCountToolTest : public PageCounterTest {
 protected:
  struct Run {
    DWORD exit_code = 0xFFFFFFFF;
    std::string output;  // stdout and stderr together
  };

  // Runs pagecount.exe from beside this test with `arguments`.
  Run PageCount(const std::string& arguments) {
    Run run;
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string path = program;
    path = path.substr(0, path.find_last_of('\\') + 1) + "pagecount.exe";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return run;
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end;
    startup.hStdError = write_end;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    std::string command = "\"" + path + "\" " + arguments;
    BOOL started = CreateProcessA(path.c_str(), &command[0], nullptr, nullptr, TRUE, 0,
                                  nullptr, nullptr, &startup, &process);
    CloseHandle(write_end);
    if (started) {
      char buffer[4096];
      DWORD got = 0;
      while (ReadFile(read_end, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        run.output.append(buffer, got);
      }
      WaitForSingleObject(process.hProcess, INFINITE);
      GetExitCodeProcess(process.hProcess, &run.exit_code);
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    }
    CloseHandle(read_end);
    return run;
  }
};

TEST_F(PageCountToolTest, PrintsLanguagePagesCopiesAndPaperPerFile) {
  std::string pcl = WriteFile("job.prn", "\x1b" "E\x1b&l26a2Xpage one\fpage two\f\x1b" "E");
  std::string text = WriteFile("notes.txt", "a page of text\r\n");
  Run run = PageCount("\"" + pcl + "\" \"" + text + "\"");
  EXPECT_EQ(run.exit_code, 0u) << run.output;
  EXPECT_NE(run.output.find("job.prn: format PCL 5; pages 2; copies 2; paper 9 (A4)"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("notes.txt: format text; pages 1; copies -; paper 0"),
            std::string::npos)
      << run.output;
}

TEST_F(PageCountToolTest, FilesItCannotOpenOrCountGiveANonZeroExit) {
  Run missing = PageCount("\"" + WriteFile("present.txt", "text\n") + "\" no-such-file.prn");
  EXPECT_EQ(missing.exit_code, 2u) << missing.output;
  EXPECT_NE(missing.output.find("cannot open no-such-file.prn: "), std::string::npos)
      << missing.output;
  Run binary = PageCount("\"" + WriteFile("data.bin", std::string("\x01\x02\x03", 3)) + "\"");
  EXPECT_EQ(binary.exit_code, 1u) << binary.output;
  EXPECT_NE(binary.output.find("format not recognised; pages 0"), std::string::npos)
      << binary.output;
  Run help = PageCount("--help");
  EXPECT_EQ(help.exit_code, 0u);
  EXPECT_NE(help.output.find("Usage: pagecount FILE..."), std::string::npos) << help.output;
  EXPECT_EQ(PageCount("").exit_code, 2u);
}

}  // namespace
