#include "job_accounting/client_computer.h"

#include <lm.h>

#include <cstring>
#include <string>

#include "database/field_text.h"
#include "database/wide_text.h"
#include "service_core/win_owners.h"

namespace {

constexpr DWORD kPreferredBatchBytes = 2048;
constexpr DWORD kComputerNameChars = 260;

}  // namespace

bool GetClientComputer(const char* pszUserName, char (&szComputer)[kComputerBufferSize]) {
  if (!pszUserName) return false;
  char szThisMachine[kComputerNameChars + 1] = {};
  DWORD cchMachine = kComputerNameChars + 1;
  if (!GetComputerNameA(szThisMachine, &cchMachine)) szThisMachine[0] = '\0';
  std::wstring server = L"\\\\" + AnsiToWide(szThisMachine);

  DWORD dwResume = 0;
  for (;;) {
    NetApiBuffer buffer;
    DWORD dwRead = 0, dwTotal = 0;
    NET_API_STATUS status =
        NetSessionEnum(&server[0], nullptr, nullptr, 10, buffer.put(), kPreferredBatchBytes,
                       &dwRead, &dwTotal, &dwResume);
    if (status != NERR_Success && status != ERROR_MORE_DATA) return false;

    const auto* sessions = reinterpret_cast<const SESSION_INFO_10*>(buffer.get());
    for (DWORD i = 0; sessions && i < dwRead; ++i) {
      const wchar_t* pwszUser = sessions[i].sesi10_username;
      if (!pwszUser || lstrcmpiA(WideToAnsi(pwszUser).c_str(), pszUserName) != 0) continue;
      // Usually "\\" and an address or a name: stored without the
      // backslashes, as the spooler's machine name is.
      const wchar_t* pwszClient = sessions[i].sesi10_cname;
      while (pwszClient && *pwszClient == L'\\') ++pwszClient;
      const std::string client =
          CutToWidth(pwszClient ? WideToAnsi(pwszClient).c_str() : "", kComputerBufferSize - 1);
      std::memcpy(szComputer, client.c_str(), client.size() + 1);
      return true;
    }
    // A batch that says more is to come but brought nothing would repeat
    // for ever.
    if (status != ERROR_MORE_DATA || dwRead == 0) return false;
  }
}
