// A PRINTER_NOTIFY_INFO block built by hand, as FindNextPrinterChangeNotification
// delivers it: job entries with UTF-16 texts (cbBuf in bytes), numbers, a
// DEVMODEW or a SYSTEMTIME.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <deque>
#include <string>
#include <vector>

class CNotifyBlock {
 public:
  // A text entry with its terminator; a null text is an entry without data.
  CNotifyBlock& Text(DWORD dwJob, WORD wField, const wchar_t* pwszText);
  // An entry whose buffer holds exactly these bytes (a text without its
  // terminator, a device mode cut short).
  CNotifyBlock& Bytes(DWORD dwJob, WORD wField, const std::string& bytes);
  CNotifyBlock& Word(DWORD dwJob, WORD wField, DWORD dwValue);
  // The device mode's first dmSize bytes.
  CNotifyBlock& DevMode(DWORD dwJob, const DEVMODEW& dm);
  CNotifyBlock& Submitted(DWORD dwJob, const SYSTEMTIME* pUtc);
  CNotifyBlock& Discarded();

  // The block; valid while this object lives and is not changed.
  PRINTER_NOTIFY_INFO* Get();

 private:
  CNotifyBlock& Add(DWORD dwJob, WORD wField, const void* pData, DWORD cbData);

  std::deque<std::string> m_buffers;   // the data the entries point at
  std::vector<PRINTER_NOTIFY_INFO_DATA> m_entries;
  std::vector<BYTE> m_block;
  DWORD m_dwFlags = 0;
};
