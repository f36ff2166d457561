-- The service's database on SQLite. Create it with:
--   sqlite3 /var/lib/quillon/quillon.db < sqlite.sql
-- The service addresses columns by position: keep the column order.
-- Ids are generated (INTEGER PRIMARY KEY is the rowid). Names and pairs
-- are unique keys, so that several services recording into one database
-- at once cannot add a printer, user, computer or pair twice; a service
-- whose append meets the key uses the row that is there. (A database
-- created without these keys works too, as the service tolerates
-- duplicate rows.)

CREATE TABLE PRINTERS (
  idPrinter INTEGER PRIMARY KEY AUTOINCREMENT,
  PrnName   VARCHAR(254) NOT NULL
);
CREATE UNIQUE INDEX UX_PRINTERS_PrnName ON PRINTERS (PrnName);

CREATE TABLE USERS (
  idUser   INTEGER PRIMARY KEY AUTOINCREMENT,
  UserName VARCHAR(254) NOT NULL
);
CREATE UNIQUE INDEX UX_USERS_UserName ON USERS (UserName);

CREATE TABLE COMPUTERS (
  idComp   INTEGER PRIMARY KEY AUTOINCREMENT,
  CompName VARCHAR(19) NOT NULL
);
CREATE UNIQUE INDEX UX_COMPUTERS_CompName ON COMPUTERS (CompName);

-- -1 in idPrinter or idUser stands for every printer or every user.
CREATE TABLE PRNPERMISSIONS (
  idPermission INTEGER PRIMARY KEY AUTOINCREMENT,
  idPrinter    INTEGER NOT NULL,
  idUser       INTEGER NOT NULL,
  Action       INTEGER NOT NULL
);

CREATE TABLE PRNUSERS (
  idPrnUser INTEGER PRIMARY KEY AUTOINCREMENT,
  idPrinter INTEGER NOT NULL,
  idUser    INTEGER NOT NULL
);
CREATE UNIQUE INDEX UX_PRNUSERS_Pair ON PRNUSERS (idPrinter, idUser);

CREATE TABLE PRNCOMPS (
  idPrnComp INTEGER PRIMARY KEY AUTOINCREMENT,
  idPrinter INTEGER NOT NULL,
  idComp    INTEGER NOT NULL
);
CREATE UNIQUE INDEX UX_PRNCOMPS_Pair ON PRNCOMPS (idPrinter, idComp);

-- One row per accounted print job. Submitted: seconds since 1970-01-01 UTC.
CREATE TABLE PRNDATA (
  idPrnData   INTEGER PRIMARY KEY AUTOINCREMENT,
  idPrinter   INTEGER NOT NULL,
  idUser      INTEGER NOT NULL,
  idComp      INTEGER NOT NULL,
  DocName     VARCHAR(254),
  Pages       INTEGER,
  JobSize     INTEGER,
  Submitted   INTEGER,
  PaperSize   SMALLINT,
  PaperLength SMALLINT,
  PaperWidth  SMALLINT,
  Color       SMALLINT,
  Duplex      SMALLINT
);
-- Reports select the jobs of a period (quillonctl report): each period, and
-- each day or month of one, is a range of this index.
CREATE INDEX IX_PRNDATA_Submitted ON PRNDATA (Submitted);

-- The keys of journaled jobs already written, each in the transaction of its
-- PRNDATA row, so that a job replayed again is recognised and not recorded
-- twice. The service creates the table when it is missing.
CREATE TABLE JOURNALKEYS (
  JournalKey VARCHAR(64) NOT NULL PRIMARY KEY
);

-- Page quotas (quillonctl quota). -1 in idUser or idPrinter stands for every
-- user or every printer. Pages: the limit; ColourOnly 1: only pages of
-- colour jobs count. Period: day, week (from Monday), month, year, none (a
-- total until reset) or a span of local days, "2026-09-01..2027-01-31".
-- Action: the job-control command for a job that does not fit (as in
-- PRNPERMISSIONS). One quota per user, printer, colour flag and period.
CREATE TABLE QUOTAS (
  idQuota    INTEGER PRIMARY KEY AUTOINCREMENT,
  idUser     INTEGER NOT NULL,
  idPrinter  INTEGER NOT NULL,
  Pages      INTEGER NOT NULL,
  ColourOnly SMALLINT NOT NULL,
  Period     VARCHAR(32) NOT NULL,
  Action     INTEGER NOT NULL
);
CREATE UNIQUE INDEX UX_QUOTAS_Key ON QUOTAS (idUser, idPrinter, ColourOnly, Period);

-- A user's use set back to nothing: only jobs submitted from ResetAt on
-- (seconds since 1970-01-01 UTC) count, on the printer or, with -1, on
-- every printer. Rows are only added; the latest counts.
CREATE TABLE QUOTARESETS (
  idReset   INTEGER PRIMARY KEY AUTOINCREMENT,
  idUser    INTEGER NOT NULL,
  idPrinter INTEGER NOT NULL,
  ResetAt   INTEGER NOT NULL
);
CREATE INDEX IX_QUOTARESETS_User ON QUOTARESETS (idUser, idPrinter);
