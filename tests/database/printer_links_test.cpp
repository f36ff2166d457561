// Printer-user and printer-computer pairs: appended once, then cached.
#include <gtest/gtest.h>

#include "database/printer_links.h"
#include "db_test_support.h"

namespace {

class PrinterLinksTest : public DatabaseTest {};

TEST_P(PrinterLinksTest, APairIsAppendedOnceAndThenCached) {
  const int32_t printer = 3, user = 12;
  ASSERT_EQ(EnsurePrinterUser(conn, caches, printer, user), 0);
  EXPECT_EQ(db->Count("PRNUSERS", "idPrinter = " + std::to_string(printer) +
                                      " AND idUser = " + std::to_string(user)),
            1);
  // No connection: only the cache can answer.
  EXPECT_EQ(EnsurePrinterUser(ConnectionPtr(), caches, printer, user), 0);

  // The same user on another printer is another pair.
  ASSERT_EQ(EnsurePrinterUser(conn, caches, printer + 1, user), 0);
  EXPECT_EQ(db->Count("PRNUSERS"), 2);
  // The user table's pairs are not the computer table's.
  EXPECT_EQ(EnsurePrinterComputer(ConnectionPtr(), caches, printer, user), E_POINTER);
}

TEST_P(PrinterLinksTest, AnExistingPairIsFoundNotAppended) {
  const int32_t printer = 5, comp = 6;
  db->Exec("INSERT INTO PRNCOMPS (idPrinter, idComp) VALUES (" +
           std::to_string(printer) + ", " + std::to_string(comp) + ")");
  ASSERT_EQ(EnsurePrinterComputer(conn, caches, printer, comp), 0);
  EXPECT_EQ(db->Count("PRNCOMPS"), 1);
  EXPECT_EQ(EnsurePrinterComputer(ConnectionPtr(), caches, printer, comp), 0);
}

TEST_P(PrinterLinksTest, AnUnknownComputerIsRecordedAsMinusOne) {
  const int32_t printer = 7;
  ASSERT_EQ(EnsurePrinterComputer(conn, caches, printer, -1), 0);
  ASSERT_EQ(EnsurePrinterComputer(conn, caches, printer, -1), 0);
  EXPECT_EQ(db->Count("PRNCOMPS", "idComp = -1"), 1);
}

TEST_P(PrinterLinksTest, AFailedAppendIsNotCachedAndIsTriedAgain) {
  const int32_t printer = 8, user = 9;
  db->FailInserts("PRNUSERS");
  EXPECT_LT(EnsurePrinterUser(conn, caches, printer, user), 0);
  db->Exec(db->Kind() == Backend::SQLite ? "DROP TRIGGER fail_PRNUSERS"
                                         : "DROP TRIGGER fail_PRNUSERS ON PRNUSERS");
  ASSERT_EQ(EnsurePrinterUser(conn, caches, printer, user), 0);
  EXPECT_EQ(db->Count("PRNUSERS"), 1);
}

INSTANTIATE_FOR_BOTH_DATABASES(PrinterLinksTest);

}  // namespace
