// quillonctl: the administrator's tool of the Tamrel Quillon Service. It sets
// up the database, keeps the printer lists and the rules, shows the state,
// and reports jobs and rules to the service's pipe.
#include <windows.h>
#include <shellapi.h>

#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "command_line.h"
#include "console_output.h"
#include "service_core/win_owners.h"
#include "tool_context.h"

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

}  // namespace

int main() {
  CJobDefaults defaults;
  defaults.computer = ComputerName();
  defaults.tNow = static_cast<int32_t>(std::time(nullptr));
  std::ostringstream out, err;
  CToolStreams io{out, err};
  const int code = RunCommandLine(Arguments(), defaults, io);
  WriteText(STD_OUTPUT_HANDLE, out.str());
  WriteText(STD_ERROR_HANDLE, err.str());
  return code;
}
