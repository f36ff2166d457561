// A PRINTER_NOTIFY_INFO block built by hand, as the spooler would deliver
// it: job entries with ANSI texts, words, a device mode or a time.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <deque>
#include <string>
#include <vector>

class CNotifyBlock {
 public:
  // A text entry; a null text is an entry without data.
  CNotifyBlock& Text(DWORD dwJob, WORD wField, const char* pszText);
  // A text entry whose buffer holds exactly these bytes, no terminator.
  CNotifyBlock& Bytes(DWORD dwJob, WORD wField, const std::string& bytes);
  CNotifyBlock& Word(DWORD dwJob, WORD wField, DWORD dwValue);
  CNotifyBlock& DevMode(DWORD dwJob, const DEVMODEA& dm);
  CNotifyBlock& Submitted(DWORD dwJob, const SYSTEMTIME* pUtc);

  // The block; valid while this object lives and is not changed.
  PRINTER_NOTIFY_INFO* Get();

 private:
  CNotifyBlock& Add(DWORD dwJob, WORD wField, const void* pData, DWORD cbData);

  std::deque<std::string> m_buffers;   // the data the entries point at
  std::vector<PRINTER_NOTIFY_INFO_DATA> m_entries;
  std::vector<BYTE> m_block;
};
