#include "system_text.h"

#include "service_core/win_owners.h"
#include "text_forms.h"

std::string SystemErrorText(DWORD dwError) {
  LocalBuffer<wchar_t> text;
  const DWORD cch = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, dwError, 0, reinterpret_cast<wchar_t*>(text.put()), 0, nullptr);
  std::string s = cch ? WideToUtf8(std::wstring(text.get(), cch)) : std::string("error");
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s + " (" + std::to_string(dwError) + ")";
}
