// Many threads resolving and registering overlapping printers, users,
// computers and pairs on the one shared connection, as the watcher, the
// per-job threads and the pipe threads do.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "database/printer_links.h"
#include "database/record_classes.h"
#include "database/recordset.h"
#include "database/registration.h"
#include "db_test_support.h"
#include "service_core/quillon_service.h"

namespace {

constexpr int kThreads = 8;
constexpr int kJobsPerThread = 60;
constexpr int kPrinters = 12;
constexpr int kUsers = 15;
constexpr int kComputers = 9;

class ConcurrencyTest : public DatabaseTest {};

struct JOB_IDS {
  int32_t printer = -1, user = -1, comp = -1;
};

// One job's worth of database work, the way the accounting does it.
std::string RunJob(CQuillonService& service, int thread, int job) {
  const std::string printer = "prn" + std::to_string((job * 7 + thread) % kPrinters);
  const std::string user = "usr" + std::to_string((job * 5 + thread * 3) % kUsers);
  const std::string comp = "pc" + std::to_string((job + thread) % kComputers);
  JOB_IDS ids;
  if (!service.mapPrinters.Find(printer.c_str(), ids.printer)) {
    HRESULT hr = RegisterPrinter(service.pConnection, service.m_registrations,
                                 printer.c_str(), ids.printer, 1);
    if (hr != 0) return "RegisterPrinter failed";
    service.mapPrinters.Store(printer.c_str(), ids.printer);
  }
  if (!service.mapUsers.Find(user.c_str(), ids.user) &&
      service.AddUser(user.c_str(), ids.user) != 1) {
    return "AddUser failed";
  }
  if (RegisterComputer(service.pConnection, service.m_registrations, comp.c_str(), ids.comp, 1) != 0) {
    return "RegisterComputer failed";
  }
  if (ids.printer <= 0 || ids.user <= 0 || ids.comp <= 0) return "an id is missing";

  PERMISSION_ENTRY rule = {ids.user, ids.printer, job % 3};
  service.SetPermission(&rule);
  PERMISSION_ENTRY found = {};
  service.GetPermission(ids.printer, ids.user, found);

  CPrnDataRecord record;
  record.lIdPrinter = ids.printer;
  record.lIdUser = ids.user;
  record.lIdComp = ids.comp;
  std::string doc = "doc-" + std::to_string(thread) + "-" + std::to_string(job);
  std::strcpy(record.szDocName, doc.c_str());
  record.lPages = thread * 1000 + job;
  PrepareForAppend(record);
  try {
    CRecordset rs;
    rs.Open("PRNDATA", service.pConnection);
    rs.AddNew(&record);
  } catch (const _com_error&) {
    return "PRNDATA append failed";
  }
  if (EnsurePrinterUser(service.pConnection, service.m_registrations, ids.printer, ids.user) != 0 ||
      EnsurePrinterComputer(service.pConnection, service.m_registrations, ids.printer, ids.comp) != 0) {
    return "link failed";
  }
  return "";
}

TEST_P(ConcurrencyTest, SharedConnectionAndCachesStayConsistent) {
  CQuillonService service;
  service.pConnection = conn;
  ASSERT_EQ(service.LoadPermissionTable(), 1);
  ASSERT_EQ(service.LoadPrinterTable(), 1);
  ASSERT_EQ(service.LoadUserTable(), 1);

  std::vector<std::string> failures(kThreads);
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ++ready;
      while (ready.load() < kThreads) std::this_thread::yield();
      for (int job = 0; job < kJobsPerThread && failures[t].empty(); ++job) {
        failures[t] = RunJob(service, t, job);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], "") << "thread " << t;

  // Every job has its row, intact.
  EXPECT_EQ(db->Count("PRNDATA"), kThreads * kJobsPerThread);
  EXPECT_EQ(db->Count("PRNDATA", "DocName <> 'doc-' || CAST(Pages / 1000 AS VARCHAR(9)) || "
                                 "'-' || CAST(Pages % 1000 AS VARCHAR(9))"),
            0);
  // Registrations run one at a time on the connection: one row per name.
  // Users are appended without a lookup; the unique key keeps them single.
  EXPECT_EQ(db->Count("PRINTERS"), kPrinters);
  EXPECT_EQ(db->Count("COMPUTERS"), kComputers);
  EXPECT_EQ(db->Count("USERS"), kUsers);
  EXPECT_EQ(db->QueryInt("SELECT COUNT(*) FROM (SELECT idPrinter, idUser FROM PRNUSERS "
                         "GROUP BY idPrinter, idUser HAVING COUNT(*) > 1) d"),
            0);
  EXPECT_EQ(db->QueryInt("SELECT COUNT(*) FROM (SELECT idPrinter, idComp FROM PRNCOMPS "
                         "GROUP BY idPrinter, idComp HAVING COUNT(*) > 1) d"),
            0);
  // Every pair a job used has its row.
  EXPECT_EQ(db->Count("PRNDATA d", "NOT EXISTS (SELECT 1 FROM PRNUSERS u WHERE "
                                   "u.idPrinter = d.idPrinter AND u.idUser = d.idUser)"),
            0);
  EXPECT_EQ(db->Count("PRNDATA d", "NOT EXISTS (SELECT 1 FROM PRNCOMPS c WHERE "
                                   "c.idPrinter = d.idPrinter AND c.idComp = d.idComp)"),
            0);

  // The caches agree with the tables.
  EXPECT_EQ(service.mapPrinters.Size(), static_cast<size_t>(kPrinters));
  for (const auto& entry : service.mapPrinters.Snapshot()) {
    EXPECT_EQ(db->Count("PRINTERS", "idPrinter = " + std::to_string(entry.second) +
                                        " AND PrnName = " + SqlText(entry.first)),
              1)
        << entry.first;
  }
  EXPECT_EQ(service.mapUsers.Size(), static_cast<size_t>(kUsers));
  for (const auto& entry : service.mapUsers.Snapshot()) {
    EXPECT_EQ(db->Count("USERS", "idUser = " + std::to_string(entry.second) +
                                     " AND UserName = " + SqlText(entry.first)),
              1)
        << entry.first;
  }
  for (int i = 0; i < kComputers; ++i) {
    std::string name = "pc" + std::to_string(i);
    int32_t cached = -1;
    ASSERT_EQ(RegisterComputer(ConnectionPtr(), service.m_registrations, name.c_str(), cached, 1), 0);
    EXPECT_EQ(db->Count("COMPUTERS", "idComp = " + std::to_string(cached) +
                                         " AND CompName = " + SqlText(name)),
              1)
        << name;
  }
}

INSTANTIATE_FOR_BOTH_DATABASES(ConcurrencyTest);

}  // namespace
