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
