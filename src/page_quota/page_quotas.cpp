#include "page_quota/page_quotas.h"

#include <algorithm>
#include <ctime>
#include <exception>
#include <tuple>
#include <utility>
#include <vector>

#include "database/com_errors.h"
#include "page_quota/quota_tables.h"

namespace page_quota {

namespace {

bool SameQuotas(const std::vector<QUOTA>& a, const std::vector<QUOTA>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (!SameKey(a[i], b[i]) || a[i].pages != b[i].pages || a[i].action != b[i].action) {
      return false;
    }
  }
  return true;
}

struct FRESH_ROW {
  int32_t id;
  int32_t idUser;
  USE_ROW row;
};

}  // namespace

CPageQuotas::CPageQuotas(const REFRESH_SETTINGS& settings, calendar::CLocalDays days)
    : m_settings(settings), m_days(days), m_ids(settings.tGrace, settings.tRetain) {}

CPageQuotas::~CPageQuotas() { EndRefreshing(); }

VERDICT CPageQuotas::Judge(int32_t idUser, int32_t idPrinter, const JOB_PAGES& job,
                           int64_t tNow) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (!m_pLedger) return VERDICT();
  try {
    return m_pLedger->Judge(idUser, idPrinter, job, tNow);
  } catch (const std::exception&) {
    // A local day the system cannot convert, or no memory: the job is
    // left alone, as without a quota.
    return VERDICT();
  }
}

void CPageQuotas::Recorded(int32_t idPrnData, int32_t idUser, const USE_ROW& row, int64_t tNow) {
  if (idPrnData <= 0) return;
  std::lock_guard<std::mutex> lock(m_lock);
  if (!m_pLedger || m_pLedger->Rules().Empty()) return;
  try {
    if (m_ids.Take(idPrnData, tNow)) m_pLedger->Add(idUser, row);
  } catch (const std::bad_alloc&) {
    // The catch-up reads the row again only while its id is above the mark.
  }
}

void CPageQuotas::Refresh(const ConnectionPtr& connection, int64_t tNow) {
  std::vector<QUOTA> quotas = ReadQuotas(connection);
  RESETS resets = ReadResets(connection);
  bool bReload = false;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    bReload = !m_pLedger || !SameQuotas(m_pLedger->Rules().All(), quotas);
    if (!bReload && resets != m_pLedger->Resets()) m_pLedger->SetResets(resets);
  }
  if (bReload) {
    // Built aside, from a snapshot of the rows, and swapped in: the catch-up
    // below adds what was written meanwhile.
    std::unique_ptr<CQuotaLedger> pLedger(
        new CQuotaLedger(CQuotaRules(std::move(quotas)), std::move(resets), m_days, tNow));
    CRowIds ids(m_settings.tGrace, m_settings.tRetain);
    const int32_t top = HighestRowId(connection);
    const int32_t lowWater = std::max(0, top - m_settings.nLoadMargin);
    std::vector<int32_t> counted;
    if (!pLedger->Rules().Empty()) {
      ReadRowsSince(connection, pLedger->Horizon(),
                    [&](int32_t id, int32_t idUser, const USE_ROW& row) {
                      pLedger->Add(idUser, row);
                      if (id > lowWater) counted.push_back(id);
                    });
    }
    ids.Start(lowWater, counted, tNow);
    std::lock_guard<std::mutex> lock(m_lock);
    m_pLedger = std::move(pLedger);
    m_ids = std::move(ids);
  }

  int32_t afterId = 0;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_pLedger->Rules().Empty()) return;   // nothing to count
    afterId = m_ids.LowWater();
  }
  std::vector<FRESH_ROW> fresh;
  ReadRowsAfter(connection, afterId, [&](int32_t id, int32_t idUser, const USE_ROW& row) {
    fresh.push_back({id, idUser, row});
  });
  std::lock_guard<std::mutex> lock(m_lock);
  for (const FRESH_ROW& f : fresh) {
    if (m_ids.Take(f.id, tNow)) m_pLedger->Add(f.idUser, f.row);
  }
  m_ids.Advance(tNow);
}

bool CPageQuotas::Loaded() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_pLedger != nullptr;
}

size_t CPageQuotas::Rows() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_pLedger ? m_pLedger->Rows() : 0;
}

int32_t CPageQuotas::LowWater() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_ids.LowWater();
}

bool CPageQuotas::StartRefreshing(const std::string& connectionString, HANDLE hStop) {
  EndRefreshing();
  m_connectionString = connectionString;
  HANDLE hCopy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), hStop, GetCurrentProcess(), &hCopy, SYNCHRONIZE,
                       FALSE, 0)) {
    return false;
  }
  m_hStop.reset(hCopy);
  m_hEnd.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (m_hEnd) {
    m_hThread.reset(CreateThread(nullptr, 0, RefreshThreadRoutine, this, 0, nullptr));
  }
  if (!m_hThread) {
    m_hStop.reset();
    m_hEnd.reset();
  }
  return static_cast<bool>(m_hThread);
}

void CPageQuotas::EndRefreshing() {
  if (m_hThread) {
    SetEvent(m_hEnd.get());
    WaitForSingleObject(m_hThread.get(), INFINITE);
  }
  m_hThread.reset();
  m_hStop.reset();
  m_hEnd.reset();
}

DWORD WINAPI CPageQuotas::RefreshThreadRoutine(LPVOID pParam) {
  auto* self = static_cast<CPageQuotas*>(pParam);
  const HANDLE ends[2] = {self->m_hStop.get(), self->m_hEnd.get()};
  ConnectionPtr connection;
  do {
    try {
      if (!connection) {
        HRESULT hr = connection.CreateInstance();
        if (FAILED(hr)) throw _com_error(hr);
        connection->Open(self->m_connectionString.c_str());
      }
      self->Refresh(connection, static_cast<int64_t>(std::time(nullptr)));
    } catch (const _com_error&) {
      connection.Release();   // a new connection at the next refresh
    } catch (const std::exception&) {
      // No memory, or a day the system cannot convert: the next refresh
      // tries again.
    }
  } while (WaitForMultipleObjects(2, ends, FALSE, self->m_settings.dwIntervalMs) == WAIT_TIMEOUT);
  return 0;
}

}  // namespace page_quota
