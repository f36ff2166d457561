// The page quotas of one service: what the decision asks, what the
// accounting tells, and the thread that keeps both up to date with the
// database. The service object owns one.
//
// - The decision (Judge) reads memory only, under a lock that nothing holds
//   while it waits for the database, so a quota costs a job no database
//   round trip (quota_ledger.h).
// - A row this service writes is counted at once (Recorded).
// - The refresh thread, on a connection of its own, reads QUOTAS and
//   QUOTARESETS and the rows that other servers wrote since it last looked
//   (row_ids.h says how none is missed or counted twice) every refresh
//   interval (5 s). So a quota set, removed or reset with quillonctl, on
//   this server or another, and the jobs other servers record, apply here
//   within that interval. A change of the quotas reloads the rows they
//   count, from the earliest period start in force.
// - Until the quotas have been read once (the database is down when the
//   service starts), no job is stopped by a quota.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <memory>
#include <mutex>
#include <string>

#include "calendar/local_days.h"
#include "database/connection.h"
#include "page_quota/quota_ledger.h"
#include "page_quota/row_ids.h"
#include "service_core/win_owners.h"

namespace page_quota {

struct REFRESH_SETTINGS {
  DWORD dwIntervalMs = 5000;   // between refreshes
  int64_t tGrace = 60;         // a hole in the ids is waited for this long (s)
  int64_t tRetain = 600;       // ids below the low-water mark are remembered (s)
  // A load starts the catch-up this many ids below the highest: more ids
  // than are drawn while one transaction is open.
  int32_t nLoadMargin = 10000;
};

class CPageQuotas {
 public:
  explicit CPageQuotas(const REFRESH_SETTINGS& settings = REFRESH_SETTINGS(),
                       calendar::CLocalDays days = calendar::CLocalDays());
  ~CPageQuotas();
  CPageQuotas(const CPageQuotas&) = delete;
  CPageQuotas& operator=(const CPageQuotas&) = delete;

  // The verdict on a job of the user on the printer (ids) at tNow.
  VERDICT Judge(int32_t idUser, int32_t idPrinter, const JOB_PAGES& job, int64_t tNow);
  // A PRNDATA row this service has just written. Without its id (0 or
  // less: the database did not hand it back) it is left to the catch-up.
  void Recorded(int32_t idPrnData, int32_t idUser, const USE_ROW& row, int64_t tNow);

  // One refresh on the connection: the quotas and resets, a reload when the
  // quotas changed, then the catch-up. Raises _com_error.
  void Refresh(const ConnectionPtr& connection, int64_t tNow);
  // True once the quotas have been read.
  bool Loaded();
  // Rows held in memory, and the catch-up's low-water mark (diagnostics).
  size_t Rows();
  int32_t LowWater();

  // Starts the refresh thread, which refreshes at once and then every
  // interval on a connection of its own (opened again after a failure),
  // until hStop is set or EndRefreshing is called. A thread still running
  // from before is ended first. False when no thread could be started.
  bool StartRefreshing(const std::string& connectionString, HANDLE hStop);
  // The refresh thread (null when none runs).
  HANDLE RefreshThread() const { return m_hThread.get(); }
  // Tells the refresh thread to end and waits for it: it ends within one
  // refresh. Also when the service's stop was never set (an exception left
  // the worker body).
  void EndRefreshing();

 private:
  static DWORD WINAPI RefreshThreadRoutine(LPVOID pParam);

  const REFRESH_SETTINGS m_settings;
  const calendar::CLocalDays m_days;
  std::mutex m_lock;   // the two below; never held across a database call
  std::unique_ptr<CQuotaLedger> m_pLedger;
  CRowIds m_ids;

  std::string m_connectionString;
  UniqueHandle m_hStop;     // the thread's copy of the stop event
  UniqueHandle m_hEnd;      // set by EndRefreshing
  UniqueHandle m_hThread;
};

}  // namespace page_quota
