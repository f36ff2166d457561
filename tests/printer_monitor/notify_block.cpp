#include "notify_block.h"

#include <cstddef>
#include <cstring>
#include <cwchar>

CNotifyBlock& CNotifyBlock::Add(DWORD dwJob, WORD wField, const void* pData, DWORD cbData) {
  PRINTER_NOTIFY_INFO_DATA entry = {};
  entry.Type = JOB_NOTIFY_TYPE;
  entry.Field = wField;
  entry.Id = dwJob;
  if (pData) {
    m_buffers.emplace_back(static_cast<const char*>(pData), cbData);
    entry.NotifyData.Data.cbBuf = cbData;
    entry.NotifyData.Data.pBuf = &m_buffers.back()[0];
  }
  m_entries.push_back(entry);
  return *this;
}

CNotifyBlock& CNotifyBlock::Text(DWORD dwJob, WORD wField, const wchar_t* pwszText) {
  return Add(dwJob, wField, pwszText,
             pwszText ? static_cast<DWORD>((std::wcslen(pwszText) + 1) * sizeof(wchar_t)) : 0);
}

CNotifyBlock& CNotifyBlock::Bytes(DWORD dwJob, WORD wField, const std::string& bytes) {
  return Add(dwJob, wField, bytes.data(), static_cast<DWORD>(bytes.size()));
}

CNotifyBlock& CNotifyBlock::Word(DWORD dwJob, WORD wField, DWORD dwValue) {
  PRINTER_NOTIFY_INFO_DATA entry = {};
  entry.Type = JOB_NOTIFY_TYPE;
  entry.Field = wField;
  entry.Id = dwJob;
  entry.NotifyData.adwData[0] = dwValue;
  m_entries.push_back(entry);
  return *this;
}

CNotifyBlock& CNotifyBlock::DevMode(DWORD dwJob, const DEVMODEW& dm) {
  return Add(dwJob, JOB_NOTIFY_FIELD_DEVMODE, &dm, dm.dmSize);
}

CNotifyBlock& CNotifyBlock::Submitted(DWORD dwJob, const SYSTEMTIME* pUtc) {
  return Add(dwJob, JOB_NOTIFY_FIELD_SUBMITTED, pUtc, pUtc ? sizeof(*pUtc) : 0);
}

CNotifyBlock& CNotifyBlock::Discarded() {
  m_dwFlags = PRINTER_NOTIFY_INFO_DISCARDED;
  return *this;
}

PRINTER_NOTIFY_INFO* CNotifyBlock::Get() {
  size_t cb = offsetof(PRINTER_NOTIFY_INFO, aData) +
              (m_entries.empty() ? 1 : m_entries.size()) * sizeof(PRINTER_NOTIFY_INFO_DATA);
  m_block.assign(cb, 0);
  auto* pInfo = reinterpret_cast<PRINTER_NOTIFY_INFO*>(m_block.data());
  pInfo->Version = 2;
  pInfo->Flags = m_dwFlags;
  pInfo->Count = static_cast<DWORD>(m_entries.size());
  if (!m_entries.empty()) {
    std::memcpy(pInfo->aData, m_entries.data(),
                m_entries.size() * sizeof(PRINTER_NOTIFY_INFO_DATA));
  }
  return pInfo;
}
