// quillonctl: reports print jobs and pushes job-control rules to the Tamrel
// Quillon Service through its named pipe.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "command_line.h"
#include "exit_codes.h"
#include "pipe_client.h"
#include "pipe_intake/pipe_protocol.h"
#include "report_command.h"
#include "service_core/win_owners.h"

namespace {

std::vector<std::wstring> Arguments() {
  std::vector<std::wstring> args;
  int argc = 0;
  LocalBuffer<LPWSTR> argv(CommandLineToArgvW(GetCommandLineW(), &argc));
  for (int i = 1; argv && i < argc; ++i) args.push_back(argv.get()[i]);
  return args;
}

std::wstring ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD cch = MAX_COMPUTERNAME_LENGTH + 1;
  return GetComputerNameW(name, &cch) ? std::wstring(name, cch) : std::wstring();
}

std::string SystemText(DWORD dwError) {
  LocalBuffer<char> text;
  const DWORD cch = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, dwError, 0, reinterpret_cast<char*>(text.put()), 0, nullptr);
  std::string s = cch ? std::string(text.get(), cch) : std::string("error");
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s + " (" + std::to_string(dwError) + ")";
}

int Report(const CSendResult& result, const CClientCommand& cmd, const char* pszWhat) {
  switch (result.outcome) {
    case SendOutcome::Sent:
      std::printf("%s sent to the service.\n", pszWhat);
      return kExitSent;
    case SendOutcome::NotRunning:
      std::fprintf(stderr, "quillonctl: the service is not running (no pipe %s)\n", kPipeName);
      return kExitNotRunning;
    case SendOutcome::TimedOut:
      std::fprintf(stderr,
                   "quillonctl: gave up after %lu s waiting for the service to accept the "
                   "connection\n",
                   static_cast<unsigned long>(cmd.dwTimeoutSeconds));
      return kExitTimedOut;
    case SendOutcome::NotTakenWhole:
      std::fprintf(stderr, "quillonctl: the service did not take the message whole: %s\n",
                   SystemText(result.dwError).c_str());
      return kExitNotTakenWhole;
    case SendOutcome::CannotOpen:
      std::fprintf(stderr, "quillonctl: cannot open %s: %s\n", kPipeName,
                   SystemText(result.dwError).c_str());
      return kExitCannotOpen;
  }
  return kExitCannotOpen;
}

}  // namespace

int main() {
  CJobDefaults defaults;
  defaults.computer = ComputerName();
  defaults.tNow = static_cast<int32_t>(std::time(nullptr));
  const std::vector<std::wstring> args = Arguments();
  CClientCommand cmd;
  const std::string error = ParseCommandLine(args, defaults, cmd);
  if (!error.empty()) {
    std::fprintf(stderr, "quillonctl: %s\nTry 'quillonctl --help'.\n", error.c_str());
    return kExitBadArguments;
  }
  const DWORD dwTimeoutMs = cmd.dwTimeoutSeconds * 1000;
  switch (cmd.kind) {
    case CClientCommand::Help:
      std::fputs(UsageText().c_str(), stdout);
      return kExitSent;
    case CClientCommand::Version:
      std::printf("quillonctl %s\n", kClientVersion);
      return kExitSent;
    case CClientCommand::Report: {
      CReportCommand report;
      const std::string reportError = ParseReportCommand(args, report);
      if (!reportError.empty()) {
        std::fprintf(stderr, "quillonctl: %s\nTry 'quillonctl --help'.\n", reportError.c_str());
        return kExitBadArguments;
      }
      return RunReportCommand(report);
    }
    case CClientCommand::Job:
      return Report(SendPipeMessage(kPipeName, PIPE_JOB, &cmd.job, sizeof(cmd.job), dwTimeoutMs),
                    cmd, "Job report");
    case CClientCommand::Rule:
      return Report(
          SendPipeMessage(kPipeName, PIPE_PERMISSION, &cmd.rule, sizeof(cmd.rule), dwTimeoutMs),
          cmd, "Rule");
  }
  return kExitBadArguments;
}
