// The journal of jobs not yet recorded: a file in the service's directory
// that holds every job from the moment the service takes it until its row is
// committed, so that a kill, a crash or a power loss loses no job.
//
// A record is "QJR1", its payload's length and CRC-32 (32-bit little-endian
// each), then the payload: "Name=value" lines, values with '%', CR, LF and
// NUL written as %XX. Its "Stage" line says what it holds:
//   taken  the job as the service took it (JOB_DATA's fields, texts in
//          UTF-8, where it came from, whether its copies are known, and the
//          size when the watcher saw it finish), written and flushed before
//          any step that can wait on the database or the spooler;
//   kept   (or no Stage line, as written before stages existed) the job's
//          completed facts, by name, never by database id, so that a record
//          stays valid whatever the database assigns meanwhile; written
//          and flushed when the row could not be written;
//   done   only the key: the row is committed. Not flushed: a done record
//          lost to a crash makes the replay look the key up in JOURNALKEYS.
// Records of one job share its key; the latest of them says where the job
// stands. A record whose length or checksum does not hold (a write cut
// short by a power loss, or damage) is dropped; the reader resumes at the
// next record that holds, so damage never spoils the records around it.
//
// Keys are 48 hexadecimal digits: 16 that name this journal (a hash of the
// computer's name and the file's path, the same at every run), 16 of the
// time the journal was opened, 8 of the process, 8 of a number counted up
// from 1. So the keys of one journal sort in the order they were given
// (while the clock goes forward), in every collation, and never meet the
// keys of another journal: the service deletes the keys below the oldest
// job it still holds (database/journal_keys.h).
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "job_accounting/job_data.h"
#include "service_core/win_owners.h"

// A job's completed facts, as its row will hold them.
struct JOURNALED_JOB {
  std::string key;        // unique per job: see above
  std::string printer;
  std::string user;
  std::string computer;
  std::string document;
  int32_t lPages = 0;
  int32_t lJobSize = 0;
  int32_t lSubmitted = 0;  // seconds since 1970-01-01 UTC
  int16_t nPaperSize = 0;
  int16_t nPaperLength = 0;
  int16_t nPaperWidth = 0;
  int16_t nColor = 0;
  int16_t nDuplex = 0;
};

// Where a job to account comes from.
enum class JobOrigin {
  Client,    // a job report on the pipe: texts a client converted from ANSI
  Spooler,   // the watcher: texts the spooler gave as UTF-16
};

// A job as the service took it, before anything was asked about it.
struct TAKEN_JOB {
  std::string key;
  JOB_DATA job = {};
  JobOrigin origin = JobOrigin::Client;
  bool bCopiesKnown = true;  // job.dwCopies holds the copies (else they are asked)
  bool bSizeKnown = false;   // the watcher saw it finish with dwSize bytes
  DWORD dwSize = 0;
};

// A job of the journal whose row is not known to be written.
struct JOURNAL_ENTRY {
  std::string key;
  bool bCompleted = false;   // facts hold; otherwise only taken holds
  TAKEN_JOB taken;
  JOURNALED_JOB facts;
};

// The journal's file name in the service's directory, and its default bound.
constexpr const char kJournalFile[] = "quillon.jnl";
constexpr DWORD kDefaultJournalLimitKB = 65536;
constexpr size_t kJournalKeyChars = 48;

class CJobJournal {
 public:
  enum class Append { Written, Full, Failed };

  // cbLimit bounds the file's size; a record that would pass it is refused.
  // The file is opened at the first use and kept open until destruction.
  CJobJournal(std::string path, uint64_t cbLimit);
  CJobJournal(const CJobJournal&) = delete;
  CJobJournal& operator=(const CJobJournal&) = delete;

  // Assigns the job's key and appends it as taken, flushed to disk
  // (FlushFileBuffers) before it returns Written. Full: the bound would be
  // passed, nothing is written. Failed: the file could not be written; what
  // may have reached it is a torn record, which the reader drops.
  Append Take(TAKEN_JOB& job);
  // Appends a job's completed facts, flushed; a job without a key is given
  // one. They stand for the job in place of what was taken.
  Append Keep(JOURNALED_JOB& job);
  // Appends that the job's row is committed; not flushed.
  bool Done(const std::string& key);
  // Flushes what was appended since the last flush, and a clear; true when
  // nothing was ever written.
  bool Flush();
  // Every job whose row is not known to be written, in the order each was
  // first journaled. pcbDropped (optional) receives the bytes of damaged
  // records skipped; a damaged tail is cut off the file so that later
  // records follow the last whole one.
  std::vector<JOURNAL_ENTRY> ReadAll(uint64_t* pcbDropped = nullptr);
  // Empties the file; not flushed. Keys go on counting up.
  bool Clear();

  // The 16 digits every key of this journal begins with, and the key the
  // next job will get: every key given so far lies between the two.
  const std::string& KeyPrefix() const { return m_prefix; }
  std::string NextKey() const;
  uint64_t Size() const { return m_cbSize; }
  const std::string& Path() const { return m_path; }
  uint64_t Limit() const { return m_cbLimit; }

  // Exposed for the tests and the event texts: a record's payload and its
  // parse (false for a damaged payload).
  static std::string Encode(const JOURNALED_JOB& job);
  static std::string Encode(const TAKEN_JOB& job);
  enum class Stage { Taken, Kept, Done };
  static bool Decode(const std::string& payload, Stage* pStage, JOURNAL_ENTRY* pEntry);

 private:
  bool Open();
  Append Write(const std::string& payload, bool bFlush);
  void NewSeries();

  std::string m_path;
  uint64_t m_cbLimit;
  UniqueHandle m_file;
  uint64_t m_cbSize;
  bool m_bAtEnd = false;   // the file pointer is at m_cbSize
  std::string m_prefix;
  std::string m_series;   // the prefix, the time and the process
  uint32_t m_nNext;
};

// The number of jobs in the journal file at path whose rows are not known to
// be written (taken or kept, not done), read without changing the file and
// while the service may be appending to it. A missing file holds
// none; false when the file is there but cannot be read.
bool CountJournalRecords(const std::string& path, size_t* pnRecords);
